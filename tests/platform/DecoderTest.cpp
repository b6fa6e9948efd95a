// The decoder processes as a boundary: whatever a decoder does (crash,
// spin, stay silent, hog memory, lie in its answers, fail to start or to
// lock itself down) costs at most its own picture; the sandbox refuses what
// an attacker inside a decoder would try, with Landlock and without; a busy
// machine never turns a valid picture into a load error; and nothing is
// decoded in the viewer unless asked for.
#include "platform/base/Errors.h"
#include "platform/codecs/Work.h"
#include "platform/loading/DecoderPool.h"
#include "platform/loading/LoadPicture.h"
#include "platform/loading/Tunables.h"
#include "support/Processes.h"
#include "support/StderrCapture.h"
#include "support/TestPictures.h"
#include "support/TestProfiles.h"
#include "wmf/WmfWriter.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace pictolune {
namespace {

using namespace pictolune::testing;

// A file that makes the tests' decoder misbehave (see TestFaults.h).
QByteArray fault(const std::string& kind) {
    return QByteArray("pictolune-test-fault:") + kind.c_str() + "\n";
}

QSize fitSmall(QSize own) {
    return own.scaled(QSize(32, 32), Qt::KeepAspectRatio).boundedTo(own);
}

QSize fitScreen(QSize own) {
    return own.scaled(QSize(1920, 1080), Qt::KeepAspectRatio).boundedTo(own);
}

// What a load ends in: "loaded", or the load error's text.
std::string outcome(const QString& path, const DrawSizeChooser& drawSize = fitSmall) {
    try {
        return loadPicture(path, drawSize).raster().isNull() ? "nothing" : "loaded";
    } catch (const LoadError& error) {
        return error.what();
    }
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

template <typename Condition> bool waitFor(Condition condition, int seconds = 20) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Every decoder started and locked down, as /proc shows it from outside.
bool allLockedDown() {
    const auto children = childProcesses();
    for (const ChildProcess& child : children) {
        if (statusField(child.pid, "Seccomp") != "2" || statusField(child.pid, "NoNewPrivs") != "1")
            return false;
    }
    return children.size() >= 2;
}

std::vector<pid_t> childPids() {
    std::vector<pid_t> found;
    for (const ChildProcess& child : childProcesses())
        found.push_back(child.pid);
    std::sort(found.begin(), found.end());
    return found;
}

// Where a picture stands out from its top left corner.
QImage inkOf(const QImage& picture) {
    QImage ink(picture.size(), QImage::Format_Mono);
    const QColor background = picture.pixelColor(0, 0);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QColor c = picture.pixelColor(x, y);
            ink.setPixel(x, y,
                         std::abs(c.red() - background.red()) +
                                 std::abs(c.green() - background.green()) +
                                 std::abs(c.blue() - background.blue()) >
                             120);
        }
    }
    return ink;
}

// Pixels inked in `a`, and of those inked in either, the share inked in both.
std::pair<int, double> inkedAndShared(const QImage& a, const QImage& b) {
    int inked = 0, either = 0, both = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const bool inA = a.pixelIndex(x, y) != 0, inB = b.pixelIndex(x, y) != 0;
            inked += inA;
            either += inA || inB;
            both += inA && inB;
        }
    }
    return {inked, either == 0 ? 0.0 : double(both) / either};
}

class DecoderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(DecoderPool::current(), nullptr);
        ASSERT_TRUE(writeJpeg(sound_, QSize(64, 48)));
    }
    // A fault request, padded with a hole to `size` bytes.
    QString faultFile(const std::string& kind, qint64 size = 0) {
        const QString path =
            dir_.filePath(QString::fromStdString("fault-" + kind.substr(0, kind.find(':'))));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(fault(kind)) > 0 &&
                    (size == 0 || file.resize(size)));
        return path;
    }
    // The tests' decoder started with `arguments`, through a script that
    // counts its starts in `starts`.
    std::string decoderWith(const std::string& arguments) {
        const QString script = dir_.filePath(QString::fromStdString("decoder" + arguments));
        EXPECT_TRUE(writeBytes(script, QByteArray("#!/bin/sh\necho >>'") +
                                           QFile::encodeName(starts_) + "'\nexec '" +
                                           PICTOLUNE_DECODER + "' " + arguments.c_str() + "\n"));
        QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner);
        return script.toStdString();
    }
    int starts() const {
        QFile file(starts_);
        return file.open(QIODevice::ReadOnly) ? int(file.readAll().count('\n')) : 0;
    }
    void expectSoundLoads() { EXPECT_EQ(outcome(sound_), "loaded"); }

    QTemporaryDir dir_;
    const QString sound_ = dir_.filePath("sound.jpg");
    const QString starts_ = dir_.filePath("starts");
};

