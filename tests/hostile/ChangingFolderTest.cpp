// Folders that change under the viewer: pictures that go or change between
// the scan and their show, a folder removed during a slideshow, and a folder
// far larger than anyone keeps. A folder that gains pictures between the two
// passes of a scan is covered with the scan's own tests.
#include "hostile/HostileCorpus.h"
#include "hostile/Probes.h"
#include "window/WindowFixture.h"

#include "platform/controls/Label.h"
#include "platform/controls/NumberList.h"
#include "platform/controls/PictureBox.h"
#include "platform/controls/Timer.h"
#include "support/TestPictures.h"

#include <QElapsedTimer>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <set>

#include <sys/stat.h>
#include <unistd.h>

namespace pictolune::testing {
namespace {

constexpr double kMaxShowMs = 10000;

QByteArray bytesOf(const QString& path) {
    return QFile::encodeName(path);
}

class ChangingFolderTest : public WindowTest {
protected:
    void press(int key) {
        QTest::keyClick(form.get(), Qt::Key(key));
        settle();
    }
    // The slideshow at its fastest: a 1 ms interval, playing.
    void playAtOneMillisecond() {
        inputBox.reply = QStringLiteral("0.001");
        press(Qt::Key_S);
        ASSERT_EQ(form->tmrSlideshow->interval(), 1);
        press(Qt::Key_P);
        ASSERT_TRUE(form->tmrSlideshow->enabled());
    }
    // Runs the event loop for `ms` and collects the indexes the slideshow
    // showed meanwhile, checking the display after each.
    std::set<std::int32_t> watchSlideshow(int ms) {
        std::set<std::int32_t> seen;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) {
            QTest::qWait(2);
            checkDisplayState(*form);
            seen.insert(form->catalogue.currentIndex);
        }
        return seen;
    }
};

// Each way the second of three pictures can change after the scan: its show
// fails quietly or shows what is there now, in bounded time, and the third
// picture shows as usual afterwards.
TEST_F(ChangingFolderTest, APictureChangedBetweenTheScanAndItsShow) {
    const auto replaceWith = [](const QByteArray& bytes) {
        return [bytes](const QString& path) { return writeBytes(path, bytes); };
    };
    const auto replaceBy = [](auto make) {
        return [make](const QString& path) {
            return ::unlink(bytesOf(path).constData()) == 0 && make(bytesOf(path));
        };
    };
    const struct {
        const char* name;
        std::function<bool(const QString&)> change;
        bool shown;
        QSize ownSize; // when shown
    } cases[] = {
        {"deleted", [](const QString& p) { return QFile::remove(p); }, false, {}},
        {"replaced by a larger picture",
         [](const QString& p) { return writeBmp(p, QSize(1000, 700)); },
         true,
         {1000, 700}},
        {"replaced by a picture of another format",
         [](const QString& p) { return writeGif(p, QSize(90, 60)); },
         true,
         {90, 60}},
        {"replaced by text", replaceWith("not a picture any more\n"), false, {}},
        {"emptied", replaceWith(QByteArray()), false, {}},
        {"cut inside its header",
         [](const QString& p) { return ::truncate(bytesOf(p).constData(), 20) == 0; },
         false,
         {}},
        {"replaced by a decompression bomb",
         replaceWith(bmpHeaderClaiming({65535, 65535})),
         false,
         {}},
        {"replaced by a FIFO",
         replaceBy([](const QByteArray& p) { return ::mkfifo(p.constData(), 0644) == 0; }),
         false,
         {}},
        {"replaced by a directory",
         replaceBy([](const QByteArray& p) { return ::mkdir(p.constData(), 0755) == 0; }),
         false,
         {}},
        {"replaced by a link loop",
         replaceBy(
             [](const QByteArray& p) { return ::symlink(p.constData(), p.constData()) == 0; }),
         false,
         {}},
        {"replaced by a link to /dev/zero",
         replaceBy([](const QByteArray& p) { return ::symlink("/dev/zero", p.constData()) == 0; }),
         false,
         {}},
    };
    writePictures(dir, 3);
    startAndShow({dir.path()});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Back to three sound pictures, the first on show.
        ASSERT_TRUE(removeTree(bytesOf(pathOf(1))));
        writePictures(dir, 3);
        ASSERT_TRUE(showAndCheck(*form, 0).shown);

        ASSERT_TRUE(c.change(pathOf(1)));
        const ShowResult changed = showAndCheck(*form, 1);
        EXPECT_EQ(changed.shown, c.shown);
        EXPECT_LT(changed.milliseconds, kMaxShowMs);
        if (c.shown) {
            EXPECT_EQ(form->image1->picture().size(), c.ownSize);
        } else {
            EXPECT_EQ(form->lblFilename->caption().toStdString(), pathOf(0).toStdString())
                << "the caption of the last picture shown";
        }
        EXPECT_TRUE(showAndCheck(*form, 2).shown);
    }
}

