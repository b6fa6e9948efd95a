#include "platform/loading/PixelCheck.h"

#include <QImage>

#include <fcntl.h>

namespace pictolune {

std::optional<std::string> refusedPixels(const decoder::Pixels& pixels, QSize asked,
                                         const MemfdFacts& memfd) {
    if (pixels.width != asked.width() || pixels.height != asked.height())
        return "gave pixels of another size than asked";
    if (pixels.format != QImage::Format_RGB32 &&
        pixels.format != QImage::Format_ARGB32_Premultiplied)
        return "gave pixels in an unknown format";
    if (std::int64_t(pixels.bytesPerLine) != std::int64_t(pixels.width) * 4)
        return "gave rows of the wrong length";
    const auto needed = std::uint64_t(pixels.bytesPerLine) * std::uint64_t(pixels.height);
    if (needed > decoder::kMostPixelBytes)
        return "gave more pixels than a picture may have";
    if (!memfd.regular || memfd.bytes < 0 ||
        !decoder::bufferServes(std::uint64_t(memfd.bytes), needed))
        return "gave memory of another size than its pixels need";
    constexpr int kSealed = F_SEAL_SHRINK | F_SEAL_GROW;
    if ((memfd.seals & kSealed) != kSealed)
        return "gave memory that is not sealed";
    return std::nullopt;
}

} // namespace pictolune
