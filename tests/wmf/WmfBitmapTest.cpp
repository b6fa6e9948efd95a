// Bitmaps of every depth and compression, the block-transfer records and
// their raster operations.
#include "wmf/WmfTestUtil.h"

#include <gtest/gtest.h>

namespace pictolune::test {
namespace {

constexpr QColor kRed(220, 0, 0);
constexpr QColor kGreen(0, 180, 0);
constexpr QColor kBlue(0, 0, 220);
constexpr QColor kYellow(230, 230, 0);

// An image in four quadrants: `a` top left, `b` top right, `c` bottom
// left, `d` bottom right.
QImage quadrants(int size, QColor a, QColor b, QColor c, QColor d) {
    QImage img(size, size, QImage::Format_RGB32);
    const int h = size / 2;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            img.setPixelColor(x, y, y < h ? (x < h ? a : b) : (x < h ? c : d));
    return img;
}

QImage colourQuadrants(int size = 8) {
    return quadrants(size, kRed, kGreen, kBlue, kYellow);
}

// The quadrants drawn into output rectangle 20..79 each way.
void expectQuadrants(const QImage& img, QColor a, QColor b, QColor c, QColor d,
                     const std::string& what) {
    EXPECT_TRUE(looks(img, 32, 32, a)) << what;
    EXPECT_TRUE(looks(img, 67, 32, b)) << what;
    EXPECT_TRUE(looks(img, 32, 67, c)) << what;
    EXPECT_TRUE(looks(img, 67, 67, d)) << what;
    EXPECT_TRUE(looks(img, 15, 50, Qt::white)) << what;
    EXPECT_TRUE(looks(img, 85, 50, Qt::white)) << what;
    EXPECT_TRUE(looks(img, 50, 15, Qt::white)) << what;
    EXPECT_TRUE(looks(img, 50, 85, Qt::white)) << what;
}

TEST(WmfBitmaps, EveryDepthAndCompression) {
    struct Case {
        int bpp;
        bool rle;
    };
    for (const Case c : {Case{4, false}, Case{4, true}, Case{8, false}, Case{8, true},
                         Case{24, false}, Case{32, false}}) {
        // Odd width: rows need padding, and run-length rows end mid-byte.
        const QImage src = colourQuadrants(14);
        auto w = canvas();
        w.stretchDib(QRect(20, 20, 60, 60), QRect(0, 0, 14, 14), WmfWriter::dib(src, c.bpp, c.rle));
        expectQuadrants(renderWmf(w.bytes()), kRed, kGreen, kBlue, kYellow,
                        std::to_string(c.bpp) + (c.rle ? " bits, compressed" : " bits"));
    }
    // One bit: two colours.
    auto w = canvas();
    w.stretchDib(QRect(20, 20, 60, 60), QRect(0, 0, 10, 10),
                 WmfWriter::dib(quadrants(10, Qt::black, kRed, kRed, Qt::black), 1));
    expectQuadrants(renderWmf(w.bytes()), Qt::black, kRed, kRed, Qt::black, "1 bit");
}

TEST(WmfBitmaps, TransferRecords) {
    const QByteArray dib = WmfWriter::dib(colourQuadrants(60), 24);
    auto stretch = canvas();
    stretch.dibStretchBlt(QRect(20, 20, 60, 60), QRect(0, 0, 60, 60), dib);
    expectQuadrants(renderWmf(stretch.bytes()), kRed, kGreen, kBlue, kYellow, "stretch blt");

    auto bitblt = canvas();
    bitblt.dibBitBlt(QPoint(20, 20), QRect(0, 0, 60, 60), dib);
    expectQuadrants(renderWmf(bitblt.bytes()), kRed, kGreen, kBlue, kYellow, "bit blt");
}

TEST(WmfBitmaps, NegativeWidthMirrors) {
    auto w = canvas();
    w.stretchDib(QRect(80, 20, -60, 60), QRect(0, 0, 8, 8), WmfWriter::dib(colourQuadrants(), 24));
    expectQuadrants(renderWmf(w.bytes()), kGreen, kRed, kYellow, kBlue, "mirrored");
}

TEST(WmfBitmaps, SourceRectangle) {
    const QByteArray dib = WmfWriter::dib(colourQuadrants(), 24);
    // StretchDIB counts the source from the bitmap's bottom row: y 4..7 up
    // from the bottom is the top half, so x 4..7 of it is the green quadrant.
    auto w = canvas();
    w.stretchDib(QRect(20, 20, 60, 60), QRect(4, 4, 4, 4), dib);
    const QImage img = renderWmf(w.bytes());
    EXPECT_TRUE(looks(img, 30, 30, kGreen));
    EXPECT_TRUE(looks(img, 70, 70, kGreen));

    // DIBStretchBlt counts from the top.
    auto b = canvas();
    b.dibStretchBlt(QRect(20, 20, 60, 60), QRect(0, 4, 4, 4), dib);
    const QImage bi = renderWmf(b.bytes());
    EXPECT_TRUE(looks(bi, 30, 30, kBlue));
    EXPECT_TRUE(looks(bi, 70, 70, kBlue));
}

TEST(WmfBitmaps, SharpWhenEnlarged) {
    // Bitmaps are drawn from their own pixels at the output size: the
    // quadrant border stays within a couple of pixels at eight times.
    auto w = canvas();
    w.stretchDib(QRect(20, 20, 60, 60), QRect(0, 0, 8, 8), WmfWriter::dib(colourQuadrants(), 24));
    const QImage img = renderWmf(w.bytes(), {800, 800});
    EXPECT_TRUE(looks(img, 390, 300, kRed, 60));
    EXPECT_TRUE(looks(img, 410, 300, kGreen, 60));
}

TEST(WmfBitmaps, PatternBlocks) {
    struct Case {
        const char* name;
        std::uint32_t rop;
        QColor under;
        QColor want;
    };
    const std::vector<Case> cases = {
        {"pattern copy", 0x00F00021, Qt::white, kBlue},
        {"destination invert", 0x00550009, Qt::white, Qt::black},
        {"blackness", 0x00000042, Qt::white, Qt::black},
        {"whiteness", 0x00FF0062, kRed, Qt::white},
        {"pattern invert", 0x005A0049, Qt::white, QColor(255, 255, 35)},
        {"nothing", 0x00AA0029, kRed, kRed},
    };
    for (const Case& c : cases) {
        for (const bool viaDibBitBlt : {false, true}) {
            auto w = canvas();
            w.createPen(5, 0, Qt::black).selectObject(0);
            w.createBrush(0, c.under).selectObject(1).rectangle(0, 0, 100, 100);
            w.createBrush(0, kBlue).selectObject(2);
            if (viaDibBitBlt)
                w.dibBitBltNoBitmap(QRect(20, 20, 60, 60), c.rop);
            else
                w.patBlt(QRect(20, 20, 60, 60), c.rop);
            const QImage img = renderWmf(w.bytes());
            EXPECT_TRUE(looks(img, 50, 50, c.want, 5))
                << c.name << (viaDibBitBlt ? " (bit blt)" : "") << " gives "
                << img.pixelColor(50, 50).name().toStdString();
            EXPECT_TRUE(looks(img, 10, 10, c.under, 5)) << c.name;
        }
    }
}

TEST(WmfBitmaps, MaskAndInvertMakeTransparency) {
    // The classic two-step: AND a mask (black where the sprite is), then XOR
    // the sprite (black around it). Around the sprite the green stays.
    const QImage mask = quadrants(8, Qt::black, Qt::white, Qt::white, Qt::white);
    const QImage sprite = quadrants(8, kRed, Qt::black, Qt::black, Qt::black);
    auto w = canvas();
    w.createPen(5, 0, Qt::black).selectObject(0);
    w.createBrush(0, kGreen).selectObject(1).rectangle(0, 0, 100, 100);
    w.stretchDib(QRect(20, 20, 60, 60), QRect(0, 0, 8, 8), WmfWriter::dib(mask, 1), 0x008800C6);
    w.stretchDib(QRect(20, 20, 60, 60), QRect(0, 0, 8, 8), WmfWriter::dib(sprite, 24), 0x00660046);
    const QImage img = renderWmf(w.bytes());
    EXPECT_TRUE(looks(img, 32, 32, kRed, 10));
    EXPECT_TRUE(looks(img, 67, 32, kGreen, 10));
    EXPECT_TRUE(looks(img, 67, 67, kGreen, 10));
    EXPECT_TRUE(looks(img, 10, 10, kGreen, 10));
}

TEST(WmfBitmaps, MaskThenPictureIsAPictureWithTransparency) {
    // A grey mask with SRCPAINT, then the picture with SRCAND over the same
    // rectangle: the mask is the picture's opacity. Where it is clear the
    // picture is black, which a literal replay would show.
    const QImage mask = quadrants(8, Qt::white, Qt::black, QColor(128, 128, 128), Qt::white);
    const QImage picture = quadrants(8, kBlue, Qt::black, Qt::black, kRed);
    auto w = canvas();
    w.createPen(5, 0, Qt::black).selectObject(0);
    w.createBrush(0, kGreen).selectObject(1).rectangle(0, 0, 100, 100);
    w.stretchDib(QRect(20, 20, 60, 60), QRect(0, 0, 8, 8), WmfWriter::dib(mask, 8), 0x00EE0086);
    w.stretchDib(QRect(20, 20, 60, 60), QRect(0, 0, 8, 8), WmfWriter::dib(picture, 24), 0x008800C6);
    const QImage img = renderWmf(w.bytes());
    EXPECT_TRUE(looks(img, 32, 32, kBlue, 10));
    EXPECT_TRUE(looks(img, 67, 32, kGreen, 10));
    EXPECT_TRUE(looks(img, 32, 67, QColor(0, kGreen.green() / 2, 0), 12)); // a half shadow
    EXPECT_TRUE(looks(img, 67, 67, kRed, 10));
    EXPECT_TRUE(looks(img, 10, 10, kGreen, 10));
}

} // namespace
} // namespace pictolune::test
