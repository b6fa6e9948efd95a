#include "support/TestPictures.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>
#include <vector>

namespace pictolune::testing {

void putLe16(QByteArray& out, quint32 v) {
    out.append(char(v & 0xff));
    out.append(char((v >> 8) & 0xff));
}

void putLe32(QByteArray& out, quint32 v) {
    putLe16(out, v & 0xffff);
    putLe16(out, v >> 16);
}

void putTiffEntry(QByteArray& out, quint16 tag, quint16 type, quint32 value) {
    putLe16(out, tag);
    putLe16(out, type);
    putLe32(out, 1);
    if (type == 3) { // SHORT: the value sits in the first half of the field
        putLe16(out, value);
        putLe16(out, 0);
    } else {
        putLe32(out, value);
    }
}

QByteArray smallMetafile() {
    QByteArray out;
    const auto word = [&out](int v) { putLe16(out, quint32(v) & 0xffff); };
    const int placeable[] = {0xcdd7, 0x9ac6, 0, 0, 0, 1440, 1440, 1440, 0, 0};
    int checksum = 0;
    for (const int w : placeable) {
        word(w);
        checksum ^= w;
    }
    word(checksum);
    // Function number and parameter words of each record.
    const std::vector<std::vector<int>> records = {
        {0x041b, 1200, 1200, 240, 240}, // Rectangle: bottom, right, top, left
        {0x0418, 1100, 1100, 340, 340}, // Ellipse
        {0x0000},                       // end of file
    };
    int words = 9, largest = 0;
    for (const auto& r : records) {
        words += 2 + int(r.size());
        largest = std::max(largest, 2 + int(r.size()));
    }
    for (const int w : {1, 9, 0x0300, words & 0xffff, words >> 16, 0, largest, 0, 0})
        word(w);
    for (const auto& r : records) {
        word(2 + int(r.size())); // size in words, low half first
        word(0);
        for (const int w : r)
            word(w);
    }
    return out;
}

namespace {

void putBe16(QByteArray& out, quint32 v) {
    out.append(char((v >> 8) & 0xff));
    out.append(char(v & 0xff));
}

bool writeWith(const QString& path, const QImage& image, const char* format, int quality = -1) {
    QImageWriter writer(path, format);
    if (quality >= 0)
        writer.setQuality(quality);
    return writer.write(image);
}

QByteArray encodeJpeg(const QImage& image, int quality) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    return writer.write(image) ? bytes : QByteArray();
}

// 3-3-2 colour cube: three bits of red, three of green, two of blue.
uchar paletteIndex(QRgb c) {
    return uchar((qRed(c) >> 5) << 5 | (qGreen(c) >> 5) << 2 | (qBlue(c) >> 6));
}

QRgb paletteColour(int i) {
    return qRgb(((i >> 5) & 7) * 255 / 7, ((i >> 2) & 7) * 255 / 7, (i & 3) * 255 / 3);
}

class BitWriter {
public:
    void put(quint32 code, int bits) {
        accumulator_ |= code << filled_;
        filled_ += bits;
        while (filled_ >= 8) {
            bytes_.append(char(accumulator_ & 0xff));
            accumulator_ >>= 8;
            filled_ -= 8;
        }
    }
    QByteArray finish() {
        if (filled_ > 0)
            bytes_.append(char(accumulator_ & 0xff));
        return bytes_;
    }

private:
    QByteArray bytes_;
    quint32 accumulator_ = 0;
    int filled_ = 0;
};

// GIF's variable-width LZW over 8-bit indexes. The code width grows when
// the table's next entry no longer fits, counted the way decoders count:
// one entry per code written, the last code included.
QByteArray lzw(const std::vector<uchar>& indexes) {
    constexpr int kClear = 256, kEnd = 257, kFirstFree = 258, kMaxCode = 4095;
    std::vector<quint16> child(std::size_t(kMaxCode + 1) * 256, 0);
    BitWriter out;
    int width = 9;
    int next = kFirstFree;
    out.put(kClear, width);
    auto added = [&] {
        if (next >= (1 << width) && width < 12)
            ++width;
        ++next;
    };
    int current = -1;
    for (uchar index : indexes) {
        if (current < 0) {
            current = index;
            continue;
        }
        const std::size_t slot = std::size_t(current) * 256 + index;
        if (child[slot] != 0) {
            current = child[slot];
            continue;
        }
        out.put(quint32(current), width);
        child[slot] = quint16(next);
        added();
        if (next > kMaxCode) {
            out.put(kClear, width);
            std::fill(child.begin(), child.end(), 0);
            width = 9;
            next = kFirstFree;
        }
        current = index;
    }
    if (current >= 0) {
        out.put(quint32(current), width);
        added();
    }
    out.put(kEnd, width);
    return out.finish();
}

// JPEG's entropy-coded bits: most significant first, a zero byte stuffed
// after every 0xFF, the last byte padded with ones.
class JpegBits {
public:
    void put(quint32 code, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            byte_ = (byte_ << 1) | ((code >> i) & 1);
            if (++filled_ == 8)
                flush();
        }
    }
    QByteArray finish() {
        while (filled_ != 0)
            put(1, 1);
        return std::move(bytes_);
    }

private:
    void flush() {
        bytes_.append(char(byte_));
        if (byte_ == 0xff)
            bytes_.append(char(0));
        byte_ = 0;
        filled_ = 0;
    }
    QByteArray bytes_;
    quint32 byte_ = 0;
    int filled_ = 0;
};

