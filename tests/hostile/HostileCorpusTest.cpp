// The real scan and show over a corpus of hostile files: each is shown or
// fails quietly, in bounded time and memory, and never takes the viewer down.
#include "hostile/HostileCorpus.h"
#include "hostile/Probes.h"
#include "window/WindowFixture.h"

#include "catalogue/DirectoryScan.h"
#include "platform/base/Errors.h"
#include "platform/controls/NumberList.h"
#include "platform/files/FileNames.h"
#include "platform/loading/LoadPicture.h"
#include "support/TestPictures.h"

#include <algorithm>
#include <iomanip>
#include <iostream>
#include <map>

namespace pictolune::testing {
namespace {

// Hangs, not slowness: a file that claims a huge picture may take its whole
// budget of processor time (a valid 268-megapixel GIF takes over ten
// seconds under the sanitizers on a loaded two-core machine); the window
// meanwhile never waits.
constexpr double kMaxMillisecondsPerFile = 60000;
// Peak resident growth over the whole corpus. The loader's own bound for one
// picture is 1 GiB; nothing in the corpus is a sound picture above a few
// megabytes, so every bomb must be refused long before that.
constexpr long kMaxPeakGrowthKb = 384L * 1024;
constexpr long kMaxGrowthPerFileKb = 128L * 1024;

const char* outcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::Shown:
        return "shown";
    case Outcome::Reduced:
        return "shown reduced";
    case Outcome::Fails:
        return "a quiet failure";
    case Outcome::Either:
        return "shown or a quiet failure";
    case Outcome::Unlisted:
        return "never listed";
    }
    return "?";
}

// Whether the loader alone, asked for the whole picture, agrees.
bool loadsWhole(const QString& path) {
    try {
        return !loadPicture(path).isEmpty();
    } catch (const LoadError&) {
        return false;
    }
}

class HostileCorpusTest : public WindowTest {
protected:
    void TearDown() override {
        // Some names do not decode, which QTemporaryDir cannot remove.
        EXPECT_TRUE(removeTree(QFile::encodeName(dir.path())));
    }
};

