// A long run at the slideshow's fastest over a folder of sound and hostile
// pictures, with keys and resizes coming in meanwhile: the viewer answers
// every key within a bounded delay, its memory stays flat, and Esc ends it.
//
// PICTOLUNE_SOAK_SECONDS sets the length (a few seconds by default; `make
// soak` runs a minute).
#include "hostile/HostileCorpus.h"
#include "hostile/Probes.h"
#include "window/WindowFixture.h"

#include "platform/controls/PictureBox.h"
#include "platform/controls/Timer.h"
#include "support/TestPictures.h"

#include <QKeyEvent>

#include <algorithm>
#include <iostream>
#include <vector>

#include <unistd.h>

namespace pictolune::testing {
namespace {

// A key waits for at most one show, and a show of these pictures takes well
// under a second even under the sanitizers on a loaded machine.
constexpr double kMaxKeyDelayMs = 3000;
// Live heap may not grow over the run by more than this; a leak of a few
// hundred bytes a show passes it within the minute of `make soak`.
constexpr long kMaxHeapGrowthKb = 8 * 1024;
// Resident memory also counts what the allocators keep for reuse.
constexpr long kMaxResidentGrowthKb = 96 * 1024;

double soakSeconds() {
    bool ok = false;
    const double seconds = qEnvironmentVariable("PICTOLUNE_SOAK_SECONDS").toDouble(&ok);
    return ok && seconds > 0 ? seconds : 4;
}

// Delivered once every event posted before it has been handled.
class Marker : public QObject {
public:
    static constexpr QEvent::Type kType = QEvent::User;
    bool arrived = false;
    bool event(QEvent* event) override {
        if (event->type() != kType)
            return QObject::event(event);
        arrived = true;
        return true;
    }
};

// Counts the pictures that came on screen.
class ShowCounter : public QObject {
public:
    int shows = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show)
            ++shows;
        return false;
    }
};

class SoakTest : public WindowTest {
protected:
    void TearDown() override { EXPECT_TRUE(removeTree(QFile::encodeName(dir.path()))); }

    // Writes sound pictures of every format and size class, linked under
    // many names, next to the hostile corpus.
    int writeFolder() {
        const HostileCorpus corpus = writeHostileCorpus(dir.path());
        const struct {
            const char* ending;
            QSize size;
        } sources[] = {
            {".jpg", {1600, 1200}}, {".jpg", {640, 480}},  {".jpeg", {3000, 2000}},
            {".bmp", {800, 600}},   {".bmp", {120, 90}},   {".gif", {400, 300}},
            {".gif", {1000, 600}},  {".tiff", {900, 601}}, {".tiff", {50, 40}},
        };
        int written = 0;
        for (int i = 0; i < 198; ++i) {
            const auto& s = sources[i % std::size(sources)];
            const QString name = dir.filePath(QStringLiteral("sound-%1%2").arg(i).arg(s.ending));
            if (i < int(std::size(sources))) {
                const QString ending = QString(s.ending);
                const bool ok = ending.contains("jp") ? writeJpeg(name, s.size, 85, i)
                                : ending == ".bmp"    ? writeBmp(name, s.size, i)
                                : ending == ".gif"    ? writeGif(name, s.size, i)
                                                      : writeTiff(name, s.size, i);
                EXPECT_TRUE(ok) << name.toStdString();
            } else {
                const QString first = dir.filePath(
                    QStringLiteral("sound-%1%2").arg(i % std::size(sources)).arg(s.ending));
                EXPECT_EQ(::link(QFile::encodeName(first).constData(),
                                 QFile::encodeName(name).constData()),
                          0);
            }
            ++written;
        }
        return written + int(corpus.files.size());
    }

    // Posts a key as the window system would and waits until it has been
    // handled; returns how long that took.
    double postKey(int key) {
        Marker marker;
        QElapsedTimer clock;
        clock.start();
        QCoreApplication::postEvent(form.get(), new QKeyEvent(QEvent::KeyPress, key, {}));
        QCoreApplication::postEvent(form.get(), new QKeyEvent(QEvent::KeyRelease, key, {}));
        QCoreApplication::postEvent(&marker, new QEvent(Marker::kType));
        while (!marker.arrived && clock.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        EXPECT_TRUE(marker.arrived);
        return double(clock.nsecsElapsed()) / 1e6;
    }

    void runFor(double seconds) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < seconds * 1000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            checkDisplayState(*form);
        }
    }
};

