// The bitmap forms the writer does not make, and text decoding by
// character set, checked on the decoders directly.
#include "platform/base/Errors.h"
#include "platform/wmf/WmfDib.h"
#include "platform/wmf/WmfLimits.h"
#include "platform/wmf/WmfText.h"

#include <gtest/gtest.h>

namespace pictolune::wmf {
namespace {

void put16(QByteArray& b, int v) {
    b.append(char(v & 0xFF));
    b.append(char((v >> 8) & 0xFF));
}
void put32(QByteArray& b, std::uint32_t v) {
    put16(b, int(v & 0xFFFF));
    put16(b, int(v >> 16));
}

QByteArray infoHeader(int w, int h, int bpp, int compression, int headerSize = 40) {
    QByteArray b;
    put32(b, std::uint32_t(headerSize));
    put32(b, std::uint32_t(w));
    put32(b, std::uint32_t(h));
    put16(b, 1);
    put16(b, bpp);
    put32(b, std::uint32_t(compression));
    put32(b, 0);
    put32(b, 0);
    put32(b, 0);
    put32(b, 0);
    put32(b, 0);
    return b;
}

Dib decode(const QByteArray& bytes, bool paletteIndices = false) {
    PixelBudget budget{kMaxBitmapPixels};
    return decodeDib(Reader(reinterpret_cast<const unsigned char*>(bytes.constData()),
                            std::size_t(bytes.size())),
                     paletteIndices, budget);
}

TEST(WmfDib, SixteenBitsAndBitFields) {
    // One row of two pixels: pure red then pure blue.
    QByteArray rgb555 = infoHeader(2, 1, 16, 0);
    put16(rgb555, 0x7C00);
    put16(rgb555, 0x001F);

    QByteArray rgb565 = infoHeader(2, 1, 16, 3);
    put32(rgb565, 0xF800);
    put32(rgb565, 0x07E0);
    put32(rgb565, 0x001F);
    put16(rgb565, 0xF800);
    put16(rgb565, 0x001F);

    // Bit fields inside a larger header, with channels in unusual places.
    QByteArray v4 = infoHeader(2, 1, 32, 3, 108);
    put32(v4, 0x0000FF00); // red
    put32(v4, 0x00FF0000); // green
    put32(v4, 0xFF000000); // blue
    v4.append(QByteArray(108 - 52, '\0'));
    put32(v4, 0x0000FF00);
    put32(v4, 0xFF000000);

    for (const QByteArray& bytes : {rgb555, rgb565, v4}) {
        const QImage img = decode(bytes).image;
        ASSERT_EQ(img.size(), QSize(2, 1));
        EXPECT_EQ(img.pixel(0, 0), qRgb(255, 0, 0));
        EXPECT_EQ(img.pixel(1, 0), qRgb(0, 0, 255));
    }
}

TEST(WmfDib, CoreHeaderAndRowOrder) {
    // Old 12-byte header, 24 bits, two rows stored bottom row first.
    QByteArray core;
    put32(core, 12);
    put16(core, 1);
    put16(core, 2);
    put16(core, 1);
    put16(core, 24);
    core.append("\x00\x00\xFF\x00", 4); // bottom: red, padded to 4 bytes
    core.append("\xFF\x00\x00\x00", 4); // top: blue
    const Dib dib = decode(core);
    EXPECT_TRUE(dib.bottomUp);
    EXPECT_EQ(dib.image.pixel(0, 0), qRgb(0, 0, 255));
    EXPECT_EQ(dib.image.pixel(0, 1), qRgb(255, 0, 0));

    // A negative height stores the top row first.
    QByteArray topDown = infoHeader(1, -2, 24, 0);
    topDown.append("\x00\x00\xFF\x00", 4);
    topDown.append("\xFF\x00\x00\x00", 4);
    const Dib td = decode(topDown);
    EXPECT_FALSE(td.bottomUp);
    EXPECT_EQ(td.image.pixel(0, 0), qRgb(255, 0, 0));
}

TEST(WmfDib, IndicesPastTheColourTableAreBlack) {
    QByteArray b = infoHeader(2, 1, 8, 0);
    b[32] = 1; // one colour used
    b.append("\x00\xFF\x00\x00", 4);
    b.append("\x00\x07\x00\x00", 4);
    const QImage img = decode(b).image;
    EXPECT_EQ(img.pixel(0, 0), qRgb(0, 255, 0));
    EXPECT_EQ(img.pixel(1, 0), qRgb(0, 0, 0));
}

TEST(WmfDib, RunLengthMovesAndClipping) {
    // 4 x 2, eight bits: a move past the bitmap's right edge and a run too
    // long for its row are cut, not written out of bounds.
    QByteArray b = infoHeader(4, 2, 8, 1);
    b[32] = 2;                                       // two colours
    b.append("\x00\x00\x00\x00\x00\x00\xFF\x00", 8); // black, red
    b.append("\x09\x01", 2);                         // nine red: cut at four
    b.append("\x00\x00", 2);                         // next row
    b.append("\x00\x02\x02\x00", 4);                 // move two right
    b.append("\x05\x01", 2);                         // red from x = 2, cut
    b.append("\x00\x01", 2);                         // end
    const QImage img = decode(b).image;              // upright: row 1 of the file is the top
    EXPECT_EQ(img.pixel(0, 1), qRgb(255, 0, 0));
    EXPECT_EQ(img.pixel(3, 1), qRgb(255, 0, 0));
    EXPECT_EQ(img.pixel(1, 0), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(2, 0), qRgb(255, 0, 0));
}

TEST(WmfDib, PaletteIndexTablesAreReadAsTwoBytesAnEntry) {
    QByteArray b = infoHeader(1, 1, 1, 0);
    put16(b, 0);
    put16(b, 1);
    b.append("\x80\x00\x00\x00", 4);
    EXPECT_EQ(decode(b, true).image.size(), QSize(1, 1));
    EXPECT_THROW(decode(b.left(b.size() - 1), true), LoadError);
}

TEST(WmfText, DecodesByCharacterSet) {
    struct Case {
        const char* bytes;
        int charset;
        char16_t want;
    };
    const std::vector<Case> cases = {
        {"\x80", 0, 0x20AC},   // Western: euro
        {"\xE9", 0, 0x00E9},   // Western: e acute
        {"\xC0", 204, 0x0410}, // Cyrillic capital A
        {"\xC1", 161, 0x0391}, // Greek capital alpha
        {"\xA3", 238, 0x0141}, // Central European L with stroke
        {"\x80", 2, 0x0080},   // symbol fonts keep their byte values
    };
    for (const Case& c : cases) {
        const QString text = decodeText(QByteArray(c.bytes), std::uint8_t(c.charset));
        ASSERT_EQ(text.size(), 1) << c.charset;
        EXPECT_EQ(text[0].unicode(), c.want) << "charset " << c.charset;
    }
}

} // namespace
} // namespace pictolune::wmf
