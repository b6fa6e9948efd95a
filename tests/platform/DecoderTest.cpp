// The decoder processes: a decoder's crash, hang, memory blow-up or lie is
// a load error for that picture alone; the sandbox holds; and where no
// decoder can run, the viewer decodes by itself and says so once.
#include "platform/base/Errors.h"
#include "platform/loading/DecoderPool.h"
#include "platform/loading/PictureLoader.h"
#include "support/Processes.h"
#include "support/StderrCapture.h"
#include "support/TestPictures.h"
#include "support/TestProfiles.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include <linux/landlock.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace pictolune {
namespace {

using namespace pictolune::testing;

// A file that makes a decoder of the test build misbehave (see TestFaults.h).
QByteArray fault(const std::string& kind) {
    return QByteArray("pictolune-test-fault:") + kind.c_str() + "\n";
}

QSize fitSmall(QSize own) {
    return own.scaled(QSize(32, 32), Qt::KeepAspectRatio).boundedTo(own);
}

// What a load ends in: "loaded", or the load error's text.
std::string outcome(const QString& path) {
    try {
        return loadPicture(path, fitSmall).raster().isNull() ? "nothing" : "loaded";
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

class DecoderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(DecoderPool::current(), nullptr);
        ASSERT_TRUE(writeJpeg(sound_, QSize(64, 48)));
    }
    // A fault request, padded with a hole to `size` bytes: the deadline grows
    // with the file.
    QString faultFile(const std::string& kind, qint64 size = 0) {
        const QString path =
            dir_.filePath(QString::fromStdString("fault-" + kind.substr(0, kind.find(':'))));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(fault(kind)) > 0 &&
                    (size == 0 || file.resize(size)));
        return path;
    }
    void expectSoundLoads() { EXPECT_EQ(outcome(sound_), "loaded"); }

    QTemporaryDir dir_;
    const QString sound_ = dir_.filePath("sound.jpg");
};

TEST_F(DecoderTest, EachFaultIsALoadErrorAndTheNextPictureLoads) {
    const struct {
        const char* kind;
        const char* reason;
    } cases[] = {
        {"crash", "the decoder crashed (signal 11"},
        {"hang", "took too long to decode"},
        {"oversize", "gave pixels of another size than asked"},
        {"short-memfd", "gave less memory than its pixels need"},
        {"unsealed", "gave memory that is not sealed"},
        {"stride", "gave rows of the wrong length"},
        {"format", "gave pixels in an unknown format"},
        {"wrong-id", "answered out of turn"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        const std::string text = outcome(faultFile(c.kind));
        EXPECT_TRUE(contains(text, "Cannot load picture: ") && contains(text, c.reason)) << text;
        expectSoundLoads();
    }
}

// The file is large enough for a deadline of many seconds: the memory cap
// (RLIMIT_AS, or the sanitizer's limit) must end it first.
TEST_F(DecoderTest, EndlessAllocationMeetsTheMemoryCap) {
    const std::string text = outcome(faultFile("allocate", qint64(512) << 20));
    EXPECT_TRUE(contains(text, "Cannot load picture: ") && contains(text, "out of memory")) << text;
    expectSoundLoads();
}

TEST_F(DecoderTest, ADecoderKilledFromOutsideFailsOnlyItsPicture) {
    const QString stuck = faultFile("hang", qint64(64) << 20);
    // Every decoder ready and idle: the one that runs is the one stuck.
    ASSERT_TRUE(waitFor(allLockedDown));
    std::atomic<bool> killed = false;
    std::thread killer([&] {
        waitFor([&] {
            for (const ChildProcess& child : childProcesses()) {
                if (child.state == 'R' && ::kill(child.pid, SIGKILL) == 0)
                    return killed = true;
            }
            return false;
        });
    });
    const std::string text = outcome(stuck);
    killer.join();
    ASSERT_TRUE(killed);
    EXPECT_TRUE(contains(text, "the decoder was killed (signal 9")) << text;
    expectSoundLoads();
    for (const ChildProcess& child : childProcesses())
        EXPECT_NE(child.state, 'Z') << child.pid;
}

// Pictures decoded ahead wait for idle decoders, and one of them stops early
// for a picture that is waited for; no decoder is replaced for it, and what
// was decoded ahead meanwhile is still there.
TEST_F(DecoderTest, PicturesDecodedAheadGiveWayToOneWaitedFor) {
    DecoderPool& pool = *DecoderPool::current();
    ASSERT_TRUE(waitFor(allLockedDown));
    const auto pids = [] {
        std::vector<pid_t> found;
        for (const ChildProcess& child : childProcesses())
            found.push_back(child.pid);
        std::sort(found.begin(), found.end());
        return found;
    };
    const std::vector<pid_t> decoders = pids();
    const QString big = dir_.filePath("big.jpg");
    ASSERT_TRUE(writeJpeg(big, QSize(3000, 2000)));
    std::vector<DecoderPool::Ticket> ahead;
    for (std::size_t i = 0; i < decoders.size() + 1; ++i) {
        PictureFile file = openPicture(big);
        const auto size = qint64(file.state.size);
        ahead.push_back(pool.submitAhead({std::move(file.fd), size, false}, {}));
        ASSERT_NE(ahead.back(), 0u);
    }
    expectSoundLoads();
    // At most one gave way; the others are decoded in full.
    std::size_t whole = 0;
    for (const DecoderPool::Ticket ticket : ahead) {
        try {
            whole += pool.wait(ticket).raster().size() == QSize(3000, 2000);
        } catch (const LoadError&) {
        }
    }
    EXPECT_GE(whole, ahead.size() - 1);
    EXPECT_EQ(pids(), decoders);
}

TEST_F(DecoderTest, EveryDecoderIsLockedDown) {
    expectSoundLoads();
    EXPECT_TRUE(waitFor(allLockedDown));
}

// From inside a decoder: reading a file outside the font folders, creating
// a file, opening a socket and running a program are all refused.
TEST_F(DecoderTest, TheSandboxRefusesFilesSocketsAndPrograms) {
    const QString secret = dir_.filePath("secret.txt");
    ASSERT_TRUE(writeBytes(secret, "not for decoders"));
    const std::string text = outcome(faultFile("probe:" + secret.toStdString()));
    // Without Landlock in the kernel, nothing stops the reading.
    const bool landlock =
        ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION) > 0;
    EXPECT_TRUE(contains(text, landlock ? "read refused" : "read allowed")) << text;
    EXPECT_TRUE(contains(text, "create refused, socket refused, exec refused")) << text;
    EXPECT_FALSE(QFile::exists(secret + ".created"));
    expectSoundLoads();
}