TEST_F(SoakTest, SlideshowAtOneMillisecondWithKeysAndResizes) {
    const int files = writeFolder();
    startAndShow({dir.path()});
    ShowCounter counter;
    form->image1->installEventFilter(&counter);

    inputBox.reply = QStringLiteral("0.001");
    postKey(Qt::Key_S);
    ASSERT_EQ(form->tmrSlideshow->interval(), 1);
    postKey(Qt::Key_P);
    ASSERT_TRUE(form->tmrSlideshow->enabled());

    // One pass over the folder first, so that caches and the allocators'
    // free lists have settled before the start figures.
    const std::int32_t pictures = form->catalogue.lastIndex + 1;
    for (std::int32_t i = 0; i < pictures; ++i) {
        form->catalogue.currentIndex = i;
        form->showImage();
        settle();
    }
    // The heap is compared in one state at both ends: the show paused on
    // the first picture of the maximised window, so that a larger window or
    // picture on show at the end does not count as growth.
    const auto settledHeapKb = [&] {
        form->tmrSlideshow->setEnabled(false);
        form->showMaximized();
        runFor(0.3);
        form->catalogue.randomMode = false;
        form->catalogue.currentIndex = 0;
        form->showImage();
        settle();
        runFor(0.2);
        const long kb = heapInUseKb();
        form->tmrSlideshow->setEnabled(true);
        return kb;
    };
    runFor(0.5);
    const long startHeapKb = settledHeapKb();
    const long startResidentKb = residentKb();
    long peakResidentKb = startResidentKb;

    const QSize sizes[] = {{1, 1}, {640, 480}, {31, 17}, {1279, 3}, {2, 1023}, {1600, 1200}};
    const int sequentialKeys[] = {Qt::Key_Right, Qt::Key_Left, Qt::Key_R,
                                  Qt::Key_R,     Qt::Key_1,    Qt::Key_0};
    const int randomKeys[] = {Qt::Key_Space, Qt::Key_Right, Qt::Key_R,
                              Qt::Key_R,     Qt::Key_Left,  Qt::Key_Space};
    const double seconds = soakSeconds();
    double worstKeyMs = 0, totalKeyMs = 0;
    int keys = 0, resizes = 0;
    const int showsBefore = counter.shows;
    QElapsedTimer clock;
    clock.start();
    for (int step = 0; clock.elapsed() < seconds * 1000; ++step) {
        const bool randomHalf = clock.elapsed() > seconds * 500;
        if (step % 4 == 3) {
            if (step % 8 == 7) {
                form->showMaximized();
            } else {
                form->showNormal();
                form->resize(sizes[(step / 8) % std::size(sizes)]);
            }
            ++resizes;
        } else {
            const int key = randomHalf ? randomKeys[step % std::size(randomKeys)]
                                       : sequentialKeys[step % std::size(sequentialKeys)];
            const bool randomBefore = form->catalogue.randomMode;
            const double ms = postKey(key);
            if (key == Qt::Key_R) {
                EXPECT_NE(form->catalogue.randomMode, randomBefore) << "R was not handled";
            }
            worstKeyMs = std::max(worstKeyMs, ms);
            totalKeyMs += ms;
            ++keys;
        }
        runFor(0.02);
        peakResidentKb = std::max(peakResidentKb, residentKb());
        ASSERT_TRUE(form->tmrSlideshow->enabled());
    }
    const int shows = counter.shows - showsBefore;
    const long endResidentKb = residentKb();
    const long endHeapKb = settledHeapKb();

    // Esc still ends it, however busy the slideshow keeps the loop.
    const double escapeMs = postKey(Qt::Key_Escape);
    EXPECT_EQ(endRequests, 1);

    EXPECT_LT(worstKeyMs, kMaxKeyDelayMs);
    EXPECT_LT(escapeMs, kMaxKeyDelayMs);
    EXPECT_GT(shows, 0);
    EXPECT_LT(endHeapKb - startHeapKb, kMaxHeapGrowthKb);
    EXPECT_LT(endResidentKb - startResidentKb, kMaxResidentGrowthKb);

    std::cout << "Soak: " << seconds << " s over " << files << " files (" << pictures
              << " catalogued), " << shows << " pictures shown, " << keys << " keys, " << resizes
              << " resizes\n  key handled within: worst " << worstKeyMs << " ms, mean "
              << (keys ? totalKeyMs / keys : 0) << " ms; Esc " << escapeMs
              << " ms\n  resident: start " << startResidentKb / 1024 << " MiB, end "
              << endResidentKb / 1024 << " MiB, peak " << peakResidentKb / 1024
              << " MiB\n  live heap: start " << startHeapKb / 1024 << " MiB, end "
              << endHeapKb / 1024 << " MiB\n";
}

} // namespace
} // namespace pictolune::testing