void putSegment(QByteArray& out, int marker, const QByteArray& body) {
    out.append(char(0xff));
    out.append(char(marker));
    putBe16(out, quint32(body.size() + 2));
    out.append(body);
}

// A Huffman table whose codes all have `length` bits, one per symbol.
void putHuffmanTable(QByteArray& out, int tableClass, int length, const QByteArray& symbols) {
    QByteArray body;
    body.append(char(tableClass << 4));
    for (int bits = 1; bits <= 16; ++bits)
        body.append(char(bits == length ? symbols.size() : 0));
    body.append(symbols);
    putSegment(out, 0xc4, body);
}

// Start of a one-component grey JPEG of `size`, with a flat quantisation
// table: baseline or progressive.
QByteArray greyJpegHead(QSize size, bool progressive) {
    QByteArray out("\xff\xd8", 2);
    putSegment(out, 0xdb, QByteArray(1, '\0') + QByteArray(64, '\1'));
    QByteArray frame;
    frame.append(char(8));
    putBe16(frame, quint32(size.height()));
    putBe16(frame, quint32(size.width()));
    frame.append("\x01\x01\x11\x00", 4);
    putSegment(out, progressive ? 0xc2 : 0xc0, frame);
    return out;
}

void putScan(QByteArray& out, int start, int end, const QByteArray& data) {
    QByteArray header("\x01\x01\x00", 3);
    header.append(char(start));
    header.append(char(end));
    header.append(char(0));
    putSegment(out, 0xda, header);
    out.append(data);
}

int blocksOf(QSize size) {
    return ((size.width() + 7) / 8) * ((size.height() + 7) / 8);
}

void putSubBlocks(QByteArray& out, const QByteArray& data) {
    for (qsizetype at = 0; at < data.size(); at += 255) {
        const qsizetype n = std::min<qsizetype>(255, data.size() - at);
        out.append(char(n));
        out.append(data.constData() + at, n);
    }
    out.append(char(0));
}

// Where segments go in a JPEG: after the JFIF segment when there is one, as
// cameras and editors put them.
qsizetype afterJfif(const QByteArray& jpeg) {
    qsizetype at = 2;
    if (uchar(jpeg[2]) == 0xff && uchar(jpeg[3]) == 0xe0)
        at += 2 + (uchar(jpeg[4]) << 8 | uchar(jpeg[5]));
    return at;
}

