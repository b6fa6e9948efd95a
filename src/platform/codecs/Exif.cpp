#include "platform/codecs/Exif.h"

#include <cstring>

namespace pictolune {

namespace {

constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::uint16_t kShortType = 3;
constexpr std::size_t kExifHeaderBytes = 6; // "Exif\0\0"
constexpr std::size_t kEntryBytes = 12;

class TiffReader {
public:
    TiffReader(const std::uint8_t* data, std::size_t size, bool bigEndian)
        : data_(data), size_(size), bigEndian_(bigEndian) {}

    bool has(std::size_t offset, std::size_t count) const {
        return offset <= size_ && count <= size_ - offset;
    }
    std::uint16_t u16(std::size_t offset) const {
        const std::uint8_t* p = data_ + offset;
        return bigEndian_ ? std::uint16_t(p[0] << 8 | p[1]) : std::uint16_t(p[1] << 8 | p[0]);
    }
    std::uint32_t u32(std::size_t offset) const {
        return bigEndian_ ? std::uint32_t(u16(offset)) << 16 | u16(offset + 2)
                          : std::uint32_t(u16(offset + 2)) << 16 | u16(offset);
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    bool bigEndian_;
};

} // namespace

QImageIOHandler::Transformations orientationTurn(unsigned value) {
    using T = QImageIOHandler;
    switch (value) {
    case 2:
        return T::TransformationMirror;
    case 3:
        return T::TransformationRotate180;
    case 4:
        return T::TransformationFlip;
    case 5:
        return T::TransformationFlipAndRotate90;
    case 6:
        return T::TransformationRotate90;
    case 7:
        return T::TransformationMirrorAndRotate90;
    case 8:
        return T::TransformationRotate270;
    default:
        return T::TransformationNone;
    }
}

QImageIOHandler::Transformations exifOrientation(const std::uint8_t* data, std::size_t size) {
    if (size < kExifHeaderBytes + 8 || std::memcmp(data, "Exif\0\0", kExifHeaderBytes) != 0)
        return QImageIOHandler::TransformationNone;
    const std::uint8_t* tiff = data + kExifHeaderBytes;
    const std::size_t tiffSize = size - kExifHeaderBytes;
    bool bigEndian = false;
    if (std::memcmp(tiff, "MM\0*", 4) == 0)
        bigEndian = true;
    else if (std::memcmp(tiff, "II*\0", 4) != 0)
        return QImageIOHandler::TransformationNone;
    const TiffReader reader(tiff, tiffSize, bigEndian);
    const std::size_t ifd = reader.u32(4);
    if (!reader.has(ifd, 2))
        return QImageIOHandler::TransformationNone;
    const std::size_t entries = reader.u16(ifd);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t entry = ifd + 2 + i * kEntryBytes;
        if (!reader.has(entry, kEntryBytes))
            break;
        if (reader.u16(entry) == kOrientationTag && reader.u16(entry + 2) == kShortType &&
            reader.u32(entry + 4) == 1) {
            return orientationTurn(reader.u16(entry + 8));
        }
    }
    return QImageIOHandler::TransformationNone;
}

} // namespace pictolune
