#include "support/ProcessMemory.h"

#include <fstream>
#include <string>

namespace pictolune::testing {

namespace {

std::optional<long> statusKb(const std::string& key) {
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word) {
        if (word == key) {
            long kb = 0;
            status >> kb;
            return kb;
        }
    }
    return std::nullopt;
}

} // namespace

long residentKb() {
    return statusKb("VmRSS:").value_or(0);
}

PeakGrowth::PeakGrowth() {
    std::ofstream reset("/proc/self/clear_refs");
    reset << "5";
    reset.flush();
    if (reset.good())
        start_ = statusKb("VmHWM:");
}

std::optional<long> PeakGrowth::kb() const {
    const auto peak = statusKb("VmHWM:");
    if (!start_ || !peak)
        return std::nullopt;
    return *peak - *start_;
}

} // namespace pictolune::testing
