#include "platform/codecs/Bounds.h"

#include "platform/base/Errors.h"

#include <algorithm>
#include <string>

namespace pictolune {

namespace {

constexpr qint64 kLargeDecodeBytes = qint64(64) << 20;
constexpr qint64 kMostBytesPerFileByte = 16384;

std::string sizeText(QSize size) {
    return std::to_string(size.width()) + " x " + std::to_string(size.height());
}

} // namespace

QSize decodeSize(QSize own, const DrawSizeChooser& drawSize) {
    if (!drawSize)
        return own;
    const QSize wanted = drawSize(own);
    if (wanted.width() < 0 || wanted.height() < 0)
        return own;
    return {std::clamp(wanted.width(), 1, own.width()),
            std::clamp(wanted.height(), 1, own.height())};
}

void checkMemoryBound(QSize own, QSize decoded, int bitsPerPixel) {
    // Two ints multiply safely in 64 bits; times the bytes per pixel they
    // may not, so the bound is divided instead.
    const qint64 pixels = qint64(decoded.width()) * decoded.height();
    const qint64 bytesPerPixel = std::max(32, bitsPerPixel) / 8;
    if (pixels > kMaxPictureBytes / bytesPerPixel) {
        throw LoadError("picture of " + sizeText(own) + " pixels passes the " +
                        std::to_string(kMaxPictureMegabytes) + " MB memory bound" +
                        (decoded != own ? " even decoded at " + sizeText(decoded) : std::string()));
    }
}

void checkDecodedSize(QSize own, QSize decoded, int bitsPerPixel, qint64 fileSize) {
    checkMemoryBound(own, decoded, bitsPerPixel);
    const qint64 pixels = qint64(decoded.width()) * decoded.height();
    const qint64 bytesPerPixel = std::max(32, bitsPerPixel) / 8;
    if (pixels * bytesPerPixel > kLargeDecodeBytes &&
        pixels * bytesPerPixel / kMostBytesPerFileByte > fileSize) {
        throw LoadError("a file of " + std::to_string(fileSize) + " bytes claims a picture of " +
                        sizeText(own) + " pixels");
    }
}

void checkCancelled(const SourceFile& file) {
    if (file.cancelled && file.cancelled())
        throw LoadError("cancelled");
}

QImage drawable(QImage image) {
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return image;
    default:
        return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                             : QImage::Format_RGB32);
    }
}

} // namespace pictolune