// Offset of the first start-of-frame segment's marker in a JPEG, or -1.
qsizetype frameHeaderOffset(const QByteArray& jpeg) {
    qsizetype at = 2;
    while (at + 4 <= jpeg.size() && uchar(jpeg[at]) == 0xff) {
        const uchar marker = uchar(jpeg[at + 1]);
        if (marker >= 0xc0 && marker <= 0xc2)
            return at;
        at += 2 + (uchar(jpeg[at + 2]) << 8 | uchar(jpeg[at + 3]));
    }
    return -1;
}

} // namespace

QImage photographicImage(QSize size, quint32 seed) {
    QImage image(size, QImage::Format_RGB32);
    const int w = size.width(), h = size.height();
    const double phase = seed * 0.7;
    // Per-column and per-row terms, so the per-pixel work is a few adds; the
    // ranges are chosen so that no channel needs clamping (this also runs in
    // unoptimised sanitizer builds, on 48-megapixel pictures).
    std::vector<int> redColumn(w), waveColumn(w), greenRow(h), swellRow(h);
    for (int x = 0; x < w; ++x) {
        const double u = double(x) / w;
        redColumn[x] = int(48 + 160 * u);
        waveColumn[x] = int(64 * std::sin(2 * std::numbers::pi * (1.7 * u) + phase));
    }
    for (int y = 0; y < h; ++y) {
        const double v = double(y) / h;
        greenRow[y] = int(40 + 160 * v);
        swellRow[y] = int(64 * std::cos(2 * std::numbers::pi * (1.3 * v) + phase));
    }
    const int* red = redColumn.data();
    const int* wave = waveColumn.data();
    quint32 state = 0x9e3779b9u ^ (seed * 2654435761u);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<quint32*>(image.scanLine(y));
        const int green = greenRow[y], swell = swellRow[y];
        for (int x = 0; x < w; ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            // Noise of -16..15 per channel; blob within -64..64.
            const int blob = wave[x] * swell / 64;
            const int r = red[x] + blob / 2 + int(state & 31) - 16;
            const int g = green - blob / 3 + int((state >> 8) & 31) - 16;
            const int b = 128 + blob + int((state >> 16) & 31) - 16;
            line[x] = 0xff000000u | quint32(r) << 16 | quint32(g) << 8 | quint32(b);
        }
    }
    return image;
}

QImage lineField(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        std::fill_n(line, size.width(), y % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    }
    return image;
}

QImage zonePlate(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    const double cx = size.width() / 2.0, cy = size.height() / 2.0;
    // Half a cycle a pixel at the corners: the phase grows as r * r.
    const double rate = std::numbers::pi / (2 * std::hypot(cx, cy));
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
            const int level = levelOfLight(0.5 + 0.5 * std::cos(rate * (dx * dx + dy * dy)));
            line[x] = qRgb(level, level, level);
        }
    }
    return image;
}

double lightOfLevel(int level) {
    const double v = level / 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

int levelOfLight(double light) {
    const double v = light <= 0.0031308 ? light * 12.92 : 1.055 * std::pow(light, 1 / 2.4) - 0.055;
    return int(std::lround(std::clamp(v, 0.0, 1.0) * 255));
}

bool writeJpeg(const QString& path, const QImage& image, int quality) {
    return writeWith(path, image, "jpeg", quality);
}

bool writeJpeg(const QString& path, QSize size, int quality, quint32 seed) {
    return writeJpeg(path, photographicImage(size, seed), quality);
}

bool writeProgressiveJpeg(const QString& path, const QImage& image, int quality) {
    QImageWriter writer(path, "jpeg");
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(true);
    return writer.write(image);
}

bool writeBmp(const QString& path, const QImage& image) {
    return writeWith(path, image, "bmp");
}

bool writeBmp(const QString& path, QSize size, quint32 seed) {
    return writeBmp(path, photographicImage(size, seed));
}

bool writeTiff(const QString& path, const QImage& image) {
    return writeWith(path, image, "tiff");
}

bool writeTiff(const QString& path, QSize size, quint32 seed) {
    return writeTiff(path, photographicImage(size, seed));
}

QImage asGifShowsIt(const QImage& image) {
    QImage shown = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < shown.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(shown.scanLine(y));
        for (int x = 0; x < shown.width(); ++x)
            line[x] = paletteColour(paletteIndex(line[x]));
    }
    return shown;
}

