#include "platform/loading/Budget.h"

#include "platform/loading/Tunables.h"

#include <algorithm>
#include <cstdio>

namespace pictolune {

namespace {

using tunables::Duration;

Budget bounded(Duration time) {
    const Duration processor = std::min(time, tunables::kMostBudget);
    return {processor, std::max(tunables::kLeastCeiling, processor * tunables::kCeilingPerBudget)};
}

// `count` millions of `cost` each, without overflow: counts are bounded by
// what 64 bits hold, the result by the most any budget may be.
Duration perMillion(std::uint64_t count, Duration cost) {
    const std::uint64_t millions = count / 1'000'000;
    const auto most = std::uint64_t(tunables::kMostBudget / cost) + 1;
    return cost * std::int64_t(std::min(millions, most));
}

} // namespace

Budget Budget::forHeader(qint64 fileBytes) {
    return bounded(tunables::kHeaderBudget +
                   perMillion(std::uint64_t(std::max<qint64>(fileBytes, 0)),
                              tunables::kHeaderBudgetPerMegabyte));
}

Budget Budget::forPixels(std::uint64_t claimedWork, QSize drawn) {
    const auto drawnPixels =
        std::uint64_t(std::max(drawn.width(), 0)) * std::uint64_t(std::max(drawn.height(), 0));
    return bounded(tunables::kPixelBudget +
                   perMillion(claimedWork, tunables::kPixelBudgetPerMegapass) +
                   perMillion(drawnPixels, tunables::kPixelBudgetPerDrawnMegapixel));
}

std::string secondsText(std::chrono::nanoseconds time) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(time).count());
    return text;
}

} // namespace pictolune