TEST_F(HostileCorpusTest, EveryFileIsShownOrFailsQuietlyInBoundedTimeAndMemory) {
    const HostileCorpus made = writeHostileCorpus(dir.path());
    for (const QByteArray& name : made.notMade)
        ADD_FAILURE() << "could not make " << name.toStdString();
    const std::vector<HostileFile>& corpus = made.files;
    ASSERT_TRUE(QDir(dir.path()).mkdir("deep"));
    const QString deep = writeDeepFolder(dir.filePath("deep"), 1000);
    ASSERT_FALSE(deep.isEmpty());
    const QString deepPicture = deep + "/picture-at-the-bottom.jpg";
    ASSERT_GT(deepPicture.size(), 1000);

    std::map<QString, const HostileFile*> expected;
    for (const HostileFile& file : corpus) {
        const QString name = decodeFileName(file.name.toStdString());
        if (file.outcome != Outcome::Unlisted && isImageFileName(name))
            expected[dir.path() + '/' + name] = &file;
    }
    const HostileFile deepFile{"picture-at-the-bottom.jpg", "path over 1000 characters",
                               Outcome::Shown};
    expected[deepPicture] = &deepFile;

    startAndShow({dir.path(), deep});

    // The scan takes exactly the regular files and links to them.
    const ImageCatalogue& catalogue = form->catalogue;
    ASSERT_EQ(catalogue.lastIndex + 1, std::int32_t(expected.size()));
    EXPECT_EQ(form->comImage->count(), int(expected.size()));
    for (std::int32_t i = 0; i <= catalogue.lastIndex; ++i)
        EXPECT_TRUE(expected.count(catalogue.pathAt(i))) << catalogue.pathAt(i).toStdString();

    struct Tally {
        int shown = 0, failed = 0;
    };
    std::map<std::string, Tally> byKind;
    double worstMs = 0;
    QString worstPath;
    const long startKb = residentKb();
    long peakKb = startKb;
    long worstGrowthKb = 0;
    QString worstGrowthPath;
    for (std::int32_t i = 0; i <= catalogue.lastIndex; ++i) {
        const QString path = catalogue.pathAt(i);
        const auto found = expected.find(path);
        if (found == expected.end())
            continue;
        const HostileFile& file = *found->second;
        SCOPED_TRACE(path.toStdString() + " (" + file.kind + ")");

        const long beforeKb = residentKb();
        const PeakGrowth peak;
        const ShowResult result = showAndCheck(*form, i);
        if (const auto growth = peak.kb()) {
            peakKb = std::max(peakKb, beforeKb + *growth);
            if (*growth > worstGrowthKb) {
                worstGrowthKb = *growth;
                worstGrowthPath = path;
            }
        }
        if (file.outcome != Outcome::Either) {
            EXPECT_EQ(result.shown, file.outcome != Outcome::Fails)
                << "expected " << outcomeName(file.outcome);
            EXPECT_EQ(loadsWhole(path), file.outcome == Outcome::Shown)
                << "loaded whole, expected " << outcomeName(file.outcome);
        } else {
            loadsWhole(path); // either way; the sanitizers watch
        }
        EXPECT_LT(result.milliseconds, kMaxMillisecondsPerFile);
        if (result.milliseconds > worstMs) {
            worstMs = result.milliseconds;
            worstPath = path;
        }
        Tally& tally = byKind[file.kind];
        ++(result.shown ? tally.shown : tally.failed);
    }
    EXPECT_LT(peakKb - startKb, kMaxPeakGrowthKb);
    EXPECT_LT(worstGrowthKb, kMaxGrowthPerFileKb) << "at " << worstGrowthPath.toStdString();

    std::cout << "Hostile corpus: " << corpus.size() + 1 << " files made, " << expected.size()
              << " catalogued and shown in turn, " << corpus.size() + 1 - expected.size()
              << " never listed\n";
    for (const auto& [kind, tally] : byKind) {
        std::cout << "  " << std::left << std::setw(30) << kind << std::right << std::setw(4)
                  << tally.shown << " shown " << std::setw(4) << tally.failed << " failed\n";
    }
    std::cout << "  worst time per file: " << std::fixed << std::setprecision(0) << worstMs
              << " ms (" << worstPath.section(u'/', -1).left(70).toStdString() << ")\n";
    std::cout << "  peak resident growth over the run: " << (peakKb - startKb) / 1024
              << " MiB over " << startKb / 1024 << " MiB (bound " << kMaxPeakGrowthKb / 1024
              << " MiB)\n  largest growth in one show: " << worstGrowthKb / 1024 << " MiB (bound "
              << kMaxGrowthPerFileKb / 1024 << " MiB), at "
              << worstGrowthPath.section(u'/', -1).left(70).toStdString() << "\n";
}

// Frames of hundreds of megapixels for a window of one pixel: each shows or
// fails within its deadline, and the viewer's memory does not follow them.
TEST_F(HostileCorpusTest, HugeFramesOnATinyScreen) {
    const std::pair<const char*, QByteArray> files[] = {
        {"a-baseline-20000x15000.jpg", greyBaselineJpeg({20000, 15000})},
        {"b-lzw-16383x16383.gif", flatLzwGif({16383, 16383})},
        {"c-rle8-16000x16000.bmp", flatRle8Bmp({16000, 16000})},
    };
    for (const auto& [name, bytes] : files)
        ASSERT_TRUE(writeBytes(dir.filePath(name), bytes));
    startAndShow({dir.path()});
    form->showNormal();
    form->resize(1, 1);
    ASSERT_TRUE(waitFor([this] { return form->width() == 1 && form->height() == 1; }));
    for (std::int32_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(files[i].first);
        const PeakGrowth peak;
        const ShowResult result = showAndCheck(*form, i);
        EXPECT_LT(result.milliseconds, kMaxMillisecondsPerFile);
        if (const auto growth = peak.kb()) {
            EXPECT_LT(*growth, kMaxGrowthPerFileKb);
        }
        std::cout << "  " << files[i].first << ": " << (result.shown ? "shown" : "failed") << " in "
                  << std::fixed << std::setprecision(0) << result.milliseconds << " ms\n";
    }
}

} // namespace
} // namespace pictolune::testing