namespace {

bool writeGifWith(const QString& path, const QImage& image, uchar (*indexOf)(QRgb),
                  QRgb (*colourOf)(int)) {
    if (image.width() > 0xffff || image.height() > 0xffff)
        return false;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    std::vector<uchar> indexes;
    indexes.reserve(std::size_t(rgb.width()) * rgb.height());
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x)
            indexes.push_back(indexOf(line[x]));
    }

    QByteArray out("GIF89a");
    putLe16(out, rgb.width());
    putLe16(out, rgb.height());
    out.append(char(0xf7)); // global colour table of 256 entries, 8-bit colour
    out.append(char(0));    // background
    out.append(char(0));    // aspect
    for (int i = 0; i < 256; ++i) {
        const QRgb c = colourOf(i);
        out.append(char(qRed(c)));
        out.append(char(qGreen(c)));
        out.append(char(qBlue(c)));
    }
    out.append(char(0x2c));
    putLe16(out, 0);
    putLe16(out, 0);
    putLe16(out, rgb.width());
    putLe16(out, rgb.height());
    out.append(char(0)); // no local table, not interlaced
    out.append(char(8)); // minimum code size
    putSubBlocks(out, lzw(indexes));
    out.append(char(0x3b));
    return writeBytes(path, out);
}

} // namespace

bool writeGif(const QString& path, const QImage& image) {
    return writeGifWith(path, image, paletteIndex, paletteColour);
}

bool writeGreyGif(const QString& path, const QImage& image) {
    return writeGifWith(
        path, image, [](QRgb c) { return uchar(qGreen(c)); }, [](int i) { return qRgb(i, i, i); });
}

bool writeGif(const QString& path, QSize size, quint32 seed) {
    return writeGif(path, photographicImage(size, seed));
}

QByteArray jpegWithOrientation(const QImage& image, int orientation, int quality) {
    QByteArray jpeg = encodeJpeg(image, quality);
    if (jpeg.size() < 4)
        return {};

    // Exif payload: a little-endian TIFF header and IFD0 with one entry.
    QByteArray exif("Exif\0\0", 6);
    exif.append("II*\0", 4);
    putLe32(exif, 8);      // IFD0 right after the header
    putLe16(exif, 1);      // one entry
    putLe16(exif, 0x0112); // Orientation
    putLe16(exif, 3);      // SHORT
    putLe32(exif, 1);      // one value
    putLe16(exif, quint32(orientation));
    putLe16(exif, 0);
    putLe32(exif, 0); // no next IFD

    QByteArray segment;
    putSegment(segment, 0xe1, exif);
    jpeg.insert(afterJfif(jpeg), segment);
    return jpeg;
}

