// Shapes, pens and brushes, checked pixel by pixel on a 100 x 100 canvas
// where one unit is one pixel.
#include "wmf/WmfTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace pictolune::test {
namespace {

constexpr QColor kRed(220, 0, 0);
constexpr QColor kBlue(0, 0, 220);
constexpr QColor kGreen(0, 160, 0);

// A canvas with a null pen and a red brush selected (objects 0 and 1).
WmfWriter filled() {
    auto w = canvas();
    w.createPen(5, 0, Qt::black).createBrush(0, kRed).selectObject(0).selectObject(1);
    return w;
}

struct ShapeCase {
    const char* name;
    std::function<void(WmfWriter&)> draw;
    std::vector<QPoint> inside;
    std::vector<QPoint> outside;
};

class Shapes : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(Shapes, FillWhereTheShapeIsAndNowhereElse) {
    const ShapeCase& c = GetParam();
    auto w = filled();
    c.draw(w);
    const QImage img = renderWmf(w.bytes());
    for (const QPoint& p : c.inside)
        EXPECT_TRUE(looks(img, p.x(), p.y(), kRed))
            << c.name << " inside at " << p.x() << "," << p.y();
    for (const QPoint& p : c.outside)
        EXPECT_TRUE(looks(img, p.x(), p.y(), Qt::white))
            << c.name << " outside at " << p.x() << "," << p.y();
}

const std::vector<QPoint> kStar = {{50, 5}, {78, 90}, {5, 35}, {95, 35}, {22, 90}};

INSTANTIATE_TEST_SUITE_P(
    Wmf, Shapes,
    ::testing::Values(ShapeCase{"rectangle",
                                [](WmfWriter& w) { w.rectangle(20, 30, 80, 60); },
                                {{21, 31}, {50, 45}, {78, 58}},
                                {{18, 45}, {82, 45}, {50, 28}, {50, 62}}},
                      ShapeCase{"ellipse",
                                [](WmfWriter& w) { w.ellipse(10, 10, 90, 90); },
                                {{50, 50}, {12, 50}, {50, 87}},
                                {{13, 13}, {87, 87}, {13, 87}, {5, 50}}},
                      ShapeCase{"round rectangle",
                                [](WmfWriter& w) { w.roundRect(10, 10, 90, 90, 40, 40); },
                                {{50, 50}, {12, 50}, {50, 12}},
                                {{11, 11}, {88, 88}, {11, 88}}},
                      // Pie from the right radial counter-clockwise to the top one: the
                      // upper right quarter of the circle.
                      ShapeCase{"pie",
                                [](WmfWriter& w) {
                                    w.arcLike(0x081A, QRect(10, 10, 80, 80), QPoint(90, 50),
                                              QPoint(50, 10));
                                },
                                {{65, 35}, {52, 20}, {80, 48}},
                                {{35, 35}, {35, 65}, {65, 65}}},
                      // Same radials swapped: three quarters, all but the upper right.
                      ShapeCase{"pie the long way",
                                [](WmfWriter& w) {
                                    w.arcLike(0x081A, QRect(10, 10, 80, 80), QPoint(50, 10),
                                              QPoint(90, 50));
                                },
                                {{35, 35}, {35, 65}, {65, 65}},
                                {{65, 35}}},
                      // Chord over the same quarter: only the segment beyond the chord.
                      ShapeCase{"chord",
                                [](WmfWriter& w) {
                                    w.arcLike(0x0830, QRect(10, 10, 80, 80), QPoint(90, 50),
                                              QPoint(50, 10));
                                },
                                {{75, 25}},
                                {{60, 40}, {35, 35}, {65, 65}}},
                      ShapeCase{"polygon, alternate fill leaves the star's middle empty",
                                [](WmfWriter& w) { w.setPolyFillMode(1).polygon(kStar); },
                                {{50, 15}, {12, 37}},
                                {{50, 50}, {5, 80}}},
                      ShapeCase{"polygon, winding fill fills it",
                                [](WmfWriter& w) { w.setPolyFillMode(2).polygon(kStar); },
                                {{50, 15}, {50, 50}},
                                {{5, 80}}},
                      ShapeCase{"poly-polygon with a hole",
                                [](WmfWriter& w) {
                                    w.polyPolygon({{{10, 10}, {90, 10}, {90, 90}, {10, 90}},
                                                   {{30, 30}, {70, 30}, {70, 70}, {30, 70}}});
                                },
                                {{20, 20}, {80, 80}},
                                {{50, 50}, {5, 5}}}),
    [](const ::testing::TestParamInfo<ShapeCase>& info) {
        std::string name;
        for (const char* p = info.param.name; *p; ++p)
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

TEST(WmfPens, WidthIsInLogicalUnits) {
    auto w = canvas();
    w.createPen(0, 20, kBlue).selectObject(0).moveTo(10, 50).lineTo(90, 50);
    const QImage img = renderWmf(w.bytes());
    EXPECT_TRUE(looks(img, 50, 50, kBlue));
    EXPECT_TRUE(looks(img, 50, 42, kBlue));
    EXPECT_TRUE(looks(img, 50, 58, kBlue));
    EXPECT_TRUE(looks(img, 50, 35, Qt::white));
    EXPECT_TRUE(looks(img, 50, 65, Qt::white));

    // Twice the size, twice as wide.
    const QImage big = renderWmf(w.bytes(), {200, 200});
    EXPECT_TRUE(looks(big, 100, 83, kBlue));
    EXPECT_TRUE(looks(big, 100, 70, Qt::white));
}

TEST(WmfPens, ZeroWidthIsAThinLineAndNullPenDrawsNothing) {
    auto w = canvas();
    w.createPen(0, 0, Qt::black).createPen(5, 0, Qt::black).createBrush(1, Qt::black);
    w.selectObject(0).selectObject(2).rectangle(10, 10, 40, 40);
    w.selectObject(1).createBrush(0, kGreen).selectObject(3).rectangle(60, 60, 90, 90);
    const QImage img = renderWmf(w.bytes());
    // Hollow outline: ink on the edge, none a few pixels in or out.
    EXPECT_GT(inked(img, QRect(9, 24, 3, 2)), 0);
    EXPECT_EQ(inked(img, QRect(14, 14, 22, 22)), 0);
    EXPECT_EQ(inked(img, QRect(0, 0, 7, 100)), 0);
    // No outline around the green square: its border pixels are green.
    EXPECT_TRUE(looks(img, 61, 75, kGreen));
    EXPECT_FALSE(looks(img, 60, 75, Qt::black, 60));
}

TEST(WmfPens, MitreJoinBevelsPastTheLimit) {
    // A wide pen with mitre joins and flat ends: the right angle keeps its
    // mitred corner, the line that turns back ends at the turn.
    auto w = canvas();
    w.createPen(0x2200, 10, kBlue).selectObject(0);
    w.polyline({{10, 20}, {60, 20}, {60, 40}});
    w.polyline({{10, 70}, {60, 70}, {10, 72}});
    const QImage img = renderWmf(w.bytes());
    EXPECT_TRUE(looks(img, 64, 16, kBlue));
    EXPECT_TRUE(looks(img, 58, 71, kBlue));
    EXPECT_EQ(inked(img, QRect(63, 55, 37, 30)), 0);
}

TEST(WmfPens, DashedLineHasGaps) {
    auto w = canvas();
    w.createPen(1, 0, Qt::black).selectObject(0).setBkMode(1).moveTo(0, 50).lineTo(100, 50);
    const QImage img = renderWmf(w.bytes());
    int ink = 0;
    int gaps = 0;
    for (int x = 0; x < 100; ++x)
        (looks(img, x, 50, Qt::white, 60) ? gaps : ink)++;
    EXPECT_GT(ink, 40);
    EXPECT_GT(gaps, 10);
}

TEST(WmfPens, PolylineIsNotFilled) {
    auto w = filled();
    w.createPen(0, 2, kBlue).selectObject(2).polyline({{10, 10}, {90, 10}, {90, 90}, {10, 90}});
    const QImage img = renderWmf(w.bytes());
    EXPECT_TRUE(looks(img, 50, 10, kBlue));
    EXPECT_TRUE(looks(img, 90, 50, kBlue));
    EXPECT_TRUE(looks(img, 50, 50, Qt::white));
    EXPECT_TRUE(looks(img, 10, 50, Qt::white)); // open: no closing edge
}

TEST(WmfPens, LineToFollowsTheCurrentPosition) {
    auto w = canvas();
    w.createPen(0, 4, kBlue).selectObject(0).moveTo(10, 10).lineTo(90, 10).lineTo(90, 90);
    const QImage img = renderWmf(w.bytes());
    EXPECT_TRUE(looks(img, 50, 10, kBlue));
    EXPECT_TRUE(looks(img, 90, 50, kBlue));
    EXPECT_TRUE(looks(img, 50, 50, Qt::white));
}

TEST(WmfPens, SetPixelSetsOnePixel) {
    auto w = canvas();
    w.setPixel(30, 40, kRed);
    const QImage img = renderWmf(w.bytes());
    EXPECT_TRUE(looks(img, 30, 40, kRed));
    EXPECT_EQ(inked(img, img.rect()), 1);
}

TEST(WmfBrushes, HatchLeavesGapsThatShowTheBackgroundWhenOpaque) {
    for (const int mode : {1, 2}) {
        auto w = canvas();
        w.createPen(5, 0, Qt::black).selectObject(0);
        w.createBrush(2, kBlue, 4).selectObject(1).setBkMode(mode).setBkColor(kGreen);
        w.rectangle(0, 0, 100, 100);
        const QImage img = renderWmf(w.bytes());
        int blue = 0;
        int white = 0;
        int green = 0;
        for (int y = 20; y < 80; ++y)
            for (int x = 20; x < 80; ++x) {
                blue += looks(img, x, y, kBlue, 60);
                white += looks(img, x, y, Qt::white, 30);
                green += looks(img, x, y, kGreen, 30);
            }
        EXPECT_GT(blue, 300) << "mode " << mode;
        if (mode == 1) {
            EXPECT_GT(white, 1000);
            EXPECT_EQ(green, 0);
        } else {
            EXPECT_GT(green, 1000);
            EXPECT_EQ(white, 0);
        }
    }
}

TEST(WmfBrushes, NullBrushLeavesTheInsideAlone) {
    auto w = canvas();
    w.createBrush(0, kGreen).selectObject(0).rectangle(0, 0, 100, 100);
    w.createBrush(1, kRed).selectObject(1).ellipse(20, 20, 80, 80);
    const QImage img = renderWmf(w.bytes());
    EXPECT_TRUE(looks(img, 50, 50, kGreen));
    EXPECT_FALSE(looks(img, 50, 20, kGreen)); // the black outline
}

TEST(WmfBrushes, DibPatternRepeats) {
    // 2 x 2 pattern: red on the diagonal, blue off it.
    QImage pattern(2, 2, QImage::Format_RGB32);
    pattern.setPixel(0, 0, QColor(kRed).rgb());
    pattern.setPixel(1, 1, QColor(kRed).rgb());
    pattern.setPixel(1, 0, QColor(kBlue).rgb());
    pattern.setPixel(0, 1, QColor(kBlue).rgb());
    auto w = canvas();
    w.createPen(5, 0, Qt::black).selectObject(0);
    w.createPatternBrush(WmfWriter::dib(pattern, 24)).selectObject(1).rectangle(0, 0, 100, 100);
    // Rendered at four times the own size, each pattern pixel is 4 x 4.
    const QImage img = renderWmf(w.bytes(), {400, 400});
    EXPECT_TRUE(looks(img, 161, 161, kRed, 10));
    EXPECT_TRUE(looks(img, 165, 161, kBlue, 10));
    EXPECT_TRUE(looks(img, 161, 165, kBlue, 10));
    EXPECT_TRUE(looks(img, 165, 165, kRed, 10));
}

TEST(WmfBrushes, PaletteIndexColours) {
    auto w = canvas();
    w.createPalette({Qt::black, kGreen, kBlue}).selectPalette(0).record(0x0035, std::vector<int>{});
    w.createPen(5, 0, Qt::black).selectObject(1);
    // A brush whose colour is entry 2 of the palette.
    w.record(0x02FC, {0, 2, 0x0100, 0}).selectObject(2).rectangle(0, 0, 100, 100);
    const QImage img = renderWmf(w.bytes());
    EXPECT_TRUE(looks(img, 50, 50, kBlue, 5));
}

TEST(WmfObjects, NewObjectTakesTheLowestFreeSlot) {
    auto w = canvas();
    w.objectCount(3).createPen(5, 0, Qt::black).selectObject(0);
    w.createBrush(0, kRed).createBrush(0, kBlue); // slots 1 and 2
    w.deleteObject(1).createBrush(0, kGreen);     // takes slot 1 again
    w.selectObject(1).rectangle(0, 0, 50, 100).selectObject(2).rectangle(50, 0, 100, 100);
    const QImage img = renderWmf(w.bytes());
    EXPECT_TRUE(looks(img, 25, 50, kGreen, 5));
    EXPECT_TRUE(looks(img, 75, 50, kBlue, 5));
}

TEST(WmfObjects, SelectedObjectOutlivesItsSlot) {
    auto w = filled();
    w.deleteObject(1).rectangle(10, 10, 90, 90);
    const QImage img = renderWmf(w.bytes());
    EXPECT_TRUE(looks(img, 50, 50, kRed, 5));
}

TEST(WmfClip, IntersectAndExclude) {
    auto w = filled();
    w.intersectClipRect(20, 20, 80, 80).excludeClipRect(40, 40, 60, 60);
    w.rectangle(0, 0, 100, 100);
    const QImage img = renderWmf(w.bytes());
    EXPECT_TRUE(looks(img, 25, 25, kRed, 5));
    EXPECT_TRUE(looks(img, 75, 75, kRed, 5));
    EXPECT_TRUE(looks(img, 10, 10, Qt::white, 5));
    EXPECT_TRUE(looks(img, 90, 50, Qt::white, 5));
    EXPECT_TRUE(looks(img, 50, 50, Qt::white, 5));
}

TEST(WmfClip, RestoreDcRestoresTheClip) {
    auto w = filled();
    w.saveDC().intersectClipRect(0, 0, 10, 10).restoreDC(-1).rectangle(0, 0, 100, 100);
    const QImage img = renderWmf(w.bytes());
    EXPECT_TRUE(looks(img, 50, 50, kRed, 5));
}

struct RopCase {
    int rop2;
    QColor under; // what the rectangle is drawn over
    QColor want;
};

TEST(WmfRop2, CommonModes) {
    const std::vector<RopCase> cases = {
        {13, Qt::white, kRed},                        // copy pen
        {11, Qt::white, Qt::white},                   // no operation
        {6, Qt::white, Qt::black},                    // invert the screen
        {6, Qt::black, Qt::white},                    //
        {7, Qt::white, QColor(255 - 220, 255, 255)},  // xor with red
        {1, Qt::white, Qt::black},                    // black
        {4, Qt::white, QColor(35, 255, 255)},         // inverted pen
        {9, QColor(0, 255, 0), Qt::black},            // red and green
        {15, QColor(0, 255, 0), QColor(220, 255, 0)}, // red or green
    };
    for (const RopCase& c : cases) {
        auto w = canvas();
        w.createPen(5, 0, Qt::black).selectObject(0);
        w.createBrush(0, c.under).selectObject(1).rectangle(0, 0, 100, 100);
        w.createBrush(0, kRed).selectObject(2).setRop2(c.rop2).rectangle(20, 20, 80, 80);
        const QImage img = renderWmf(w.bytes());
        EXPECT_TRUE(looks(img, 50, 50, c.want, 5))
            << "mode " << c.rop2 << " gives " << img.pixelColor(50, 50).name().toStdString();
        EXPECT_TRUE(looks(img, 10, 10, c.under, 5)) << "mode " << c.rop2;
    }
}

TEST(WmfRop2, ExclusiveOrGradientKeepsItsBands) {
    // A gradient as one writer draws it: bands a fraction of a pixel tall
    // XORed on, the shape filled black, the same bands XORed again. Ten
    // units to the pixel.
    auto w = WmfWriter::placeable(QRect(0, 0, 1000, 1000), 960);
    w.createPen(5, 0, Qt::black).selectObject(0);
    const auto level = [](int y) { return std::min(255, y * 255 / 1000); };
    const auto bands = [&] {
        for (int y = 0; y < 1000; y += 3)
            w.createBrush(0, QColor(level(y), 0, 255 - level(y)))
                .selectObject(1)
                .polygon({{0, y}, {1000, y}, {1000, y + 3}, {0, y + 3}})
                .deleteObject(1);
    };
    w.setRop2(7).intersectClipRect(0, 0, 1000, 1000);
    bands();
    w.setRop2(13).createBrush(0, Qt::black).selectObject(1).ellipse(100, 100, 900, 900);
    w.deleteObject(1).setRop2(7);
    bands();
    w.setRop2(13);
    const QImage img = renderWmf(w.bytes());
    for (int y = 15; y < 85; ++y) {
        const int band = (y * 10 + 5) / 3 * 3; // the band under the pixel's centre
        EXPECT_TRUE(looks(img, 50, y, QColor(level(band), 0, 255 - level(band)), 12))
            << "row " << y << " is " << img.pixelColor(50, y).name().toStdString();
    }
    // Outside the shape the two passes cancel.
    EXPECT_TRUE(looks(img, 12, 12, Qt::white, 2));
    EXPECT_TRUE(looks(img, 88, 88, Qt::white, 2));
}

} // namespace
} // namespace pictolune::test
