#pragma once

#include <cstdint>
#include <random>

namespace pictolune {

// The program's one source of random numbers: seeded once, then draws of a
// single-precision r with 0 <= r < 1. It draws one ahead, so that the next
// draw can be known (to decode its picture ahead) without changing the
// sequence of draws.
class RandomSource {
public:
    void seedFromClock();
    void seed(std::uint64_t value);
    float draw();
    // What the next draw() will return.
    float peek() const { return next_; }

private:
    float generate();

    std::mt19937_64 engine_{0};
    float next_ = generate();
};

} // namespace pictolune
