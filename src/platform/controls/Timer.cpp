#include "platform/controls/Timer.h"

#include "platform/base/Errors.h"

#include <algorithm>

namespace pictolune {

Timer::Timer(QObject* parent) : QObject(parent) {
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (handler_)
            handler_();
    });
}

void Timer::setEnabled(bool enabled) {
    enabled_ = enabled;
    apply();
}

void Timer::setInterval(long long milliseconds) {
    if (milliseconds < 0 || milliseconds > 65535)
        throw InvalidPropertyValueError();
    interval_ = static_cast<int>(milliseconds);
    apply();
}

void Timer::setShortestPeriod(int milliseconds) {
    shortestPeriod_ = std::max(0, milliseconds);
    apply();
}

void Timer::apply() {
    if (!enabled_ || interval_ == 0) {
        timer_.stop();
        return;
    }
    const int period = std::max(interval_, shortestPeriod_);
    // Re-arming restarts the count, as a changed interval should.
    timer_.start(period);
}

} // namespace pictolune
