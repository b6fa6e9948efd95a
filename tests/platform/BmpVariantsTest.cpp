// BMP files of every header version, depth, mask layout and run-length
// form, written here byte by byte, each decoded through the decoders and
// checked pixel for pixel against what its header says the bytes mean.
#include "platform/base/Errors.h"
#include "platform/loading/LoadPicture.h"
#include "support/TestPictures.h"
#include "support/TestProfiles.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace pictolune {
namespace {

using namespace pictolune::testing;

constexpr int kWidth = 13; // rows of every depth end in padding
constexpr int kHeight = 6;
constexpr QRgb kTransparent = 0;

struct Bmp {
    int headerBytes = 40;
    int bits = 24;
    quint32 compression = 0;
    std::array<quint32, 4> masks{}; // red, green, blue, alpha
    std::vector<QRgb> palette;      // entries as written
    quint32 coloursUsed = 0;
    bool topDown = false;
    int gap = 0;       // bytes between the palette and the pixels
    QByteArray pixels; // as stored
};

QByteArray bmpFile(const Bmp& b, int width, int height) {
    QByteArray info;
    const bool core = b.headerBytes == 12;
    putLe32(info, quint32(b.headerBytes));
    if (core) {
        putLe16(info, quint32(width));
        putLe16(info, quint32(height));
        putLe16(info, 1);
        putLe16(info, quint32(b.bits));
    } else {
        // Every field up to a V5 header's, cut to the version's size: the
        // masks sit right after the first 40 bytes.
        putLe32(info, quint32(width));
        putLe32(info, quint32(b.topDown ? -height : height));
        putLe16(info, 1);
        putLe16(info, quint32(b.bits));
        for (quint32 v : {b.compression, quint32(b.pixels.size()), 2835U, 2835U, b.coloursUsed, 0U})
            putLe32(info, v);
        for (const quint32 mask : b.masks)
            putLe32(info, mask);
        info.append(QByteArray(std::max(0, b.headerBytes - int(info.size())), '\0'));
        info.truncate(b.headerBytes);
        // A 40-byte header is followed by its masks.
        if (b.headerBytes == 40 && (b.compression == 3 || b.compression == 6))
            for (int i = 0; i < (b.compression == 6 ? 4 : 3); ++i)
                putLe32(info, b.masks[std::size_t(i)]);
    }
    for (const QRgb c : b.palette) {
        info.append(char(qBlue(c))).append(char(qGreen(c))).append(char(qRed(c)));
        if (!core)
            info.append('\0');
    }
    info.append(QByteArray(b.gap, '\x5a'));
    QByteArray out("BM");
    putLe32(out, quint32(14 + info.size() + b.pixels.size()));
    putLe32(out, 0);
    putLe32(out, quint32(14 + info.size()));
    return out + info + b.pixels;
}

// Rows of `bits`-bit values, padded to four bytes, stored bottom up unless
// `topDown`; `value` is asked for upright coordinates.
QByteArray packRows(int bits, bool topDown, const std::function<quint32(int, int)>& value) {
    QByteArray out;
    const int stride = (kWidth * bits + 31) / 32 * 4;
    for (int stored = 0; stored < kHeight; ++stored) {
        const int y = topDown ? stored : kHeight - 1 - stored;
        QByteArray row(stride, '\0');
        for (int x = 0; x < kWidth; ++x) {
            const quint32 v = value(x, y);
            if (bits < 8) {
                const int bit = x * bits;
                row[bit / 8] = char(uchar(row[bit / 8]) | v << (8 - bits - bit % 8));
            } else {
                for (int i = 0; i < bits / 8; ++i)
                    row[x * bits / 8 + i] = char(v >> (8 * i));
            }
        }
        out += row;
    }
    return out;
}

std::vector<QRgb> somePalette(int entries) {
    std::vector<QRgb> palette;
    for (int i = 0; i < entries; ++i)
        palette.push_back(qRgb((i * 37) % 256, (i * 91 + 40) % 256, 255 - i % 256));
    return palette;
}

struct Expectation {
    QImage pixels; // premultiplied ARGB, upright
    bool alpha = false;
};

using Pixel = std::function<QRgb(int, int)>;

Expectation expect(const Pixel& pixel, bool alpha = false) {
    QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            image.setPixel(x, y, pixel(x, y));
    return {image, alpha};
}

struct BmpCase {
    std::string name;
    QByteArray file;
    Expectation expected;
};

// A palette picture: indices spread over `indices` values; those past the
// entries the file holds (or beyond the first 1 << bits) are black.
BmpCase paletted(std::string name, Bmp b, int indices, int usable) {
    const auto index = [indices](int x, int y) { return quint32((x * 5 + y * 3) % indices); };
    const std::vector<QRgb> palette = b.palette;
    b.pixels = packRows(b.bits, b.topDown, index);
    return {std::move(name), bmpFile(b, kWidth, kHeight), expect([=](int x, int y) {
                const quint32 i = index(x, y);
                return int(i) < usable ? palette[i] : qRgb(0, 0, 0);
            })};
}

// What a mask means: the bits under it, shifted down, scaled to 0..255.
int channel(quint32 pixel, quint32 mask) {
    if (mask == 0)
        return 0;
    const int shift = std::countr_zero(mask);
    const double max = double(mask >> shift);
    return int(std::lround(double((pixel & mask) >> shift) * 255.0 / max));
}

// A bit-field picture: each pixel a word of varied bits under every mask.
BmpCase masked(std::string name, Bmp b, std::array<quint32, 4> meaning) {
    const auto word = [bits = b.bits](int x, int y) {
        const quint32 v = quint32(x * 2654435761U ^ y * 40503U * 977U) * 2246822519U;
        return bits == 16 ? v >> 16 : v;
    };
    b.pixels = packRows(b.bits, b.topDown, word);
    const bool alpha = meaning[3] != 0;
    return {std::move(name), bmpFile(b, kWidth, kHeight),
            expect(
                [=](int x, int y) {
                    const quint32 p = word(x, y);
                    return qPremultiply(qRgba(channel(p, meaning[0]), channel(p, meaning[1]),
                                              channel(p, meaning[2]),
                                              alpha ? channel(p, meaning[3]) : 255));
                },
                alpha)};
}

QRgb rgb24(int x, int y) {
    return qRgb(x * 19, y * 40, (x * y * 7) % 256);
}

BmpCase truecolour(std::string name, Bmp b, int keepRows = kHeight) {
    b.pixels = packRows(24, b.topDown, [](int x, int y) { return rgb24(x, y) & 0xffffff; });
    const int stride = (kWidth * 24 + 31) / 32 * 4;
    // Cut short inside a row: its whole pixels still show.
    const int keepPixels = keepRows * kWidth + (keepRows < kHeight ? kWidth / 2 : 0);
    if (keepRows < kHeight)
        b.pixels.truncate(keepRows * stride + (kWidth / 2) * 3 + 1);
    return {std::move(name), bmpFile(b, kWidth, kHeight), expect([=](int x, int y) {
                const int stored = b.topDown ? y : kHeight - 1 - y;
                return stored * kWidth + x < keepPixels ? rgb24(x, y) : qRgb(0, 0, 0);
            })};
}

// Run-length data written by hand for a picture 6 pixels wide and 4 high,
// with what it means as palette indices, -1 where no run reaches.
struct Runs {
    QByteArray data;
    std::array<std::array<int, 6>, 4> upright;
};

BmpCase runs(std::string name, int bits, const Runs& r, bool anyUnset) {
    Bmp b;
    b.bits = bits;
    b.compression = bits == 8 ? 1 : 2;
    b.palette = somePalette(1 << bits);
    b.pixels = r.data;
    const std::vector<QRgb> palette = b.palette;
    Expectation e;
    e.pixels = QImage(6, 4, QImage::Format_ARGB32_Premultiplied);
    e.alpha = anyUnset;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            const int i = r.upright[std::size_t(y)][std::size_t(x)];
            e.pixels.setPixel(x, y, i < 0 ? kTransparent : palette[std::size_t(i)]);
        }
    return {std::move(name), bmpFile(b, 6, 4), e};
}

