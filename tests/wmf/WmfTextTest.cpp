// Text: where ink appears for the font height, alignment, escapement,
// background and the options of ExtTextOut.
#include "wmf/WmfTestUtil.h"

#include <gtest/gtest.h>

namespace pictolune::test {
namespace {

constexpr QColor kBlue(0, 0, 200);
constexpr QColor kGreen(0, 170, 0);

// Bounding box of everything that is not white.
QRect inkBox(const QImage& img) {
    QRect box;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (!looks(img, x, y, Qt::white, 60))
                box |= QRect(x, y, 1, 1);
    return box;
}

WmfWriter withFont(int height, int weight = 400, int escapement = 0) {
    auto w = canvas();
    w.createFont(height, weight, false, escapement).selectObject(0).setBkMode(1);
    return w;
}

TEST(WmfText, DrawnBelowAndRightOfTheTopLeftReference) {
    auto w = withFont(-20);
    w.textOut(10, 10, "HHH");
    const QRect box = inkBox(renderWmf(w.bytes()));
    ASSERT_FALSE(box.isEmpty());
    EXPECT_GE(box.left(), 10);
    EXPECT_LE(box.left(), 14);
    EXPECT_GE(box.top(), 10);
    // Capitals of a 20-pixel font are about 14 pixels high.
    EXPECT_NEAR(box.height(), 14, 3);
    EXPECT_GT(box.width(), 25);
    EXPECT_LT(box.width(), 60);
}

TEST(WmfText, NegativeHeightIsTheCharacterHeightPositiveTheCell) {
    auto em = withFont(-40);
    em.textOut(5, 5, "H");
    auto cell = withFont(40);
    cell.textOut(5, 5, "H");
    const int emHeight = inkBox(renderWmf(em.bytes())).height();
    const int cellHeight = inkBox(renderWmf(cell.bytes())).height();
    EXPECT_NEAR(emHeight, 29, 3);
    EXPECT_LT(cellHeight, emHeight - 2);
}

TEST(WmfText, ScalesWithTheRenderSize) {
    auto w = withFont(-20);
    w.textOut(10, 10, "HHH");
    const QRect small = inkBox(renderWmf(w.bytes()));
    const QRect big = inkBox(renderWmf(w.bytes(), {300, 300}));
    EXPECT_NEAR(big.height(), 3 * small.height(), 4);
    EXPECT_NEAR(big.width(), 3 * small.width(), 8);
}

TEST(WmfText, Alignment) {
    struct Case {
        int align;
        bool leftOfX, rightOfX, aboveY, belowY;
    };
    // Reference point (50, 50); capitals only, so nothing hangs below the baseline.
    const std::vector<Case> cases = {
        {0, false, true, false, true},   // left, top
        {2, true, false, false, true},   // right, top
        {6, true, true, false, true},    // centre, top
        {24, false, true, true, false},  // left, baseline
        {8 | 6, true, true, true, false} // centre, bottom
    };
    for (const Case& c : cases) {
        auto w = withFont(-20);
        w.setTextAlign(c.align).textOut(50, 50, "HHH");
        const QRect box = inkBox(renderWmf(w.bytes()));
        ASSERT_FALSE(box.isEmpty()) << c.align;
        EXPECT_EQ(box.left() < 48, c.leftOfX) << "align " << c.align;
        EXPECT_EQ(box.right() > 52, c.rightOfX) << "align " << c.align;
        EXPECT_EQ(box.top() < 48, c.aboveY) << "align " << c.align;
        EXPECT_EQ(box.bottom() > 52, c.belowY) << "align " << c.align;
    }
}

TEST(WmfText, EscapementTurnsTheLineCounterClockwise) {
    auto w = withFont(-14, 400, 900);
    w.setTextAlign(24).textOut(50, 90, "HHHHHH");
    const QRect box = inkBox(renderWmf(w.bytes()));
    ASSERT_FALSE(box.isEmpty());
    EXPECT_GT(box.height(), 2 * box.width());
    EXPECT_LE(box.bottom(), 91);
    EXPECT_LE(box.right(), 51); // the tops of the letters face left
}

TEST(WmfText, ColourWeightAndBackground) {
    auto normal = withFont(-30);
    normal.setTextColor(kBlue).textOut(5, 5, "HHH");
    auto bold = withFont(-30, 700);
    bold.setTextColor(kBlue).textOut(5, 5, "HHH");
    const QImage img = renderWmf(normal.bytes());
    int blue = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x)
            blue += looks(img, x, y, kBlue, 30);
    EXPECT_GT(blue, 50);
    EXPECT_GT(inked(renderWmf(bold.bytes()), QRect(0, 0, 100, 100)),
              inked(img, QRect(0, 0, 100, 100)) + 30);

