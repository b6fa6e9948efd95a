#include "platform/codecs/Bmp.h"

#include "platform/base/Errors.h"
#include "platform/codecs/Bounds.h"
#include "platform/codecs/EmbeddedProfile.h"
#include "platform/codecs/FileBytes.h"
#include "platform/codecs/Finish.h"

#include <QImage>

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace pictolune {

namespace {

constexpr qint64 kFileHeaderBytes = 14;
constexpr std::uint32_t kCoreHeaderBytes = 12; // OS/2 1.x
constexpr std::uint32_t kInfoHeaderBytes = 40;
constexpr std::uint32_t kV5HeaderBytes = 124;
// Larger headers may come; what is past the V5 fields is skipped.
constexpr std::uint32_t kMaxHeaderBytes = 4096;
constexpr std::uint32_t kEmbeddedProfile = 0x4d424544; // 'MBED'
// Asking whether the picture is still wanted every so many pixels answers
// within a millisecond.
constexpr qint64 kPixelsPerCancelCheck = qint64(1) << 18;
constexpr QRgb kBlack = 0xff000000;

enum Compression : std::uint32_t {
    Rgb = 0,
    Rle8 = 1,
    Rle4 = 2,
    BitFields = 3, // OS/2 2.x: Huffman 1D
    Jpeg = 4,      // OS/2 2.x: RLE24
    Png = 5,
    AlphaBitFields = 6,
};

// One channel of a pixel, described by its bit mask, brought to 0..255 with
// rounding, so that every width expands evenly: 5 bits to 0, 8, ... 255.
class Channel {
public:
    explicit Channel(std::uint32_t mask)
        : mask_(mask), shift_(mask ? std::countr_zero(mask) : 0), max_(mask >> shift_) {
        if (max_ > 0 && max_ <= 0xffff) {
            table_.resize(max_ + 1);
            for (std::uint32_t v = 0; v <= max_; ++v)
                table_[v] = uchar(expand(v));
        }
    }
    bool present() const { return max_ > 0; }
    int value(std::uint32_t pixel) const {
        const std::uint32_t v = (pixel & mask_) >> shift_;
        return table_.empty() ? (max_ ? expand(v) : 0) : table_[v];
    }

private:
    int expand(std::uint32_t v) const { return int((std::uint64_t(v) * 255 + max_ / 2) / max_); }
    std::uint32_t mask_ = 0;
    int shift_ = 0;
    std::uint32_t max_ = 0;
    std::vector<uchar> table_;
};

struct Header {
    std::int64_t width = 0;
    std::int64_t height = 0; // negative: stored top down
    int bits = 0;
    std::uint32_t compression = Rgb;
    bool rle24 = false;
    std::array<std::uint32_t, 4> masks{}; // red, green, blue, alpha
    std::vector<QRgb> palette;            // 1 << bits entries, black past the file's
    qint64 pixelOffset = 0;
    QByteArray profile;
};

// Little-endian fields of the headers; a field the bytes do not reach is 0,
// as OS/2 2.x headers leave off the fields they do not need.
class Fields {
public:
    explicit Fields(QByteArray bytes) : bytes_(std::move(bytes)) {}
    std::uint32_t u16(qsizetype at) const {
        return at + 2 <= bytes_.size() ? byte(at) | byte(at + 1) << 8 : 0;
    }
    std::uint32_t u32(qsizetype at) const {
        return at + 4 <= bytes_.size() ? u16(at) | u16(at + 2) << 16 : 0;
    }
    std::int32_t i32(qsizetype at) const { return std::int32_t(u32(at)); }
    qsizetype size() const { return bytes_.size(); }

private:
    std::uint32_t byte(qsizetype at) const { return uchar(bytes_[at]); }
    QByteArray bytes_;
};

std::string number(std::int64_t n) {
    return std::to_string(n);
}

std::vector<QRgb> readPalette(const SourceFile& file, qint64 at, std::uint32_t entries,
                              int entryBytes, int bits) {
    std::vector<QRgb> palette(std::size_t(1) << bits, kBlack);
    const QByteArray bytes = readAt(file.fd, at, qint64(entries) * entryBytes);
    const auto stored = std::uint32_t(bytes.size() / entryBytes);
    for (std::uint32_t i = 0; i < stored; ++i) {
        const auto* entry =
            reinterpret_cast<const uchar*>(bytes.constData()) + std::size_t(i) * entryBytes;
        palette[i] = qRgb(entry[2], entry[1], entry[0]);
    }
    return palette;
}

QByteArray embeddedProfile(const SourceFile& file, const Fields& info) {
    if (info.size() < kFileHeaderBytes + kV5HeaderBytes || info.u32(70) != kEmbeddedProfile)
        return {};
    // Its place counts from the start of the V5 header.
    const qint64 at = kFileHeaderBytes + qint64(info.u32(126));
    const qint64 size = info.u32(130);
    if (size <= 0 || size > kMaxIccProfileBytes)
        return {};
    return checkedIccProfile(readAt(file.fd, at, size));
}

Header readHeader(const SourceFile& file) {
    const Fields start(readAt(file.fd, 0, kFileHeaderBytes + 4));
    if (start.size() < kFileHeaderBytes + 4)
        throw LoadError("the BMP header is cut short");
    const std::uint32_t headerBytes = start.u32(kFileHeaderBytes);
    if (headerBytes < kCoreHeaderBytes || headerBytes > kMaxHeaderBytes ||
        (headerBytes > kCoreHeaderBytes && headerBytes < 16))
        throw LoadError("a BMP header of " + number(headerBytes) + " bytes is none known");
    const qint64 infoEnd = kFileHeaderBytes + std::min(headerBytes, kV5HeaderBytes);
    const Fields info(readAt(file.fd, 0, infoEnd));
    if (info.size() < infoEnd)
        throw LoadError("the BMP header is cut short");

    Header header;
    const bool core = headerBytes == kCoreHeaderBytes;
    // Windows' headers have 40, 52, 56, 108 or 124 bytes; OS/2 2.x's
    // anything from 16 to 64, and its compressions 3 and 4 differ.
    const bool os2 = core || (headerBytes <= 64 && headerBytes != kInfoHeaderBytes &&
                              headerBytes != 52 && headerBytes != 56);
    if (core) {
        header.width = info.u16(18);
        header.height = info.u16(20);
        header.bits = int(info.u16(24));
    } else {
        header.width = info.i32(18);
        header.height = info.i32(22);
        header.bits = int(info.u16(28));
        header.compression = info.u32(30);
    }
    if (header.width <= 0 || header.height == 0 || header.height == INT_MIN)
        throw LoadError("a BMP of " + number(header.width) + " x " + number(header.height) +
                        " pixels");
    const int bits = header.bits;
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        throw LoadError("BMP pixels of " + number(bits) + " bits are not supported");

    std::uint32_t c = header.compression;
    if (os2 && c == BitFields)
        throw LoadError("Huffman-coded BMP pixels are not supported");
    header.rle24 = os2 && c == Jpeg;
    if (c == Jpeg && !header.rle24)
        throw LoadError("a BMP holding a JPEG picture is not supported");
    if (c == Png)
        throw LoadError("a BMP holding a PNG picture is not supported");
    if (c > AlphaBitFields)
        throw LoadError("BMP compression " + number(c) + " is not supported");
    const bool masked = c == BitFields || c == AlphaBitFields;
    if ((c == Rle8 && bits != 8) || (c == Rle4 && bits != 4) || (header.rle24 && bits != 24) ||
        (masked && bits != 16 && bits != 32))
        throw LoadError("BMP compression " + number(c) + " does not go with " + number(bits) +
                        " bits");

    qint64 paletteAt = kFileHeaderBytes + headerBytes;
    if (masked) {
        // In the header from 52 bytes on (alpha from 56), or after a
        // 40-byte one; fields the header does not reach are 0.
        const bool after = headerBytes == kInfoHeaderBytes;
        const qsizetype maskBytes = after ? (c == AlphaBitFields ? 16 : 12) : 0;
        const qsizetype at = after ? 0 : kFileHeaderBytes + kInfoHeaderBytes;
        const Fields masks = after ? Fields(readAt(file.fd, infoEnd, maskBytes)) : info;
        header.masks = {masks.u32(at), masks.u32(at + 4), masks.u32(at + 8), masks.u32(at + 12)};
        paletteAt += maskBytes;
    }
    if (!masked || (header.masks[0] | header.masks[1] | header.masks[2]) == 0) {
        header.masks = bits == 16 ? std::array<std::uint32_t, 4>{0x7c00, 0x03e0, 0x001f, 0}
                                  : std::array<std::uint32_t, 4>{0xff0000, 0xff00, 0xff, 0};
    }

    const int entryBytes = core ? 3 : 4;
    const std::uint32_t used = core ? 0 : info.u32(46);
    std::uint32_t entries = bits <= 8 ? (used ? used : 1U << bits) : used;
    // The pixels start where the file header says; a palette longer than
    // the bits can index, or shorter than they could, still ends there.
    const qint64 declared = info.u32(10);
    const bool placed = declared >= paletteAt && declared < file.size;
    if (placed)
        entries = std::uint32_t(std::min<qint64>(entries, (declared - paletteAt) / entryBytes));
    header.pixelOffset = placed ? declared : paletteAt + qint64(entries) * entryBytes;
    if (bits <= 8)
        header.palette =
            readPalette(file, paletteAt, std::min(entries, 1U << bits), entryBytes, bits);
    if (headerBytes >= kV5HeaderBytes)
        header.profile = embeddedProfile(file, info);
    return header;
}

// Rows as stored, each padded to four bytes.
class RowDecoder {
public:
    explicit RowDecoder(const Header& header)
        : header_(header), red_(header.masks[0]), green_(header.masks[1]), blue_(header.masks[2]),
          alpha_(header.masks[3]) {}

    bool hasAlpha() const { return alpha_.present(); }

    void decode(const uchar* in, QRgb* out, int width) const {
        switch (header_.bits) {
        case 8:
            for (int x = 0; x < width; ++x)
                out[x] = header_.palette[in[x]];
            return;
        case 24:
            for (int x = 0; x < width; ++x, in += 3)
                out[x] = kBlack | QRgb(in[2]) << 16 | QRgb(in[1]) << 8 | in[0];
            return;
        case 16:
            for (int x = 0; x < width; ++x, in += 2)
                out[x] = colour(std::uint32_t(in[0] | in[1] << 8));
            return;
        case 32:
            for (int x = 0; x < width; ++x, in += 4)
                out[x] = colour(std::uint32_t(in[0] | in[1] << 8 | in[2] << 16) |
                                std::uint32_t(in[3]) << 24);
            return;
        default: {
            // 1, 2 or 4 bits, the leftmost pixel in the highest bits.
            const int bits = header_.bits;
            const int perByte = 8 / bits;
            const unsigned mask = (1U << bits) - 1;
            for (int x = 0; x < width; ++x) {
                const int shift = 8 - bits * (x % perByte + 1);
                out[x] = header_.palette[(in[x / perByte] >> shift) & mask];
            }
        }
        }
    }

private:
    QRgb colour(std::uint32_t pixel) const {
        const QRgb rgb = qRgb(red_.value(pixel), green_.value(pixel), blue_.value(pixel));
        return alpha_.present()
                   ? qPremultiply(qRgba(qRed(rgb), qGreen(rgb), qBlue(rgb), alpha_.value(pixel)))
                   : rgb;
    }

    const Header& header_;
    Channel red_, green_, blue_, alpha_;
};

// The picture row `y` as stored, counted from the first stored row.
QRgb* storedRow(QImage& image, const Header& header, std::int64_t y) {
    const int h = image.height();
    return reinterpret_cast<QRgb*>(image.scanLine(header.height > 0 ? h - 1 - int(y) : int(y)));
}

void decodeRows(const SourceFile& file, const Header& header, QImage& image) {
    const RowDecoder decoder(header);
    const int w = image.width();
    const int h = image.height();
    const auto stride = std::size_t((header.width * header.bits + 31) / 32 * 4);
    FileBytes bytes(file.fd, header.pixelOffset);
    std::vector<uchar> partial;
    const int rowsPerCheck = int(std::max<qint64>(1, kPixelsPerCancelCheck / w));
    int y = 0;
    for (; y < h; ++y) {
        if (y % rowsPerCheck == 0)
            checkCancelled(file);
        std::span<const uchar> row = bytes.take(stride);
        if (row.empty())
            break;
        if (row.size() < stride) {
            // The last row that arrived, in part: its missing pixels black.
            partial.assign(stride, 0);
            std::memcpy(partial.data(), row.data(), row.size());
            const int whole = int(row.size() * 8 / std::size_t(header.bits));
            QRgb* out = storedRow(image, header, y);
            decoder.decode(partial.data(), out, w);
            std::fill(out + std::min(whole, w), out + w, kBlack);
            ++y;
            break;
        }
        decoder.decode(row.data(), storedRow(image, header, y), w);
    }
    if (y == 0)
        throw LoadError("the BMP holds no pixels");
    for (; y < h; ++y) {
        QRgb* out = storedRow(image, header, y);
        std::fill(out, out + w, kBlack);
    }
}

// Run-length data: pixels no run reaches stay transparent. Answers how many
// pixels the runs set.
qint64 decodeRuns(const SourceFile& file, const Header& header, QImage& image) {
    const int w = image.width();
    const int h = image.height();
    FileBytes bytes(file.fd, header.pixelOffset);
    const bool four = header.compression == Rle4;
    std::int64_t x = 0;
    std::int64_t y = 0;
    qint64 set = 0;
    qint64 sinceCheck = 0;
    QRgb* row = storedRow(image, header, 0);
    const auto put = [&](QRgb colour) {
        if (x < w) {
            row[x] = colour;
            ++set;
        }
        ++x;
    };
    const auto pixel = [&](int index) {
        if (!header.rle24)
            return header.palette[std::size_t(index)];
        const int green = bytes.next();
        const int red = bytes.next();
        return qRgb(std::max(red, 0), std::max(green, 0), index);
    };
    const auto nextRow = [&](std::int64_t rows) {
        y += rows;
        sinceCheck += rows * w;
        if (y < h)
            row = storedRow(image, header, y);
    };
    while (y < h) {
        // Every instruction counts, so that a file of instructions that
        // set nothing is watched too.
        if (++sinceCheck >= kPixelsPerCancelCheck) {
            sinceCheck = 0;
            checkCancelled(file);
        }
        const int count = bytes.next();
        const int value = bytes.next();
        if (value < 0)
            break;
        if (count > 0) {
            sinceCheck += count;
            if (four) {
                for (int i = 0; i < count && x < w; ++i)
                    put(header.palette[std::size_t(i % 2 ? value & 15 : value >> 4)]);
            } else {
                const QRgb colour = pixel(value);
                for (int i = 0; i < count && x < w; ++i)
                    put(colour);
            }
            continue;
        }
        if (value == 0) { // end of line
            x = 0;
            nextRow(1);
        } else if (value == 1) { // end of bitmap
            break;
        } else if (value == 2) { // move right and up
            const int right = bytes.next();
            const int up = bytes.next();
            if (up < 0)
                break;
            x += right;
            if (up > 0)
                nextRow(up);
        } else { // `value` pixels as they are, padded to a whole word
            const int stored = four ? (value + 1) / 2 : header.rle24 ? value * 3 : value;
            sinceCheck += value;
            std::span<const uchar> run = bytes.take(std::size_t(stored) + std::size_t(stored % 2));
            const int arrived = std::min<int>(stored, int(run.size()));
            for (int i = 0; i < value && x < w; ++i) {
                if (four) {
                    if (i / 2 >= arrived)
                        break;
                    put(header.palette[std::size_t(i % 2 ? run[i / 2] & 15 : run[i / 2] >> 4)]);
                } else if (header.rle24) {
                    if (i * 3 + 2 >= arrived)
                        break;
                    const std::size_t at = std::size_t(i) * 3;
                    put(qRgb(run[at + 2], run[at + 1], run[at]));
                } else {
                    if (i >= arrived)
                        break;
                    put(header.palette[run[i]]);
                }
            }
            if (arrived < stored)
                break;
        }
    }
    return set;
}

} // namespace

Picture decodeBmp(const SourceFile& file, const DrawSizeChooser& drawSize,
                  ColourConverter& colours) {
    const Header header = readHeader(file);
    const QSize own(int(header.width), int(std::abs(header.height)));
    checkDecodedSize(own, own, 32, file.size);
    const QSize target = decodeSize(own, drawSize);

    const bool runs = header.compression == Rle8 || header.compression == Rle4 || header.rle24;
    const bool alpha = runs || Channel(header.masks[3]).present();
    QImage image(own, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (image.isNull())
        throw LoadError("out of memory for a picture of " + number(own.width()) + " x " +
                        number(own.height()) + " pixels");
    if (runs) {
        image.fill(0);
        const qint64 set = decodeRuns(file, header, image);
        if (set == 0)
            throw LoadError("the BMP holds no pixels");
        // Every pixel set: nothing is transparent.
        if (set == qint64(own.width()) * own.height())
            image.reinterpretAsFormat(QImage::Format_RGB32);
    } else {
        decodeRows(file, header, image);
    }
    return finishPicture(std::move(image), own, target, header.profile,
                         QImageIOHandler::TransformationNone, colours);
}

} // namespace pictolune
