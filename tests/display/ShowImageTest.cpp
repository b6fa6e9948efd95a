#include "display/PictureDisplay.h"
#include "platform/base/Random.h"
#include "support/DisplayFixture.h"
#include "support/StderrCapture.h"
#include "support/TestPictures.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

using namespace pictolune;
using namespace pictolune::testing;

namespace {

class ShowImageTest : public ::testing::Test, protected DisplayFixture {
protected:
    ShowImageTest() : DisplayFixture({800, 600}) {}

    QString writePicture(const QString& name, int width, int height) {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        const QString path = dir.filePath(name);
        EXPECT_TRUE(image.save(path, "BMP"));
        return path;
    }

    QString writeText(const QString& name) {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("this is not a picture\n");
        return path;
    }

    // Shows the current picture and answers what the show said on stderr.
    std::string showImageSaying() {
        StderrCapture stderrText;
        show();
        return stderrText.take();
    }

    QTemporaryDir dir;
};

TEST_F(ShowImageTest, SmallPictureIsCentredAtItsOwnSize) {
    const QString path = writePicture("small.bmp", 640, 480);
    catalogueOf({path});
    EXPECT_EQ(showImageSaying(), "");
    EXPECT_TRUE(image1.visible());
    EXPECT_TRUE(image1.stretch());
    EXPECT_EQ(image1.left(), 80);
    EXPECT_EQ(image1.top(), 60);
    EXPECT_EQ(image1.width(), 640);
    EXPECT_EQ(image1.height(), 480);
    EXPECT_EQ(lblFilename.caption(), path);
}

// Drawn at its own size, a picture keeps its pixels as decoded: a BMP's as
// stored, a JPEG's as Qt's reader makes them.
TEST_F(ShowImageTest, SmallPictureIsDrawnPixelForPixel) {
    const QImage stored = photographicImage({300, 200}, 3);
    ASSERT_TRUE(writeBmp(dir.filePath("small.bmp"), stored));
    ASSERT_TRUE(writeJpeg(dir.filePath("small.jpg"), stored));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    for (const QString name : {"small.bmp", "small.jpg"}) {
        SCOPED_TRACE(name.toStdString());
        const QString path = dir.filePath(name);
        catalogueOf({path});
        show();
        ASSERT_EQ(image1.left(), 250);
        ASSERT_EQ(image1.top(), 200);
        const QImage screen = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(screen.copy(250, 200, 300, 200),
                  QImage(path).convertToFormat(QImage::Format_RGB32));
    }
}

TEST_F(ShowImageTest, ExactFitIsDrawnUnscaledFromTheCorner) {
    catalogueOf({writePicture("exact.bmp", 800, 600)});
    show();
    EXPECT_FALSE(image1.stretch());
    EXPECT_EQ(image1.left(), 0);
    EXPECT_EQ(image1.top(), 0);
    EXPECT_EQ(image1.picture().raster().size(), QSize(800, 600));
}

TEST_F(ShowImageTest, LargePictureIsScaledDownAndDecodedNoLarger) {
    catalogueOf({writePicture("large.bmp", 3000, 2000)});
    show();
    EXPECT_EQ(image1.width(), 800);
    EXPECT_EQ(image1.height(), 533.333313f);
    const QSize decoded = image1.picture().raster().size();
    EXPECT_LE(decoded.width(), 800);
    EXPECT_LE(decoded.height(), 534);
}

// Each failure leaves the picture area empty and hidden and keeps the
// caption of the picture shown before; only stderr says why, in one line
// that names the path once.
TEST_F(ShowImageTest, FailuresToLoadLeaveTheAreaEmptyAndTheCaptionAsItWas) {
    const QString good = writePicture("good.bmp", 320, 200);
    const struct {
        QString path;
        std::string reason; // empty: any reason the decoder gives
    } cases[] = {
        {dir.filePath("missing.jpg"), std::strerror(ENOENT)},
        {writeText("text.jpg"), ""},
        {dir.filePath(""), "not a regular file"},
        {dir.filePath("line\nbreak.jpg"), std::strerror(ENOENT)},
        // A C1 control (CSI) that some terminals obey as ESC [.
        {dir.filePath(QString::fromUtf8("csi\u009b2J.jpg")), std::strerror(ENOENT)},
    };
    for (const auto& c : cases) {
        catalogueOf({good, c.path});
        show();
        ASSERT_TRUE(image1.visible());

        catalogue.currentIndex = 1;
        const std::string said = showImageSaying();
        EXPECT_FALSE(image1.visible()) << c.path.toStdString();
        EXPECT_TRUE(image1.picture().isEmpty());
        EXPECT_FALSE(image1.stretch());
        EXPECT_EQ(lblFilename.caption(), good);

        std::string path = c.path.toStdString();
        std::replace(path.begin(), path.end(), '\n', '?');
        if (const std::size_t csi = path.find("\xc2\x9b"); csi != std::string::npos)
            path.replace(csi, 2, "?");
        const std::string start = "pictolune: " + path + ": ";
        ASSERT_EQ(said.rfind(start, 0), 0u) << said;
        const std::string reason = said.substr(start.size());
        if (!c.reason.empty()) {
            EXPECT_EQ(reason, c.reason + "\n");
        }
        EXPECT_GT(reason.size(), 1u);
        EXPECT_EQ(reason.find('\n'), reason.size() - 1) << said;
        EXPECT_EQ(reason.find(path), std::string::npos) << said;
    }
}

TEST_F(ShowImageTest, IndexOutsideTheArrayFailsQuietly) {
    catalogueOf({writePicture("a.bmp", 10, 10)});
    for (std::int32_t index : {-1, 2, 7}) {
        catalogue.currentIndex = index;
        EXPECT_EQ(showImageSaying(),
                  "pictolune: index " + std::to_string(index) + " is outside the list\n");
        EXPECT_FALSE(image1.visible()) << index;
        EXPECT_TRUE(image1.picture().isEmpty());
    }
}

TEST_F(ShowImageTest, AreaOfHeightZeroFailsInTheFitAndRecovers) {
    const QString path = writePicture("a.bmp", 640, 480);
    catalogueOf({path});
    window.resize(800, 0);
    EXPECT_EQ(showImageSaying(), "pictolune: " + path.toStdString() +
                                     ": does not fit into 800 x 0 pixels: Division by zero\n");
    EXPECT_FALSE(image1.visible());
    EXPECT_TRUE(image1.stretch()); // the fit, not the load, failed
    EXPECT_TRUE(image1.picture().isEmpty());

    window.resize(800, 600);
    show();
    EXPECT_TRUE(image1.visible());
    EXPECT_EQ(image1.left(), 80);
}

TEST_F(ShowImageTest, EmptyPathShowsNothingAndClearsTheCaption) {
    catalogueOf({writePicture("a.bmp", 64, 48)});
    show();
    catalogue.currentIndex = 1;       // the spare empty element
    EXPECT_EQ(showImageSaying(), ""); // not a failure
    EXPECT_TRUE(image1.visible());
    EXPECT_TRUE(image1.picture().isEmpty());
    EXPECT_EQ(lblFilename.caption(), QString());
}

TEST_F(ShowImageTest, RandomModeKeepsTheDrawEvenWhenTheShowFails) {
    catalogueOf({dir.filePath("gone1.jpg"), dir.filePath("gone2.jpg"), dir.filePath("gone3.jpg")});
    catalogue.randomMode = true;
    catalogue.currentIndex = 99;
    show();
    EXPECT_GE(catalogue.currentIndex, 0);
    EXPECT_LE(catalogue.currentIndex, 2);
    EXPECT_FALSE(image1.visible());
}

TEST(FilenameCaption, KeepsTheEndOfLongPaths) {
    const QString hundred = "/" + QString(99, 'a');
    EXPECT_EQ(filenameCaption(hundred), hundred);
    const QString longer = "/" + QString(50, 'b') + QString(50, 'c');
    ASSERT_EQ(longer.size(), 101);
    const QString caption = filenameCaption(longer);
    EXPECT_EQ(caption.size(), 100);
    EXPECT_EQ(caption, "..." + longer.right(97));
}

TEST(FilenameCaption, NeverSplitsASurrogatePair) {
    // U+1F600 takes two UTF-16 units; place it where a plain cut would halve it.
    const QString face = QString::fromUcs4(U"\U0001F600");
    QString path = "/" + QString(98 - 96, 'x') + face + QString(96, 'y');
    path.prepend(QString(101 - path.size(), 'p'));
    ASSERT_EQ(path.size(), 101);
    ASSERT_TRUE(path[path.size() - 97].isLowSurrogate());
    const QString caption = filenameCaption(path);
    EXPECT_LE(caption.size(), 100);
    EXPECT_TRUE(caption.endsWith(QString(96, 'y')));
    for (qsizetype i = 0; i < caption.size(); ++i)
        EXPECT_FALSE(caption[i].isLowSurrogate() && (i == 0 || !caption[i - 1].isHighSurrogate()));
}

TEST(DrawIndex, CoversEveryIndexUniformly) {
    RandomSource random;
    random.seed(20261208);
    constexpr int kDraws = 100000;
    constexpr std::int32_t kLast = 4;
    std::array<int, kLast + 1> counts{};
    for (int i = 0; i < kDraws; ++i) {
        const std::int32_t index = drawIndex(random.draw(), kLast);
        ASSERT_GE(index, 0);
        ASSERT_LE(index, kLast);
        ++counts[static_cast<std::size_t>(index)];
    }
    // Chi-square with 4 degrees of freedom; 18.47 is the 0.1 % critical value.
    const double expected = kDraws / 5.0;
    double chiSquare = 0;
    for (int count : counts)
        chiSquare += (count - expected) * (count - expected) / expected;
    EXPECT_LT(chiSquare, 18.47);
}

TEST(DrawIndex, EdgesOfTheRange) {
    EXPECT_EQ(drawIndex(0.0f, -1), 0);
    EXPECT_EQ(drawIndex(0.999f, -1), 0);
    EXPECT_EQ(drawIndex(0.999f, 0), 0);
    EXPECT_EQ(drawIndex(0.0f, 4), 0);
    EXPECT_EQ(drawIndex(0.99999994f, 4), 4);
    EXPECT_LE(drawIndex(0.99999994f, 2147483646), 2147483646);
    EXPECT_GT(drawIndex(0.99999994f, 2147483646), 2147483000);
}

} // namespace