// A decoder that cannot be started, or that ends before it is ready: the
// viewer decodes by itself, with the same results, and says so once.
TEST_F(DecoderTest, WithoutDecodersTheViewerDecodesItself) {
    const std::string missing = dir_.filePath("no-decoder-here").toStdString();
    const struct {
        std::string decoder, said;
    } cases[] = {
        {missing, "cannot start " + missing + ": No such file or directory"},
        {"/bin/true", "the decoder exited with status 0 while starting"},
    };
    ASSERT_TRUE(
        writeJpegWithOrientation(dir_.filePath("turned.jpg"), photographicImage(QSize(60, 40)), 6));
    ASSERT_TRUE(writeGif(dir_.filePath("p.gif"), QSize(30, 20)));
    ASSERT_TRUE(writeTiff(dir_.filePath("p.tiff"), QSize(60, 40)));
    ASSERT_TRUE(writeBytes(dir_.filePath("p.wmf"), smallMetafile()));
    ASSERT_TRUE(writeBytes(dir_.filePath("bomb.gif"), gifClaiming(QSize(65535, 65535))));
    const std::size_t decoders = childProcesses().size();
    DecoderPool* const pool = DecoderPool::current();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.decoder);
        StderrCapture stderrLines;
        {
            DecoderPool fallback(c.decoder);
            EXPECT_EQ(DecoderPool::current(), &fallback);
            EXPECT_EQ(loadPicture(dir_.filePath("turned.jpg"), fitSmall).raster().size(),
                      QSize(21, 32));
            EXPECT_EQ(loadPicture(dir_.filePath("turned.jpg")).size(), QSize(40, 60));
            EXPECT_EQ(loadPicture(dir_.filePath("p.gif")).raster().size(), QSize(30, 20));
            EXPECT_EQ(loadPicture(dir_.filePath("p.tiff"), fitSmall).raster().size(),
                      QSize(32, 21));
            EXPECT_FALSE(loadPicture(dir_.filePath("p.wmf"), fitSmall).raster().isNull());
            EXPECT_TRUE(contains(outcome(dir_.filePath("bomb.gif")), "passes the"));
            EXPECT_TRUE(contains(outcome(faultFile("crash")), "not a JPEG, BMP, GIF"));
            EXPECT_EQ(childProcesses().size(), decoders);
        }
        EXPECT_EQ(stderrLines.take(), "pictolune: decoding in the viewer: " + c.said + "\n");
        EXPECT_EQ(DecoderPool::current(), pool);
    }
    expectSoundLoads();
}

// The display's colour profile reaches the decoders told while they start,
// as at launch, those started later in place of one that crashed, and the
// viewer's own decoding where no decoder runs; told sRGB again, they leave
// an sRGB picture alone.
TEST_F(DecoderTest, PicturesComeInTheDisplaysColourSpace) {
    const QByteArray wide = wideGamutProfile();
    const QImage stored = photographicImage(QSize(60, 40), 2).convertToFormat(QImage::Format_RGB32);
    const QString srgb = dir_.filePath("srgb.tiff");
    ASSERT_TRUE(writeBytes(srgb, tiffWithProfile(stored, srgbProfile())));
    const QImage expected = lcmsReference(stored, srgbProfile(), wide);
    ASSERT_GT(largestDifference(expected, stored), 8);
    const QString crash = faultFile("crash");
    for (const std::string& decoder :
         {std::string(PICTOLUNE_DECODER), dir_.filePath("no-decoder-here").toStdString()}) {
        SCOPED_TRACE(decoder);
        const StderrCapture fallbackNotice;
        DecoderPool pool(decoder);
        pool.setDisplayProfile(wide);
        for (const QString& file : {srgb, crash, srgb, crash, srgb, srgb}) {
            if (file == crash)
                outcome(crash);
            else
                EXPECT_LE(largestDifference(loadPicture(file).raster(), expected), 2);
        }
        pool.setDisplayProfile({});
        EXPECT_EQ(loadPicture(srgb).raster(), stored);
    }
}

} // namespace
} // namespace pictolune
