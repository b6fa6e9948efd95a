// Decoding ahead changes nothing a show gives: the same pictures, captions,
// sizes and failures, with a picture decoded ahead or without.
#include "platform/loading/DecoderPool.h"
#include "platform/protocol/Protocol.h"
#include "support/DisplayFixture.h"
#include "support/Processes.h"
#include "support/StderrCapture.h"
#include "support/TestPictures.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace pictolune;
using namespace pictolune::testing;

namespace {

const QSize kArea(800, 600);

// Whether the decoders read a picture file since `before`: more than the
// few bytes a sanitizer's own thread reads now and then.
bool readAPicture(long long before) {
    return childrenReadBytes() - before > 4096;
}

// Lets the decoders do what they were given: until they stop reading files.
void settle() {
    long long before = -1;
    for (int round = 0; round < 400; ++round) {
        QTest::qWait(10);
        const long long now = childrenReadBytes();
        if (now == before)
            return;
        before = now;
    }
}

// Everything a show sets, in one line a failed comparison prints readably.
std::string shown(const DisplayFixture& f) {
    const PictureBox& p = f.image1;
    const QImage& raster = p.picture().raster();
    const QRgb centre = raster.isNull() ? 0 : raster.pixel(raster.width() / 2, raster.height() / 2);
    return QStringLiteral("#%1 \"%2\" visible %3 stretch %4 at %5,%6 size %7x%8 raster %9x%10 %11")
        .arg(f.catalogue.currentIndex)
        .arg(f.lblFilename.caption())
        .arg(p.visible())
        .arg(p.stretch())
        .arg(p.left())
        .arg(p.top())
        .arg(p.width())
        .arg(p.height())
        .arg(raster.width())
        .arg(raster.height())
        .arg(centre, 8, 16)
        .toStdString();
}

class LookAheadTest : public ::testing::Test {
protected:
    QString write(const QString& name, const std::function<bool(const QString&)>& writer) {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(writer(path)) << name.toStdString();
        return path;
    }

    // Pictures of every kind and size, and two that fail: one that is no
    // picture, and one gone from the disk.
    std::vector<QString> mixedFolder() {
        std::vector<QString> paths = {
            write("a.bmp", [](const QString& p) { return writeBmp(p, QSize(640, 480), 1); }),
            write("b.jpg", [](const QString& p) { return writeJpeg(p, QSize(1600, 1200), 90, 2); }),
            write("c.gif", [](const QString& p) { return writeGif(p, QSize(300, 200), 3); }),
            write("d.jpg", [](const QString& p) { return writeBytes(p, "no picture"); }),
            write("e.tiff", [](const QString& p) { return writeTiff(p, QSize(900, 601), 4); }),
            dir.filePath("f.bmp"),
            write("g.wmf", [](const QString& p) { return writeBytes(p, smallMetafile()); }),
            write("h.jpg",
                  [](const QString& p) {
                      return writeJpegWithOrientation(p, photographicImage(QSize(1200, 900), 5), 6);
                  }),
        };
        return paths;
    }

    // The shows of `count` commands, each command in turn: slideshow ticks,
    // steps back and forth, the first and the last picture (keys 1 and 0),
    // a random draw (Space) and a choice from the number list; with `ahead`,
    // the decoders are given time to decode ahead between them.
    std::vector<std::string> run(const std::vector<QString>& paths, bool random, bool ahead,
                                 int count) {
        DisplayFixture f(kArea);
        f.random.seed(20261208);
        f.catalogueOf(paths);
        f.catalogue.randomMode = random;
        const auto show = [&f] { f.show(); };
        const auto showAt = [&](std::int32_t index) {
            f.catalogue.randomMode = false;
            f.catalogue.currentIndex = index;
            show();
        };
        std::vector<std::string> shows;
        for (int i = 0; i < count; ++i) {
            switch (i % 9) {
            case 2:
                stepPrevious(f.catalogue);
                showImageSequential(f.catalogue, show);
                break;
            case 3:
                stepNext(f.catalogue);
                showImageSequential(f.catalogue, show);
                break;
            case 4:
                showAt(0);
                break;
            case 6:
                showAt(f.catalogue.lastIndex);
                break;
            case 7:
                f.catalogue.randomMode = true;
                show();
                break;
            case 8:
                f.catalogue.currentIndex = i % (f.catalogue.lastIndex + 1);
                showImageSequential(f.catalogue, show);
                break;
            default:
                slideshowTick(f.catalogue, show);
            }
            shows.push_back(shown(f));
            if (ahead)
                settle();
        }
        return shows;
    }