TEST_F(DecoderTest, EachLieCostsItsPictureOnly) {
    const struct {
        const char* kind;
        const char* reason;
    } cases[] = {
        {"crash", "the decoder crashed (signal 11"},
        {"hang", "of processor time to decode"},
        {"silent", "the decoder did nothing for"},
        {"oversize", "gave pixels of another size than asked"},
        {"undersize", "gave pixels of another size than asked"},
        {"short-memfd", "gave memory of another size than its pixels need"},
        {"huge-memfd", "gave memory of another size than its pixels need"},
        {"unsealed", "gave memory that is not sealed"},
        {"stride", "gave rows of the wrong length"},
        {"format", "gave pixels in an unknown format"},
        {"wrong-id", "answered out of turn"},
        {"two-descriptors", "the decoder sent a malformed message"},
        {"no-size", "the decoder gave a picture of no size"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        const std::string text = outcome(faultFile(c.kind));
        EXPECT_TRUE(contains(text, "Cannot load picture: ") && contains(text, c.reason)) << text;
        expectSoundLoads();
    }
}

// The file is large enough for a budget of many seconds: the memory cap
// (RLIMIT_AS, or the sanitizer's limit) must end it first.
TEST_F(DecoderTest, EndlessAllocationMeetsTheMemoryCap) {
    const std::string text = outcome(faultFile("allocate", qint64(512) << 20));
    EXPECT_TRUE(contains(text, "Cannot load picture: ") && contains(text, "out of memory")) << text;
    expectSoundLoads();
}

// Killed from outside (as the kernel's memory killer would), a decoder costs
// no picture: its picture tries a fresh decoder, where this one spins again
// and meets its own budget.
TEST_F(DecoderTest, ADecoderKilledFromOutsideCostsNoPicture) {
    const QString stuck = faultFile("hang", qint64(64) << 20);
    // Every decoder ready and idle: the one that runs is the one stuck.
    ASSERT_TRUE(waitFor(allLockedDown));
    std::atomic<bool> killed = false;
    // The one that spins: the others are idle.
    std::thread killer([&] {
        waitFor([&] {
            for (const ChildProcess& child : childProcesses()) {
                const long before = processorTicks(child.pid);
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                if (processorTicks(child.pid) - before >= 3 && ::kill(child.pid, SIGKILL) == 0)
                    return killed = true;
            }
            return false;
        });
    });
    const std::string text = outcome(stuck);
    killer.join();
    ASSERT_TRUE(killed);
    EXPECT_TRUE(contains(text, "of processor time to decode")) << text;
    expectSoundLoads();
    for (const ChildProcess& child : childProcesses())
        EXPECT_NE(child.state, 'Z') << child.pid;
}

// A picture wanted now while every decoder is busy decoding ahead is served
// first: one picture decoded ahead gives way, and is decoded once the
// decoder is free again. No decoder is replaced for it.
TEST_F(DecoderTest, APictureWantedNowGoesBeforePicturesDecodedAhead) {
    DecoderPool& pool = *DecoderPool::current();
    ASSERT_TRUE(waitFor(allLockedDown));
    const std::vector<pid_t> decoders = childPids();
    const QString big = dir_.filePath("big.jpg");
    ASSERT_TRUE(writeJpeg(big, QSize(4000, 3000)));
    std::vector<PictureLoad> ahead;
    for (std::size_t i = 0; i < decoders.size() + 2; ++i)
        ahead.push_back(pool.loadAhead(openPicture(big), {}, int(i)));
    const PictureLoad now = pool.load(openPicture(sound_), fitSmall);
    now.waitUntil(PictureLoad::Clock::time_point::max());
    EXPECT_FALSE(now.hasFailed()) << now.failureReason();
    EXPECT_TRUE(std::any_of(ahead.begin(), ahead.end(),
                            [](const PictureLoad& load) { return !load.isFinished(); }));
    for (const PictureLoad& load : ahead) {
        load.waitUntil(PictureLoad::Clock::time_point::max());
        EXPECT_EQ(load.picture().raster().size(), QSize(4000, 3000)) << load.failureReason();
    }
    EXPECT_EQ(childPids(), decoders);
}

// As /proc shows every decoder from outside: locked down, in `/`, with /dev/null for its input and
// output and a pipe for its errors, and none of the viewer's environment but what fontconfig needs
// (no PATH).
TEST_F(DecoderTest, EveryDecoderIsLockedDown) {
    expectSoundLoads();
    EXPECT_TRUE(waitFor(allLockedDown));
    // A process that is not dumpable has its /proc entries owned by root.
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to read a non-dumpable process's /proc entries";
    const auto link = [](pid_t pid, const std::string& entry) {
        char target[256] = {};
        const std::string path = "/proc/" + std::to_string(pid) + "/" + entry;
        const ssize_t length = ::readlink(path.c_str(), target, sizeof target - 1);
        return std::string(target, std::size_t(std::max<ssize_t>(length, 0)));
    };
    ASSERT_NE(std::getenv("PATH"), nullptr);
    for (const ChildProcess& child : childProcesses()) {
        SCOPED_TRACE(child.pid);
        EXPECT_EQ(link(child.pid, "cwd"), "/");
        EXPECT_EQ(link(child.pid, "fd/0"), "/dev/null");
        EXPECT_EQ(link(child.pid, "fd/1"), "/dev/null");
        EXPECT_EQ(link(child.pid, "fd/2").rfind("pipe:", 0), 0u);
        QFile environment(QString("/proc/%1/environ").arg(child.pid));
        ASSERT_TRUE(environment.open(QIODevice::ReadOnly));
        const QByteArray variables = environment.readAll();
        EXPECT_FALSE(variables.startsWith("PATH=") || variables.contains(QByteArray("\0PATH=", 6)));
    }
}

// From inside a decoder, as a file that took it over would try: reading a
// file outside the font folders and its own environment, creating a file,
// opening a socket, running a program, and having the kernel signal
// another process through its socket are all refused; on a kernel without
// Landlock too, where it opens no file at all, not even in the font
// folders, and stderr says so once.
TEST_F(DecoderTest, TheSandboxRefusesWhatATakenOverDecoderTries) {
    const QString secret = dir_.filePath("secret.txt");
    ASSERT_TRUE(writeBytes(secret, "not for decoders"));
    const QString probe = faultFile("probe:" + secret.toStdString());
    const QString fonts = dir_.filePath("probe-fonts");
    ASSERT_TRUE(writeBytes(fonts, fault("probe:/usr/share/fonts")));
    const std::string refused = "read refused, create refused, socket refused, exec refused, "
                                "owner refused, signal refused, async refused";
    EXPECT_TRUE(contains(outcome(probe), refused)) << outcome(probe);
    EXPECT_TRUE(contains(outcome(fonts), "read allowed")) << outcome(fonts);
    StderrCapture said;
    {
        DecoderPool withoutLandlock(decoderWith("--no-landlock"));
        for (const QString& path : {probe, fonts})
            EXPECT_TRUE(contains(outcome(path), refused)) << outcome(path);
        EXPECT_EQ(outcome(sound_), "loaded");
    }
    EXPECT_EQ(said.take(), "pictolune: the kernel has no Landlock: the decoders open no file once "
                           "they have started, and metafile text uses the fonts they loaded "
                           "before\n");
    EXPECT_FALSE(QFile::exists(secret + ".created"));
}

// Metafile text in faces no decoder draws before it has started: one
// without Landlock, which then opens no file, draws it from the fonts it
// loaded before, much as one with Landlock draws it from the font files.
TEST_F(DecoderTest, MetafileTextIsDrawnWithoutLandlockAsWithIt) {
    const struct {
        const char* face;
        int charset, pitchAndFamily;
        QByteArray text;
    } faces[] = {
        {"Arial", 0, 0x22, "Hamburgefonstiv"},
        {"Times New Roman", 0, 0x12, "Hamburgefonstiv"},
        {"Wingdings", 2, 0x02, "JKLn"},
        {"Symbol", 2, 0x12, "abgdpW"},
    };
    std::vector<QString> files;
    for (const auto& f : faces) {
        auto wmf = test::WmfWriter::placeable(QRect(0, 0, 300, 60), 96);
        wmf.createFont(-40, 400, false, 0, f.face, f.charset, f.pitchAndFamily)
            .selectObject(0)
            .setBkMode(1)
            .extTextOut(5, 5, 0, std::nullopt, f.text);
        files.push_back(dir_.filePath(QString::fromLatin1(f.face) + ".wmf"));
        ASSERT_TRUE(writeBytes(files.back(), wmf.bytes()));
    }
    const auto inks = [&] {
        std::vector<QImage> found;
        for (const QString& file : files)
            found.push_back(inkOf(loadPicture(file).raster()));
        return found;
    };
    const std::vector<QImage> withLandlock = inks();
    std::vector<QImage> without;
    {
        const DecoderPool withoutLandlock(decoderWith("--no-landlock"));
        without = inks();
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(faces[i].face);
        const auto [inked, shared] = inkedAndShared(withLandlock[i], without[i]);
        EXPECT_GT(inked, 300);
        EXPECT_GT(shared, 0.5);
    }
}

// Decoders that cannot start, or cannot be trusted once started: every
// picture fails with the reason, none is decoded in the viewer, the starts
// are few and spaced out, and stderr says so once.
TEST_F(DecoderTest, WithoutALockedDownDecoderPicturesFailWithTheReason) {
    const std::string missing = dir_.filePath("no-decoder-here").toStdString();
    const struct {
        std::string decoder, reason;
    } cases[] = {
        {missing, "cannot start " + missing + ": No such file or directory"},
        {decoderWith("--start=die"), "the decoder exited with status 1 while starting"},
        {decoderWith("--start=malformed"), "the decoder speaks another protocol"},
        {decoderWith("--start=version"), "the decoder speaks another protocol"},
        {decoderWith("--start=unconfined"), "the decoder cannot lock itself down (told to say so)"},
    };
    const std::size_t decoders = childProcesses().size();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.decoder);
        QFile::remove(starts_);
        StderrCapture said;
        {
            const DecoderPool closed(c.decoder);
            EXPECT_EQ(outcome(sound_), "Cannot load picture: " + sound_.toStdString() +
                                           ": no decoder can run: " + c.reason);
            EXPECT_TRUE(contains(outcome(sound_), c.reason));
        }
        EXPECT_LE(starts(), tunables::kMostFailedStarts);
        EXPECT_EQ(said.take(), "pictolune: no picture can be decoded: " + c.reason +
                                   " (PICTOLUNE_DECODE_IN_VIEWER=1 decodes them in the viewer "
                                   "itself, outside any sandbox)\n");
        EXPECT_EQ(childProcesses().size(), decoders);
    }
    expectSoundLoads();
}

