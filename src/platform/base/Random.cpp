#include "platform/base/Random.h"

#include <chrono>

namespace pictolune {

void RandomSource::seedFromClock() {
    seed(static_cast<std::uint64_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count()));
}

void RandomSource::seed(std::uint64_t value) {
    engine_.seed(value);
    next_ = generate();
}

float RandomSource::draw() {
    const float r = next_;
    next_ = generate();
    return r;
}

float RandomSource::generate() {
    // 24 random bits fill a float's mantissa exactly, so r never rounds up to 1.
    return static_cast<float>(engine_() >> 40) * 0x1.0p-24f;
}

} // namespace pictolune
