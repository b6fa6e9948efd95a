#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

namespace pictolune {

// A timer with an Enabled switch and an Interval in milliseconds from 0 to
// 65535. It ticks only while enabled with a non-zero interval: a Qt timer of
// interval 0 would fire on every pass of the event loop.
class Timer : public QObject {
    Q_OBJECT
public:
    explicit Timer(QObject* parent = nullptr);

    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled);

    int interval() const { return interval_; }
    // Raises InvalidPropertyValueError outside 0..65535.
    void setInterval(long long milliseconds);

    // Ticks may come more slowly than Interval asks: never faster than this
    // many milliseconds apart. An animation uses it to turn a 1 ms request
    // into a pace the eye can follow.
    void setShortestPeriod(int milliseconds);

    void onTick(std::function<void()> handler) { handler_ = std::move(handler); }

private:
    void apply();

    QTimer timer_;
    std::function<void()> handler_;
    bool enabled_ = false;
    int interval_ = 0;
    int shortestPeriod_ = 0;
};

} // namespace pictolune