// Asked for, the viewer decodes every format itself, with the same results.
TEST_F(DecoderTest, DecodingInTheViewerWhenAskedGivesTheSamePictures) {
    ASSERT_TRUE(
        writeJpegWithOrientation(dir_.filePath("turned.jpg"), photographicImage(QSize(60, 40)), 6));
    ASSERT_TRUE(writeGif(dir_.filePath("p.gif"), QSize(30, 20)));
    ASSERT_TRUE(writeTiff(dir_.filePath("p.tiff"), QSize(60, 40)));
    ASSERT_TRUE(writeBytes(dir_.filePath("p.wmf"), smallMetafile()));
    ASSERT_TRUE(writeBytes(dir_.filePath("bomb.gif"), gifClaiming(QSize(65535, 65535))));
    const std::size_t decoders = childProcesses().size();
    const DecoderPool inViewer(DecoderPool::InViewer{});
    EXPECT_EQ(loadPicture(dir_.filePath("turned.jpg"), fitSmall).raster().size(), QSize(21, 32));
    EXPECT_EQ(loadPicture(dir_.filePath("turned.jpg")).size(), QSize(40, 60));
    EXPECT_EQ(loadPicture(dir_.filePath("p.gif")).raster().size(), QSize(30, 20));
    EXPECT_EQ(loadPicture(dir_.filePath("p.tiff"), fitSmall).raster().size(), QSize(32, 21));
    EXPECT_FALSE(loadPicture(dir_.filePath("p.wmf"), fitSmall).raster().isNull());
    EXPECT_TRUE(contains(outcome(dir_.filePath("bomb.gif")), "passes the"));
    EXPECT_TRUE(contains(outcome(faultFile("crash")), "not a JPEG, BMP, GIF"));
    EXPECT_EQ(childProcesses().size(), decoders);
}