std::vector<BmpCase> bmpCases() {
    std::vector<BmpCase> cases;
    const auto add = [&cases](BmpCase c) { cases.push_back(std::move(c)); };
    const auto pal = [](int headerBytes, int bits, int entries) {
        Bmp b;
        b.headerBytes = headerBytes;
        b.bits = bits;
        b.palette = somePalette(entries);
        return b;
    };

    // Header versions, through a palette.
    add(paletted("Os2v1Header12Pal8", pal(12, 8, 256), 256, 256));
    add(paletted("Os2v2Header16Pal8", pal(16, 8, 256), 256, 256));
    add(paletted("Os2v2Header64Pal4", pal(64, 4, 16), 16, 16));
    add(paletted("Header40Pal1", pal(40, 1, 2), 2, 2));
    add(paletted("Header40Pal2", pal(40, 2, 4), 4, 4));
    add(paletted("Header40Pal4", pal(40, 4, 16), 16, 16));
    add(paletted("Header108Pal8", pal(108, 8, 256), 256, 256));
    add(paletted("Header124Pal8", pal(124, 8, 256), 256, 256));
    Bmp topDown = pal(40, 8, 256);
    topDown.topDown = true;
    add(paletted("Pal8TopDown", topDown, 256, 256));
    // Palettes shorter than the bits need: the missing entries are black.
    Bmp shortPal = pal(40, 4, 5);
    shortPal.coloursUsed = 5;
    add(paletted("Pal4ShortPalette", shortPal, 16, 5));
    add(paletted("Os2v1ShortPaletteByOffset", pal(12, 8, 252), 256, 252));
    // Longer than they can index: the first 256 count, the pixels are
    // where the file header says.
    Bmp oversize = pal(40, 8, 300);
    oversize.coloursUsed = 300;
    add(paletted("Pal8OversizedPalette", oversize, 256, 256));
    Bmp gap = pal(40, 8, 256);
    gap.gap = 10;
    add(paletted("Pal8PixelsAfterAGap", gap, 256, 256));

    // 24 bits, whole, top down, cut short.
    add(truecolour("Rgb24", Bmp{}));
    Bmp rgbTopDown;
    rgbTopDown.topDown = true;
    add(truecolour("Rgb24TopDown", rgbTopDown));
    add(truecolour("Rgb24CutShort", Bmp{}, 3));
    Bmp v5;
    v5.headerBytes = 124;
    add(truecolour("Header124Rgb24", v5));

    // 16 and 32 bits: default masks (any other bits ignored), then masks
    // of every width and place, in the header or after it.
    // Masks as written (none under compression 0, which means 5-5-5 or
    // 8-8-8) and what they mean.
    const auto add16or32 = [&add](std::string name, int headerBytes, int bits, quint32 compression,
                                  std::array<quint32, 4> meaning) {
        Bmp b;
        b.headerBytes = headerBytes;
        b.bits = bits;
        b.compression = compression;
        if (compression != 0)
            b.masks = meaning;
        add(masked(std::move(name), b, meaning));
    };
    add16or32("Rgb16Default555", 40, 16, 0, {0x7c00, 0x03e0, 0x001f, 0});
    add16or32("Rgb16Explicit555", 40, 16, 3, {0x7c00, 0x03e0, 0x001f, 0});
    add16or32("Rgb16Masks565", 40, 16, 3, {0xf800, 0x07e0, 0x001f, 0});
    add16or32("Rgb16Masks231", 40, 16, 3, {0x0030, 0x000e, 0x0001, 0});
    add16or32("Rgb16Masks3103", 40, 16, 3, {0xe000, 0x1ff8, 0x0007, 0});
    add16or32("Rgba16Masks4444V5", 124, 16, 3, {0x0f00, 0x00f0, 0x000f, 0xf000});
    add16or32("Rgb32DefaultIgnoresTopByte", 40, 32, 0, {0xff0000, 0xff00, 0xff, 0});
    add16or32("Rgb32Masks111110", 40, 32, 3, {0xffe00000, 0x001ffc00, 0x000003ff, 0});
    add16or32("Rgb32Masks7187", 40, 32, 3, {0xfe000000, 0x01fffe00, 0x000001fc, 0});
    add16or32("Rgb32MasksInHeader52", 52, 32, 3, {0x0000ff00, 0x00ff0000, 0xff000000, 0});
    add16or32("Rgba32MasksInHeader56", 56, 32, 3, {0xff, 0xff00, 0xff0000, 0xff000000});
    add16or32("Rgba32Masks1_10_11_10", 108, 32, 3,
              {0x7fe00000, 0x001ffc00, 0x000003ff, 0x80000000});
    add16or32("Rgba32Masks61754", 124, 32, 3, {0xfc000000, 0x03fffe00, 0x000001f0, 0x0000000f});
    add16or32("Rgba32AlphaBitFieldsAfter40", 40, 32, 6,
              {0x00ff0000, 0x0000ff00, 0x000000ff, 0xff000000});

    // Run lengths, stored from the bottom row: runs, literals (padded to a
    // word), an early end of line, a move, an early end of the bitmap.
    const QByteArray rle8("\x03\x01\x00\x03\x02\x03\x04\x00" // row 0: 1 1 1 2 3 4
                          "\x00\x00"                         // end of line
                          "\x02\x05\x00\x00"                 // row 1: 5 5, then nothing
                          "\x00\x02\x02\x01"                 // move 2 right, 1 up: row 3
                          "\x02\x06\x00\x01",                // 6 6, end of bitmap
                          22);
    add(runs("Rle8DeltaEndOfLineEndOfBitmap", 8,
             {rle8,
              {{{-1, -1, 6, 6, -1, -1},
                {-1, -1, -1, -1, -1, -1},
                {5, 5, -1, -1, -1, -1},
                {1, 1, 1, 2, 3, 4}}}},
             true));
    const QByteArray rle4("\x06\x12\x00\x00"         // row 0: 1 2 1 2 1 2
                          "\x00\x05\x34\x56\x70\x00" // row 1: 3 4 5 6 7, then
                          "\x01\x80\x00\x00"         //   8, end of line
                          "\x00\x02\x03\x00"         // row 2: move 3 right
                          "\x03\x9a\x00\x00"         //   9 10 9, end of line
                          "\x06\xff\x00\x01",        // row 3: 15 x 6, end of bitmap
                          26);
    add(runs("Rle4LiteralsAndMoves", 4,
             {rle4,
              {{{15, 15, 15, 15, 15, 15},
                {-1, -1, -1, 9, 10, 9},
                {3, 4, 5, 6, 7, 8},
                {1, 2, 1, 2, 1, 2}}}},
             true));
    const QByteArray full("\x06\x07\x00\x00\x06\x08\x00\x00\x06\x09\x00\x00\x06\x0a\x00\x01", 16);
    add(runs(
        "Rle8EveryPixelSet", 8,
        {full,
         {{{10, 10, 10, 10, 10, 10}, {9, 9, 9, 9, 9, 9}, {8, 8, 8, 8, 8, 8}, {7, 7, 7, 7, 7, 7}}}},
        false));
    return cases;
}