    // An opaque background fills the text's cell with the background colour.
    auto opaque = withFont(-30);
    opaque.setBkMode(2).setBkColor(kGreen).textOut(5, 5, "HHH");
    const QImage o = renderWmf(opaque.bytes());
    EXPECT_TRUE(looks(o, 6, 7, kGreen));
    EXPECT_TRUE(looks(o, 6, 60, Qt::white));
    EXPECT_TRUE(looks(img, 6, 7, Qt::white));
}

TEST(WmfText, ExtTextOutOpaqueRectangle) {
    auto w = withFont(-10);
    w.setBkColor(kGreen).extTextOut(12, 12, 2, QRect(10, 10, 70, 70), "H");
    const QImage img = renderWmf(w.bytes());
    EXPECT_TRUE(looks(img, 75, 75, kGreen));
    EXPECT_TRUE(looks(img, 11, 75, kGreen));
    EXPECT_TRUE(looks(img, 85, 75, Qt::white));
    EXPECT_TRUE(looks(img, 75, 5, Qt::white));
}

TEST(WmfText, ExtTextOutClippedRectangle) {
    auto w = withFont(-60);
    w.extTextOut(0, 0, 4, QRect(10, 10, 30, 30), "HH");
    const QImage img = renderWmf(w.bytes());
    EXPECT_EQ(inked(img, QRect(0, 0, 100, 9)), 0);
    EXPECT_EQ(inked(img, QRect(41, 0, 59, 100)), 0);
    EXPECT_EQ(inked(img, QRect(0, 41, 100, 59)), 0);
    EXPECT_GT(inked(img, QRect(10, 10, 30, 30)), 100);
}

TEST(WmfText, AdvancesFromTheRecordPlaceTheCharacters) {
    auto w = withFont(-20);
    w.extTextOut(5, 10, 0, std::nullopt, "HH", {70, 10});
    const QImage img = renderWmf(w.bytes());
    EXPECT_GT(inked(img, QRect(5, 10, 15, 20)), 10);
    EXPECT_EQ(inked(img, QRect(25, 0, 45, 100)), 0);
    EXPECT_GT(inked(img, QRect(75, 10, 15, 20)), 10);
}

TEST(WmfText, UpdateCurrentPositionChainsTextOuts) {
    auto w = withFont(-20);
    w.setTextAlign(1).moveTo(5, 10).textOut(0, 0, "HH").textOut(0, 0, "HH");
    auto once = withFont(-20);
    once.textOut(5, 10, "HHHH");
    const QRect chained = inkBox(renderWmf(w.bytes()));
    const QRect single = inkBox(renderWmf(once.bytes()));
    EXPECT_NEAR(chained.left(), single.left(), 1);
    EXPECT_NEAR(chained.right(), single.right(), 2);
    EXPECT_NEAR(chained.top(), single.top(), 1);
}

TEST(WmfText, WesternCodePage) {
    // 0x80 is the euro sign in the Western code page.
    auto w = withFont(-40);
    w.textOut(5, 5, QByteArray("\x80", 1));
    EXPECT_GT(inked(renderWmf(w.bytes()), QRect(0, 0, 100, 100)), 50);
}

// Fraction of the ink box that is inked.
double solidity(const QImage& img) {
    const QRect box = inkBox(img);
    return box.isEmpty() ? 0 : double(inked(img, box)) / (box.width() * box.height());
}

TEST(WmfText, PictureFontsDrawTheirPicturesNotLetters) {
    struct Case {
        const char* face;
        char byte;
    };
    // Each byte is a filled square in its font; as a letter it is far from one.
    const std::vector<Case> cases = {
        {"Wingdings", 'n'}, {"Wingdings 2", '\xA2'}, {"Webdings", 'g'}, {"WINGDINGS", 'n'}};
    for (const Case& c : cases) {
        auto w = canvas();
        w.createFont(-60, 400, false, 0, c.face, 2).selectObject(0).setBkMode(1);
        w.textOut(10, 10, QByteArray(1, c.byte));
        const QImage img = renderWmf(w.bytes());
        const QRect box = inkBox(img);
        EXPECT_GT(solidity(img), 0.8) << c.face;
        EXPECT_NEAR(box.width(), box.height(), 3) << c.face;
    }

    // MT Extra's hat accent is a small mark wider than high, not a dollar sign.
    auto hat = canvas();
    hat.createFont(-60, 400, false, 0, "MT Extra", 2).selectObject(0).setBkMode(1);
    hat.textOut(10, 10, "$");
    const QRect box = inkBox(renderWmf(hat.bytes()));
    ASSERT_FALSE(box.isEmpty());
    EXPECT_LT(box.height(), box.width());
}

TEST(WmfText, PictureCharactersTakeTheRecordsAdvances) {
    auto w = canvas();
    w.createFont(-30, 400, false, 0, "Wingdings", 2).selectObject(0).setBkMode(1);
    w.extTextOut(5, 10, 0, std::nullopt, "nn", {60, 10});
    const QImage img = renderWmf(w.bytes());
    EXPECT_GT(inked(img, QRect(5, 10, 30, 30)), 200);
    EXPECT_EQ(inked(img, QRect(40, 0, 20, 100)), 0);
    EXPECT_GT(inked(img, QRect(65, 10, 30, 30)), 200);
}

TEST(WmfText, MissingFacesKeepTheirKind) {
    // A face that is not installed falls back to one of its kind: the kind
    // the font matcher knows it as, or else the kind the record's byte
    // names. A serif "I" has feet, a sans one is a bar; a fixed-pitch "i" is
    // as wide as an "m".
    auto width = [](const char* face, int pitchAndFamily, const QByteArray& text) {
        auto w = canvas();
        w.createFont(-60, 400, false, 0, face, 0, pitchAndFamily)
            .selectObject(0)
            .setBkMode(1)
            .textOut(5, 5, text);
        return inkBox(renderWmf(w.bytes())).width();
    };
    constexpr int kAny = 0x02, kRoman = 0x12, kSwiss = 0x22, kModern = 0x31;
    const int sans = width("Nonesuch", kSwiss, "I");
    EXPECT_GT(width("Nonesuch", kRoman, "I"), 2 * sans);
    EXPECT_GT(width("Garamond", kAny, "I"), 2 * sans);
    EXPECT_GT(width("MS Serif", kAny, "I"), 2 * sans);
    EXPECT_NEAR(width("Nonesuch", kModern, "i."), width("Nonesuch", kModern, "m."), 3);
    EXPECT_LT(width("Nonesuch", kSwiss, "i.") * 2, width("Nonesuch", kSwiss, "m."));
}

TEST(WmfText, FixedPitchOutweighsAFaceThatIsNotInstalled) {
    // A drawing as Windows-era programs wrote them: filled polygons and a
    // polyline above, three fonts made, two ExtTextOut strings below. Asked
    // for with a fixed pitch, a face that is not installed draws every
    // character as wide, even where a proportional face stands in for it;
    // without the fixed pitch the stand-in stays.
    struct Case {
        const char* face;
        int pitchAndFamily;
        bool fixed;
    };
    const Case cases[] = {
        {"Garamond", 0x31, true}, {"Times New Roman", 0x01, true},  {"Arial", 0x21, true},
        {"Nonesuch", 0x11, true}, {"Times New Roman", 0x30, false}, {"Garamond", 0x02, false}};
    for (const Case& c : cases) {
        auto w = canvas();
        w.createPen(0, 0, Qt::black).selectObject(0);
        for (int i = 0; i < 4; ++i) {
            w.createBrush(0, QColor::fromHsv(i * 80, 200, 200)).selectObject(1);
            w.polygon({{5 + 24 * i, 35}, {20 + 24 * i, 5}, {25 + 24 * i, 30}}).deleteObject(1);
        }
        w.polyline({{0, 40}, {50, 38}, {100, 41}});
        w.createFont(-16, 700, false, 0, c.face, 0, c.pitchAndFamily).selectObject(1);
        w.createFont(-16, 400, false, 0, c.face, 0, c.pitchAndFamily);
        w.createFont(-16, 400, false, 0, "DejaVu Sans", 0, 0x22);
        w.setBkMode(1).extTextOut(5, 50, 0, std::nullopt, "iiiii");
        w.selectObject(2).extTextOut(5, 75, 0, std::nullopt, "mmmmm");
        const QImage img = renderWmf(w.bytes());
        const int narrow = inkBox(img.copy(0, 48, 100, 25)).width();
        const int wide = inkBox(img.copy(0, 73, 100, 27)).width();
        if (c.fixed)
            EXPECT_NEAR(narrow, wide, 8) << c.face << " " << c.pitchAndFamily;
        else
            EXPECT_LT(narrow * 2, wide) << c.face << " " << c.pitchAndFamily;
    }
}

} // namespace
} // namespace pictolune::test