// Processor time, not wall-clock time: with every core kept busy by other
// programs, large valid photos still show, baseline and progressive alike.
TEST_F(DecoderTest, ABusyMachineNeverTurnsAValidPictureIntoALoadError) {
    const QImage photo = photographicImage(QSize(6000, 4000), 7);
    const QString baseline = dir_.filePath("baseline.jpg");
    const QString progressive = dir_.filePath("progressive.jpg");
    ASSERT_TRUE(writeJpeg(baseline, photo));
    ASSERT_TRUE(writeProgressiveJpeg(progressive, photo));
    const BusyLoops others(2);
    for (const QString& path : {baseline, progressive})
        EXPECT_EQ(outcome(path, fitScreen), "loaded") << path.toStdString();
}

// What a decoder claims its picture's pixels cost, by which its budget is
// sized: one pass for a baseline JPEG and other formats, a pass for each
// scan of a progressive one, much for a metafile's every byte.
TEST_F(DecoderTest, TheWorkAPictureClaimsFollowsItsFormat) {
    const QImage photo = photographicImage(QSize(64, 48), 3);
    const QString progressive = dir_.filePath("progressive.jpg");
    const QString bmp = dir_.filePath("p.bmp");
    const QString wmf = dir_.filePath("p.wmf");
    ASSERT_TRUE(writeProgressiveJpeg(progressive, photo) && writeBmp(bmp, photo) &&
                writeBytes(wmf, smallMetafile()));
    const auto claim = [](const QString& path, QSize own) {
        const PictureFile file = openPicture(path);
        return claimedWork(file.source(), own);
    };
    const std::uint64_t pixels = 64 * 48;
    EXPECT_EQ(claim(sound_, QSize(64, 48)), pixels);
    EXPECT_EQ(claim(bmp, QSize(64, 48)), pixels);
    EXPECT_GE(claim(progressive, QSize(64, 48)), 3 * pixels);
    EXPECT_LE(claim(progressive, QSize(64, 48)), 20 * pixels);
    EXPECT_GE(claim(wmf, QSize(100, 100)), std::uint64_t(smallMetafile().size()) * 1000);
}