bool writeJpegWithOrientation(const QString& path, const QImage& image, int orientation,
                              int quality) {
    const QByteArray bytes = jpegWithOrientation(image, orientation, quality);
    return !bytes.isEmpty() && writeBytes(path, bytes);
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QByteArray bmpHeaderClaiming(QSize size) {
    QByteArray out("BM");
    putLe32(out, 54); // file size: the headers alone
    putLe32(out, 0);
    putLe32(out, 54); // pixel data offset
    putLe32(out, 40); // BITMAPINFOHEADER
    putLe32(out, quint32(size.width()));
    putLe32(out, quint32(size.height()));
    putLe16(out, 1);  // planes
    putLe16(out, 24); // bits per pixel
    putLe32(out, 0);  // no compression
    putLe32(out, 0);  // image size
    putLe32(out, 2835);
    putLe32(out, 2835);
    putLe32(out, 0);
    putLe32(out, 0);
    return out;
}

QByteArray gifClaiming(QSize size) {
    QByteArray out("GIF89a");
    putLe16(out, quint32(size.width()));
    putLe16(out, quint32(size.height()));
    out.append(char(0x80)); // global table of 2 entries
    out.append(char(0));
    out.append(char(0));
    out.append("\x00\x00\x00\xff\xff\xff", 6);
    out.append(char(0x2c));
    putLe16(out, 0);
    putLe16(out, 0);
    putLe16(out, quint32(size.width()));
    putLe16(out, quint32(size.height()));
    out.append(char(0));
    out.append(char(2));               // minimum code size
    out.append("\x02\x44\x01\x00", 4); // clear, one pixel, end
    out.append(char(0x3b));
    return out;
}

QByteArray tiffClaiming(QSize size) {
    const quint32 w = quint32(size.width()), h = quint32(size.height());
    struct Entry {
        quint16 tag, type;
        quint32 value;
    };
    const quint32 entries = 9;
    const quint32 kData = 16;
    const quint32 dataOffset = 8 + 2 + entries * 12 + 4;
    const Entry ifd[entries] = {
        {256, 4, w},          // ImageWidth
        {257, 4, h},          // ImageLength
        {258, 3, 8},          // BitsPerSample
        {259, 3, 1},          // no compression
        {262, 3, 1},          // black is zero
        {273, 4, dataOffset}, // StripOffsets
        {277, 3, 1},          // SamplesPerPixel
        {278, 4, h},          // RowsPerStrip
        {279, 4, kData},      // StripByteCounts: what there is
    };
    QByteArray out("II*\0", 4);
    putLe32(out, 8);
    putLe16(out, entries);
    for (const Entry& e : ifd)
        putTiffEntry(out, e.tag, e.type, e.value);
    putLe32(out, 0);
    out.append(QByteArray(kData, char(0x80)));
    return out;
}

QByteArray jpegClaiming(QSize size) {
    QByteArray jpeg = encodeJpeg(photographicImage(QSize(64, 64)), 90);
    const qsizetype sof = frameHeaderOffset(jpeg);
    if (sof < 0)
        return {};
    // Marker, length, precision, then height and width, big-endian.
    jpeg[sof + 5] = char((size.height() >> 8) & 0xff);
    jpeg[sof + 6] = char(size.height() & 0xff);
    jpeg[sof + 7] = char((size.width() >> 8) & 0xff);
    jpeg[sof + 8] = char(size.width() & 0xff);
    return jpeg;
}

QByteArray greyBaselineJpeg(QSize size) {
    QByteArray out = greyJpegHead(size, false);
    // One symbol each, coded "0": no change of the DC value, end of block.
    putHuffmanTable(out, 0, 1, QByteArray(1, '\0'));
    putHuffmanTable(out, 1, 1, QByteArray(1, '\0'));
    JpegBits bits;
    for (int block = blocksOf(size); block > 0; --block)
        bits.put(0, 2);
    putScan(out, 0, 63, bits.finish());
    out.append("\xff\xd9", 2);
    return out;
}

QByteArray fourComponentJpeg(QSize size, int adobeTransform) {
    QByteArray out("\xff\xd8", 2);
    QByteArray adobe("Adobe\x00\x64\x00\x00\x00\x00", 11);
    adobe.append(char(adobeTransform));
    putSegment(out, 0xee, adobe);
    putSegment(out, 0xdb, QByteArray(1, '\0') + QByteArray(64, '\1'));
    QByteArray frame;
    frame.append(char(8));
    putBe16(frame, quint32(size.height()));
    putBe16(frame, quint32(size.width()));
    frame.append(char(4));
    for (int component = 1; component <= 4; ++component)
        frame.append(char(component)).append(char(0x11)).append(char(0));
    putSegment(out, 0xc0, frame);
    // DC differences of categories 0 to 11, each symbol coded in four bits;
    // every block ends at once.
    QByteArray categories;
    for (int c = 0; c <= 11; ++c)
        categories.append(char(c));
    putHuffmanTable(out, 0, 4, categories);
    putHuffmanTable(out, 1, 1, QByteArray(1, '\0'));
    QByteArray scan;
    scan.append(char(4));
    for (int component = 1; component <= 4; ++component)
        scan.append(char(component)).append(char(0));
    scan.append("\x00\x3f\x00", 3);
    putSegment(out, 0xda, scan);

    // Stripes one block wide, each a flat value per component.
    int previous[4] = {0, 0, 0, 0};
    JpegBits bits;
    const int columns = (size.width() + 7) / 8;
    for (int block = 0; block < blocksOf(size); ++block) {
        for (int component = 0; component < 4; ++component) {
            // A flat block's DC coefficient, under a quantiser of 1.
            const int dc = (kFourComponentStripes[(block % columns) % 4][component] - 128) * 8;
            const int difference = dc - previous[component];
            previous[component] = dc;
            const int category =
                difference == 0 ? 0 : int(std::bit_width(quint32(std::abs(difference))));
            bits.put(quint32(category), 4);
            if (category > 0)
                bits.put(quint32(difference > 0 ? difference : difference + (1 << category) - 1),
                         category);
            bits.put(0, 1);
        }
    }
    out.append(bits.finish());
    out.append("\xff\xd9", 2);
    return out;
}

QByteArray progressiveJpegWithEmptyScans(QSize size, int emptyScans) {
    QByteArray out = greyJpegHead(size, true);
    putHuffmanTable(out, 0, 1, QByteArray(1, '\0'));
    JpegBits dc;
    for (int block = blocksOf(size); block > 0; --block)
        dc.put(0, 1);
    putScan(out, 0, 0, dc.finish());
    // End-of-band runs of 2^r to 2^(r+1) - 1 blocks, r = 0..14, each coded
    // in four bits: a scan that changes nothing costs a few bytes.
    QByteArray runs;
    for (int r = 0; r <= 14; ++r)
        runs.append(char(r << 4));
    putHuffmanTable(out, 1, 4, runs);
    JpegBits empty;
    for (int left = blocksOf(size); left > 0;) {
        const int run = std::min(left, 32767);
        const int r = int(std::log2(run));
        empty.put(quint32(r), 4);
        empty.put(quint32(run - (1 << r)), r);
        left -= run;
    }
    const QByteArray emptyData = empty.finish();
    for (int scan = 0; scan < emptyScans; ++scan)
        putScan(out, 1, 63, emptyData);
    out.append("\xff\xd9", 2);
    return out;
}

QByteArray flatLzwGif(QSize size) {
    QByteArray out = gifClaiming(size).left(13 + 6 + 10); // headers up to the image data
    constexpr int kClear = 4, kEnd = 5, kFirstFree = 6, kCodes = 4096;
    BitWriter bits;
    int width = 3;
    bits.put(kClear, width);
    // After the first pixel every code is new to the table and one pixel
    // longer than the last, until the table is full; then the longest code
    // repeats. Code c >= 6 stands for c - 4 pixels.
    qint64 left = qint64(size.width()) * size.height();
    bits.put(0, width);
    --left;
    int next = kFirstFree;
    while (left > 0) {
        const int code = next < kCodes ? next : kCodes - 1;
        const qint64 length = std::min<qint64>(code - 4, left);
        const int emitted = length == 1 ? 0 : int(length + 4);
        bits.put(quint32(emitted), width);
        left -= length;
        if (next < kCodes) {
            ++next;
            if (next >= (1 << width) && width < 12)
                ++width;
        }
    }
    bits.put(kEnd, width);
    out.append(char(2)); // minimum code size
    putSubBlocks(out, bits.finish());
    out.append(char(0x3b));
    return out;
}

QByteArray flatRle8Bmp(QSize size) {
    QByteArray rows;
    for (int y = 0; y < size.height(); ++y) {
        for (int left = size.width(); left > 0; left -= 255) {
            rows.append(char(std::min(left, 255)));
            rows.append(char(1));
        }
        rows.append("\x00\x00", 2); // end of line
    }
    rows.append("\x00\x01", 2); // end of bitmap
    constexpr quint32 kPalette = 256 * 4;
    QByteArray out("BM");
    putLe32(out, 54 + kPalette + quint32(rows.size()));
    putLe32(out, 0);
    putLe32(out, 54 + kPalette);
    putLe32(out, 40);
    putLe32(out, quint32(size.width()));
    putLe32(out, quint32(size.height()));
    putLe16(out, 1);
    putLe16(out, 8);
    putLe32(out, 1); // RLE8
    putLe32(out, quint32(rows.size()));
    putLe32(out, 2835);
    putLe32(out, 2835);
    putLe32(out, 256);
    putLe32(out, 0);
    for (int i = 0; i < 256; ++i)
        putLe32(out, quint32(i * 0x010101));
    return out + rows;
}

std::vector<QByteArray> iccMarkerPayloads(const QByteArray& profile, int pieceBytes) {
    const qsizetype count = (profile.size() + pieceBytes - 1) / pieceBytes;
    std::vector<QByteArray> payloads;
    for (qsizetype i = 0; i < count; ++i) {
        QByteArray payload("ICC_PROFILE\0", 12);
        payload.append(char(i + 1));
        payload.append(char(count));
        payload.append(profile.mid(i * pieceBytes, pieceBytes));
        payloads.push_back(payload);
    }
    return payloads;
}

QByteArray withIccProfile(QByteArray jpeg, const QByteArray& profile, int pieceBytes) {
    if (jpeg.size() < 4)
        return {};
    QByteArray markers;
    for (const QByteArray& payload : iccMarkerPayloads(profile, pieceBytes))
        putSegment(markers, 0xe2, payload);
    jpeg.insert(afterJfif(jpeg), markers);
    return jpeg;
}

QByteArray jpegWithProfile(const QImage& image, const QByteArray& profile, int pieceBytes,
                           int quality) {
    return withIccProfile(encodeJpeg(image, quality), profile, pieceBytes);
}

QByteArray tiffWithProfile(const QImage& image, const QByteArray& profile) {
    const bool grey = image.format() == QImage::Format_Grayscale8;
    const QImage pixels =
        image.convertToFormat(grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    const quint32 samples = grey ? 1 : 3;
    const quint32 w = quint32(pixels.width()), h = quint32(pixels.height());
    const quint32 rowBytes = w * samples;
    const quint32 entries = profile.isEmpty() ? 10 : 11;
    const quint32 bitsOffset = 8 + 2 + entries * 12 + 4;
    const quint32 pixelOffset = bitsOffset + 8;
    const quint32 profileOffset = (pixelOffset + rowBytes * h + 1) & ~1U;

    QByteArray out("II*\0", 4);
    putLe32(out, 8);
    putLe16(out, entries);
    putTiffEntry(out, 256, 4, w);
    putTiffEntry(out, 257, 4, h);
    if (grey) {
        putTiffEntry(out, 258, 3, 8);
    } else { // three BitsPerSample values, stored after the directory
        putLe16(out, 258);
        putLe16(out, 3);
        putLe32(out, 3);
        putLe32(out, bitsOffset);
    }
    putTiffEntry(out, 259, 3, 1);            // no compression
    putTiffEntry(out, 262, 3, grey ? 1 : 2); // black is zero, or RGB
    putTiffEntry(out, 273, 4, pixelOffset);  // StripOffsets
    putTiffEntry(out, 277, 3, samples);      // SamplesPerPixel
    putTiffEntry(out, 278, 4, h);            // RowsPerStrip
    putTiffEntry(out, 279, 4, rowBytes * h); // StripByteCounts
    putTiffEntry(out, 284, 3, 1);            // chunky
    if (!profile.isEmpty()) {                // ICC profile, UNDEFINED bytes
        putLe16(out, 34675);
        putLe16(out, 7);
        putLe32(out, quint32(profile.size()));
        putLe32(out, profileOffset);
    }
    putLe32(out, 0);
    for (int i = 0; i < 3; ++i)
        putLe16(out, 8);
    putLe16(out, 0);
    for (int y = 0; y < pixels.height(); ++y)
        out.append(reinterpret_cast<const char*>(pixels.constScanLine(y)), rowBytes);
    out.resize(profileOffset, '\0');
    out.append(profile);
    return out;
}

} // namespace pictolune::testing
