#pragma once

#include <cstdint>
#include <random>

namespace pictolune {

// The program's one source of random numbers: seeded once, then draws of a
// single-precision r with 0 <= r < 1.
class RandomSource {
public:
    void seedFromClock();
    void seed(std::uint64_t value) { engine_.seed(value); }
    float draw();

private:
    std::mt19937_64 engine_{0};
};

} // namespace pictolune