class BmpVariantsTest : public ::testing::TestWithParam<BmpCase> {
protected:
    QTemporaryDir dir_;
};

TEST_P(BmpVariantsTest, DecodesAsTheHeaderSays) {
    const BmpCase& c = GetParam();
    const QString file = dir_.filePath("variant.bmp");
    ASSERT_TRUE(writeBytes(file, c.file));
    const Picture picture = loadPicture(file);
    const QImage& raster = picture.raster();
    ASSERT_EQ(raster.size(), c.expected.pixels.size());
    EXPECT_EQ(picture.size(), raster.size());
    EXPECT_EQ(raster.format(),
              c.expected.alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    EXPECT_EQ(largestDifference(raster.convertToFormat(QImage::Format_ARGB32_Premultiplied),
                                c.expected.pixels),
              0);
}

INSTANTIATE_TEST_SUITE_P(Variants, BmpVariantsTest, ::testing::ValuesIn(bmpCases()),
                         [](const ::testing::TestParamInfo<BmpCase>& info) {
                             return info.param.name;
                         });

// Headers that mean nothing are load errors, with a reason.
TEST(BmpHeaderTest, NonsenseHeadersAreLoadErrors) {
    const QTemporaryDir dir;
    const auto bmp = [](int headerBytes, int bits, quint32 compression, int width = 4) {
        Bmp b;
        b.headerBytes = headerBytes;
        b.bits = bits;
        b.compression = compression;
        b.pixels = QByteArray(64, '\x11');
        return bmpFile(b, width, 2);
    };
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"header-of-8-bytes", bmp(8, 24, 0)},
        {"header-of-a-megabyte", bmp(1 << 20, 24, 0)},
        {"7-bits", bmp(40, 7, 0)},
        {"rle8-of-24-bits", bmp(40, 24, 1)},
        {"bit-fields-of-8-bits", bmp(40, 8, 3)},
        {"os2-huffman", bmp(64, 1, 3)},
        {"compression-99", bmp(40, 24, 99)},
        {"width-zero", bmp(40, 24, 0, 0)},
        {"no-pixels", QByteArray(bmp(40, 24, 0)).left(54)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = dir.filePath(QString(c.name) + ".bmp");
        ASSERT_TRUE(writeBytes(file, c.bytes));
        try {
            loadPicture(file);
            ADD_FAILURE() << "loaded";
        } catch (const LoadError& error) {
            EXPECT_FALSE(error.detail().empty());
        }
    }
}

} // namespace
} // namespace pictolune
