// Window, viewport and map modes: the same square must land in the same
// place however the file maps its coordinates.
#include "wmf/WmfTestUtil.h"

#include <gtest/gtest.h>

#include <functional>

namespace pictolune::test {
namespace {

constexpr QColor kRed(220, 0, 0);

struct MappingCase {
    const char* name;
    std::function<QByteArray()> make;
};

// Every case draws a red square that must cover output pixels 25..74 of a
// 100 x 100 render, and nothing else.
void expectSquare(const QImage& img, const char* name) {
    EXPECT_TRUE(looks(img, 27, 27, kRed)) << name;
    EXPECT_TRUE(looks(img, 72, 72, kRed)) << name;
    EXPECT_TRUE(looks(img, 50, 50, kRed)) << name;
    EXPECT_TRUE(looks(img, 22, 50, Qt::white)) << name;
    EXPECT_TRUE(looks(img, 77, 50, Qt::white)) << name;
    EXPECT_TRUE(looks(img, 50, 22, Qt::white)) << name;
    EXPECT_TRUE(looks(img, 50, 77, Qt::white)) << name;
}

WmfWriter& redBrush(WmfWriter& w) {
    return w.createPen(5, 0, Qt::black).selectObject(0).createBrush(0, kRed).selectObject(1);
}

QByteArray placeableDirect() {
    auto w = canvas();
    redBrush(w).rectangle(25, 25, 75, 75);
    return w.bytes();
}

QByteArray placeableOwnWindow() {
    // The file's window, in units of its own, fills the whole picture.
    auto w = canvas();
    redBrush(w).setWindowOrg(1000, 1000).setWindowExt(2000, 2000);
    w.rectangle(1500, 1500, 2500, 2500);
    return w.bytes();
}

QByteArray plainWindow() {
    auto w = WmfWriter::plain();
    w.setWindowOrg(-100, -100).setWindowExt(200, 200);
    redBrush(w).rectangle(-50, -50, 50, 50);
    return w.bytes();
}

QByteArray plainUpsideDown() {
    // y grows upward: the window's extent is negative.
    auto w = WmfWriter::plain();
    w.setWindowOrg(0, 100).setWindowExt(100, -100);
    redBrush(w).rectangle(25, 75, 75, 25);
    return w.bytes();
}

QByteArray plainViewport() {
    // A plain file that sets its viewport too is as large as that viewport.
    auto w = WmfWriter::plain();
    w.setWindowExt(1000, 1000).setViewportOrg(10, 10).setViewportExt(200, 200);
    redBrush(w).rectangle(250, 250, 750, 750);
    return w.bytes();
}

QByteArray viewportChange() {
    // A viewport of half the picture, moved to its middle.
    auto w = canvas();
    redBrush(w).setViewportOrg(25, 25).setViewportExt(50, 50).setWindowExt(10, 10);
    w.rectangle(0, 0, 10, 10);
    return w.bytes();
}

QByteArray offsetAndScale() {
    auto w = canvas();
    // 10 x 10 scaled to 200 x 200, origin moved to (-50, -50): two units a pixel.
    redBrush(w).setWindowExt(10, 10).scaleWindowExt(20, 1, 40, 2).offsetWindowOrg(-50, -50);
    w.rectangle(0, 0, 100, 100);
    return w.bytes();
}

QByteArray isotropic() {
    // An isotropic mapping keeps units square: 200 x 100 window on the
    // 100 x 100 viewport gives half a pixel per unit both ways.
    auto w = canvas();
    redBrush(w).setMapMode(7).setWindowExt(200, 100).setViewportExt(100, 100);
    w.rectangle(50, 50, 150, 150);
    return w.bytes();
}

QByteArray loEnglish() {
    // Hundredths of an inch, y upward, on a 1-inch page of 100 units.
    auto w = WmfWriter::placeable(QRect(0, 0, 100, 100), 100);
    redBrush(w).setMapMode(4).rectangle(25, -25, 75, -75);
    return w.bytes();
}

QByteArray textMode() {
    // Device units, whatever the window says.
    auto w = canvas();
    redBrush(w).setMapMode(1).setWindowExt(1, 1).rectangle(25, 25, 75, 75);
    return w.bytes();
}

QByteArray savedMapping() {
    auto w = canvas();
    redBrush(w).saveDC().setWindowExt(1, 1).setMapMode(1).saveDC().restoreDC(1);
    w.rectangle(25, 25, 75, 75);
    return w.bytes();
}

class Mapping : public ::testing::TestWithParam<MappingCase> {};

TEST_P(Mapping, SquareLandsInTheMiddle) {
    expectSquare(renderWmf(GetParam().make()), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(Wmf, Mapping,
                         ::testing::Values(MappingCase{"placeable", placeableDirect},
                                           MappingCase{"own_window", placeableOwnWindow},
                                           MappingCase{"plain", plainWindow},
                                           MappingCase{"upside_down", plainUpsideDown},
                                           MappingCase{"plain_viewport", plainViewport},
                                           MappingCase{"viewport", viewportChange},
                                           MappingCase{"offset_scale", offsetAndScale},
                                           MappingCase{"isotropic", isotropic},
                                           MappingCase{"lo_english", loEnglish},
                                           MappingCase{"text_mode", textMode},
                                           MappingCase{"restored", savedMapping}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WmfMapping, RenderedSharpAtAnySize) {
    // At eight times the own size the edge is still within a pixel of where
    // it belongs, not a blurred scale-up.
    const QImage img = renderWmf(placeableDirect(), {800, 800});
    EXPECT_TRUE(looks(img, 200, 400, kRed, 10));
    EXPECT_TRUE(looks(img, 198, 400, Qt::white, 10));
    EXPECT_TRUE(looks(img, 599, 400, kRed, 10));
    EXPECT_TRUE(looks(img, 601, 400, Qt::white, 10));
}

TEST(WmfMapping, StretchesToTheRequestedShape) {
    const QImage img = renderWmf(placeableDirect(), {200, 100});
    EXPECT_EQ(img.size(), QSize(200, 100));
    EXPECT_TRUE(looks(img, 55, 50, kRed));
    EXPECT_TRUE(looks(img, 45, 50, Qt::white));
    EXPECT_TRUE(looks(img, 145, 50, kRed));
    EXPECT_TRUE(looks(img, 155, 50, Qt::white));
}

struct SizeCase {
    const char* name;
    QByteArray bytes;
    QSize own;
};

TEST(WmfMapping, OwnSize) {
    auto plainWith = [](int w, int h) {
        auto m = WmfWriter::plain();
        m.setWindowExt(w, h).rectangle(0, 0, 10, 10);
        return m.bytes();
    };
    auto drawsOnly = WmfWriter::plain();
    drawsOnly.rectangle(10, 20, 210, 120);
    const std::vector<SizeCase> cases = {
        {"two by one inches",
         WmfWriter::placeable(QRect(0, 0, 2880, 1440), 1440).bytes(),
         {192, 96}},
        {"centimetres",
         WmfWriter::placeable(QRect(-500, -500, 1000, 500), 254).bytes(),
         {378, 189}},
        {"plain window", plainWith(800, 600), {800, 600}},
        {"plain window, negative height", plainWith(400, -300), {400, 300}},
        {"plain window too large", plainWith(20000, 10000), {1024, 512}},
        {"plain window too small", plainWith(8, 4), {32, 16}},
        {"plain viewport", plainViewport(), {200, 200}},
        // No window at all: the extent of the drawing, pen included.
        {"plain without window", drawsOnly.bytes(), {201, 101}},
    };
    for (const SizeCase& c : cases) {
        const Picture pic = loadWmf(c.bytes);
        EXPECT_TRUE(pic.isVector()) << c.name;
        EXPECT_NEAR(pic.size().width(), c.own.width(), 1) << c.name;
        EXPECT_NEAR(pic.size().height(), c.own.height(), 1) << c.name;
    }
}

TEST(WmfMapping, PlainWithoutWindowShowsItsDrawing) {
    auto w = WmfWriter::plain();
    redBrush(w).rectangle(1000, 1000, 1100, 1100);
    const QImage img = renderWmf(w.bytes());
    EXPECT_TRUE(looks(img, 50, 50, kRed));
    EXPECT_TRUE(looks(img, 5, 5, kRed));
}

TEST(WmfMapping, ChecksumNeedNotMatch) {
    QByteArray bytes = placeableDirect();
    bytes[20] = char(bytes[20] ^ 0x5A);
    expectSquare(renderWmf(bytes), "bad checksum");
}

} // namespace
} // namespace pictolune::test