// The display's colour profile reaches the decoders told while they start,
// as at launch, those started later in place of one that crashed, and the
// viewer's own decoding when asked for; told sRGB again, they leave an sRGB
// picture alone.
TEST_F(DecoderTest, PicturesComeInTheDisplaysColourSpace) {
    const QByteArray wide = wideGamutProfile();
    const QImage stored = photographicImage(QSize(60, 40), 2).convertToFormat(QImage::Format_RGB32);
    const QString srgb = dir_.filePath("srgb.tiff");
    ASSERT_TRUE(writeBytes(srgb, tiffWithProfile(stored, srgbProfile())));
    const QImage expected = lcmsReference(stored, srgbProfile(), wide);
    ASSERT_GT(largestDifference(expected, stored), 8);
    const QString crash = faultFile("crash");
    for (const bool inViewer : {false, true}) {
        SCOPED_TRACE(inViewer ? "in the viewer" : "in the decoders");
        std::optional<DecoderPool> pool;
        if (inViewer)
            pool.emplace(DecoderPool::InViewer{});
        else
            pool.emplace(PICTOLUNE_DECODER);
        pool->setDisplayProfile(wide);
        for (const QString& file : {srgb, crash, srgb, crash, srgb, srgb}) {
            if (file == crash)
                outcome(crash);
            else
                EXPECT_LE(largestDifference(loadPicture(file).raster(), expected), 2);
        }
        pool->setDisplayProfile({});
        EXPECT_EQ(loadPicture(srgb).raster(), stored);
    }
}

} // namespace
} // namespace pictolune
