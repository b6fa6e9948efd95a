#pragma once

#include <optional>

// The memory of this test process, as the kernel counts it.
namespace pictolune::testing {

// Resident memory of this process now, in KiB.
long residentKb();

// The peak of resident memory since construction, as growth over what was
// resident then. Resets the kernel's high-water mark where it may; else
// nullopt.
class PeakGrowth {
public:
    PeakGrowth();
    std::optional<long> kb() const;

private:
    std::optional<long> start_;
};

} // namespace pictolune::testing