TEST_F(ChangingFolderTest, TheFolderRemovedWhileTheSlideshowRuns) {
    writePictures(dir, 12);
    QTemporaryDir other;
    writePictures(other, 2, "other");
    startAndShow({dir.path()});
    playAtOneMillisecond();
    EXPECT_GT(watchSlideshow(200).size(), 2u) << "the slideshow moves on";

    ASSERT_TRUE(QDir(dir.path()).removeRecursively());
    // It goes on ticking through the catalogue it has, every show failing.
    const std::set<std::int32_t> seen = watchSlideshow(300);
    EXPECT_GT(seen.size(), 2u);
    EXPECT_TRUE(form->image1->isHidden());
    EXPECT_TRUE(form->image1->picture().isEmpty());
    EXPECT_EQ(form->catalogue.lastIndex, 11);

    // Enter changes to a folder that exists; the show goes on there.
    chooser.answers.push_back(other.path());
    press(Qt::Key_Return);
    EXPECT_EQ(form->catalogue.lastIndex, 1);
    EXPECT_TRUE(form->tmrSlideshow->enabled());
    EXPECT_TRUE(waitFor([&] {
        return !form->image1->isHidden() && form->lblFilename->caption().startsWith(other.path());
    }));
    watchSlideshow(100);

    press(Qt::Key_Escape);
    EXPECT_EQ(endRequests, 1);
}

// 150 000 pictures and 50 000 other files in one folder: the scan takes
// every picture in natural order, the number list holds them all, and the
// commands reach both ends.
TEST_F(ChangingFolderTest, AFolderOfTwoHundredThousandEntries) {
    constexpr int kPictures = 150000, kOthers = 50000;
    // The names are links to a few real files: a file system allows only so
    // many links to one file, and a new one is written when they run out.
    QElapsedTimer clock;
    clock.start();
    const QByteArray folder = bytesOf(dir.path()) + '/';
    int sources = 0;
    QByteArray source;
    const auto newSource = [&] {
        source = folder + "source" + QByteArray::number(sources);
        return writeBmp(QFile::decodeName(source), QSize(24 + sources++, 16));
    };
    ASSERT_TRUE(newSource());
    for (int i = 0; i < kPictures + kOthers; ++i) {
        const QByteArray name = folder + (i < kPictures ? "img" + QByteArray::number(i) + ".bmp"
                                                        : "note" + QByteArray::number(i) + ".txt");
        int linked = ::link(source.constData(), name.constData());
        if (linked != 0 && errno == EMLINK && newSource())
            linked = ::link(source.constData(), name.constData());
        ASSERT_EQ(linked, 0) << name.data() << ": " << std::strerror(errno);
    }
    const qint64 madeMs = clock.restart();

    const long beforeKb = residentKb();
    const PeakGrowth peak;
    start({dir.path()});
    const qint64 scanMs = clock.elapsed();
    const std::optional<long> growthKb = peak.kb();

    ASSERT_EQ(form->catalogue.lastIndex, kPictures - 1);
    EXPECT_EQ(form->comImage->count(), kPictures);
    EXPECT_TRUE(form->catalogue.pathAt(kPictures).isEmpty());
    for (const int i : {0, 1, 9, 10, 99, 100, 12345, kPictures - 1})
        EXPECT_EQ(form->catalogue.pathAt(i), dir.filePath(QStringLiteral("img%1.bmp").arg(i)));
    if (growthKb) {
        EXPECT_LT(*growthKb, 256 * 1024) << "KiB for the scan";
    }

    form->showMaximized();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    EXPECT_TRUE(showAndCheck(*form, 0).shown);
    press(Qt::Key_Left); // wraps to the last
    EXPECT_EQ(form->catalogue.currentIndex, kPictures - 1);
    EXPECT_FALSE(form->image1->isHidden());
    press(Qt::Key_Space); // a random draw over all of them
    checkDisplayState(*form);
    EXPECT_FALSE(form->image1->isHidden());

    std::cout << "200 000 entries: made in " << madeMs << " ms, scanned in " << scanMs
              << " ms, resident " << beforeKb / 1024 << " MiB before, peak growth "
              << (growthKb ? std::to_string(*growthKb / 1024) + " MiB" : "not measurable") << "\n";
}

} // namespace
} // namespace pictolune::testing
