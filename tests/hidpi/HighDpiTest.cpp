#include "support/DisplayFixture.h"

#include <QPixmap>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace pictolune;
using namespace pictolune::testing;

namespace {

// Runs on a screen of device pixel ratio 2 (ctest sets the platform).
class HighDpiTest : public ::testing::Test, protected DisplayFixture {
protected:
    HighDpiTest() : DisplayFixture({400, 300}) {}

    void SetUp() override {
        if (window.devicePixelRatioF() != 2)
            GTEST_SKIP() << "needs the high-DPI offscreen screen that ctest selects";
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    void show(const QImage& picture) {
        const QString path = dir.filePath("p.bmp");
        ASSERT_TRUE(picture.save(path, "BMP"));
        catalogueOf({path});
        DisplayFixture::show();
        ASSERT_TRUE(image1.visible());
    }

    QTemporaryDir dir;
};

// One picture pixel to one screen pixel: a checkerboard of single pixels
// comes back from the screen unchanged.
TEST_F(HighDpiTest, OwnSizeIsDrawnPixelForPixel) {
    QImage board(60, 40, QImage::Format_RGB32);
    for (int y = 0; y < board.height(); ++y)
        for (int x = 0; x < board.width(); ++x)
            board.setPixel(x, y, (x + y) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 255));
    show(board);
    EXPECT_EQ(image1.width(), 30); // own size in pixels of the window
    EXPECT_EQ(image1.height(), 20);

    const QImage screen = window.grab().toImage();
    ASSERT_EQ(screen.devicePixelRatio(), 2);
    const QPoint origin(qRound(image1.left() * 2), qRound(image1.top() * 2));
    for (int y = 0; y < board.height(); ++y)
        for (int x = 0; x < board.width(); ++x)
            ASSERT_EQ(screen.pixel(origin + QPoint(x, y)), board.pixel(x, y)) << x << "," << y;
}

// A picture scaled down is decoded and drawn at device resolution, not at
// the window's coarser pixels.
TEST_F(HighDpiTest, ScaledPictureIsDecodedAtDeviceResolution) {
    QImage wide(2000, 1000, QImage::Format_RGB32);
    wide.fill(Qt::darkRed);
    show(wide);
    EXPECT_EQ(image1.width(), 400);
    EXPECT_EQ(image1.height(), 200);
    EXPECT_EQ(image1.picture().raster().size(), QSize(800, 400));
}

} // namespace