    QTemporaryDir dir;
};

// Without decoder processes the viewer decodes each picture as it is shown,
// and nothing ahead.
TEST_F(LookAheadTest, ShowsTheSameWithAndWithoutIt) {
    const std::vector<QString> paths = mixedFolder();
    for (const bool random : {false, true}) {
        SCOPED_TRACE(random ? "random" : "in order");
        const int count = random ? 200 : 40;
        const std::vector<std::string> with = run(paths, random, true, count);
        const StderrCapture quiet;
        const DecoderPool inViewer(DecoderPool::InViewer{});
        const std::vector<std::string> without = run(paths, random, false, count);
        EXPECT_EQ(with, without);
    }
}

TEST_F(LookAheadTest, AStepFindsItsPictureDecodedAhead) {
    const QString first =
        write("first.jpg", [](const QString& p) { return writeJpeg(p, QSize(1200, 900), 90, 1); });
    const QString second =
        write("second.jpg", [](const QString& p) { return writeJpeg(p, QSize(900, 1200), 90, 2); });
    DisplayFixture f(kArea);
    f.catalogueOf({first, second});
    f.show();
    settle();
    // Both pictures are decoded now: the step reads no file.
    const long long read = childrenReadBytes();
    stepNext(f.catalogue);
    f.show();
    EXPECT_FALSE(readAPicture(read));
    EXPECT_EQ(f.lblFilename.caption(), second);
    EXPECT_EQ(f.image1.picture().raster().size(), QSize(450, 600));
}

// Whatever command reaches the picture decoded ahead: a step, the key for
// the last picture, a choice from the number list.
TEST_F(LookAheadTest, AChangedFileIsLoadedAfresh) {
    enum class Change { Replaced, Rewritten, Deleted };
    enum class Reach { Step, Last, List };
    for (const auto& [change, reach] :
         {std::pair(Change::Replaced, Reach::Step), std::pair(Change::Rewritten, Reach::Step),
          std::pair(Change::Deleted, Reach::Step), std::pair(Change::Replaced, Reach::Last),
          std::pair(Change::Rewritten, Reach::List), std::pair(Change::Deleted, Reach::List)}) {
        SCOPED_TRACE(int(change) * 10 + int(reach));
        QImage red(200, 100, QImage::Format_RGB32);
        red.fill(Qt::red);
        QImage blue(change == Change::Replaced ? 300 : 200, 100, QImage::Format_RGB32);
        blue.fill(Qt::blue);
        const QString first = dir.filePath("first.bmp");
        const QString second = dir.filePath("second.bmp");
        ASSERT_TRUE(writeBmp(first, red) && writeBmp(second, red));

        DisplayFixture f(kArea);
        f.catalogueOf({first, second});
        const long long before = childrenReadBytes();
        f.show();
        settle();
        ASSERT_GE(childrenReadBytes() - before, 2 * QFileInfo(first).size())
            << "the second picture was not decoded ahead";

        switch (change) {
        case Change::Replaced:
            ASSERT_TRUE(writeBmp(dir.filePath("new.bmp"), blue));
            ASSERT_TRUE(QFile::remove(second) && QFile::rename(dir.filePath("new.bmp"), second));
            break;
        case Change::Rewritten:
            ASSERT_TRUE(writeBmp(second, blue));
            break;
        case Change::Deleted:
            ASSERT_TRUE(QFile::remove(second));
            break;
        }
        switch (reach) {
        case Reach::Step:
            stepNext(f.catalogue);
            showImageSequential(f.catalogue, [&f] { f.show(); });
            break;
        case Reach::Last:
            f.catalogue.currentIndex = f.catalogue.lastIndex;
            f.show();
            break;
        case Reach::List:
            f.catalogue.currentIndex = 1;
            showImageSequential(f.catalogue, [&f] { f.show(); });
            break;
        }
        if (change == Change::Deleted) {
            EXPECT_FALSE(f.image1.visible());
            EXPECT_TRUE(f.image1.picture().isEmpty());
            EXPECT_EQ(f.lblFilename.caption(), first);
        } else {
            EXPECT_TRUE(f.image1.visible());
            EXPECT_EQ(f.image1.width(), blue.width());
            EXPECT_EQ(f.image1.picture().raster().pixel(10, 10), qRgb(0, 0, 255));
        }
    }
}

TEST_F(LookAheadTest, AResizedWindowLoadsThePictureAgainAtItsNewSize) {
    const QString path =
        write("big.jpg", [](const QString& p) { return writeJpeg(p, QSize(1600, 1200)); });
    DisplayFixture f(kArea);
    f.catalogueOf({path});
    f.show();
    settle();
    f.window.resize(400, 300);
    const long long read = childrenReadBytes();
    f.show();
    EXPECT_TRUE(readAPicture(read));
    EXPECT_EQ(f.image1.picture().raster().size(), QSize(400, 300));
}

// The first show comes before the window is maximised: what was decoded
// ahead for the smaller window is decoded again as soon as it is there.
TEST_F(LookAheadTest, PicturesDecodedAheadForAnotherSizeAreDecodedAgain) {
    const QString first =
        write("first.jpg", [](const QString& p) { return writeJpeg(p, QSize(1200, 900), 90, 1); });
    const QString second =
        write("second.jpg", [](const QString& p) { return writeJpeg(p, QSize(900, 1200), 90, 2); });
    DisplayFixture f(QSize(400, 300));
    f.catalogueOf({first, second});
    f.show();
    settle(); // the second picture decoded for the small window
    f.window.resize(kArea);
    f.show();
    settle();
    const long long read = childrenReadBytes();
    stepNext(f.catalogue);
    f.show();
    EXPECT_FALSE(readAPicture(read));
    EXPECT_EQ(f.image1.picture().raster().size(), QSize(450, 600));
}

TEST_F(LookAheadTest, KeepsAFewPicturesOverALongSlideshow) {
    std::vector<QString> paths;
    for (int i = 0; i < 12; ++i) {
        paths.push_back(write(QStringLiteral("p%1.jpg").arg(i), [i](const QString& p) {
            return writeJpeg(p, QSize(1000, 750), 90, quint32(i));
        }));
    }
    DisplayFixture f(kArea);
    f.catalogueOf(paths);
    const long long frame = 800LL * 600 * 4;
    long long most = 0;
    for (int tick = 0; tick < 150; ++tick) {
        slideshowTick(f.catalogue, [&f] { f.show(); });
        QTest::qWait(5);
        most = std::max(most, mappedBytes("pictolune-pixels"));
    }
    ASSERT_TRUE(f.image1.visible());
    // However long it runs: the picture on show, the one drawn before it
    // (which stands in while the next one's pixels come), the five decoded
    // ahead (the next, the previous, the next draw's, the first, the last),
    // and the buffer each decoder keeps for its next picture.
    const auto decoders = static_cast<long long>(childProcesses().size());
    EXPECT_GT(most, 0);
    EXPECT_LE(most, (2 + 5 + decoders * static_cast<long long>(decoder::kMostKeptBuffers)) * frame);
}

} // namespace
