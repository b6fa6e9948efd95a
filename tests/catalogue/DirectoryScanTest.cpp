#include "catalogue/DirectoryScan.h"
#include "catalogue/FolderChooser.h"
#include "platform/controls/NumberList.h"
#include "platform/files/DirectoryListing.h"
#include "platform/files/FileNames.h"
#include "support/StderrCapture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <initializer_list>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace pictolune {
namespace {

void touch(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
}

// A temporary folder holding empty files with the given names.
class Folder {
public:
    explicit Folder(std::initializer_list<const char*> names = {}) {
        for (const char* name : names)
            add(name);
    }
    QString path() const { return dir_.path(); }
    QString operator/(const QString& name) const { return path() + "/" + name; }
    void add(const QString& name) const { touch(*this / name); }

private:
    QTemporaryDir dir_;
};

// Answers the folder dialog from the test and counts how often it was asked.
class FakeChooser : public FolderChooser {
public:
    QString chooseDirectory() override {
        ++calls;
        if (whileOpen)
            whileOpen();
        return answer;
    }
    QString answer;
    std::function<void()> whileOpen;
    int calls = 0;
};

// The real listing, with a hook that runs before each new listing starts,
// so a test can see the passes and change the folder between them.
class WatchedListing : public DirectoryListing {
public:
    QString first(const QString& directory) override {
        directories.push_back(directory);
        if (beforeListing)
            beforeListing(static_cast<int>(directories.size()));
        return system_.first(directory);
    }
    QString next() override { return system_.next(); }

    std::vector<QString> directories;
    std::function<void(int listing)> beforeListing;

private:
    SystemDirectoryListing system_;
};

struct Snapshot {
    std::vector<QString> imagePaths;
    std::int32_t currentIndex, lastIndex, scanCounter;
    bool randomMode;
    QString directoryPath, listingEntry;
    int numberListCount;
    bool operator==(const Snapshot&) const = default;
};

class DirectoryScanTest : public ::testing::Test {
protected:
    DirectoryScanTest() : scan(catalogue, comImage, chooser, listing) {}

    void startIn(const QString& folder) {
        chooser.answer = folder;
        scan.loadStartupDirectory();
    }
    void changeTo(const QString& folder) {
        chooser.answer = folder;
        scan.changeDirectory(refresh);
    }
    void add(const QString& folder) {
        chooser.answer = folder;
        scan.addDirectory();
    }

    Snapshot snapshot() const {
        return {catalogue.imagePaths,   catalogue.currentIndex, catalogue.lastIndex,
                catalogue.scanCounter,  catalogue.randomMode,   catalogue.directoryPath,
                catalogue.listingEntry, comImage.count()};
    }

    // The catalogue holds exactly `paths` (empty strings for spare elements)
    // and agrees with the number list and the scan counter.
    void expectCatalogue(const std::vector<QString>& paths, std::int32_t lastIndex) const {
        EXPECT_EQ(catalogue.imagePaths, paths);
        EXPECT_EQ(catalogue.lastIndex, lastIndex);
        EXPECT_EQ(catalogue.scanCounter, lastIndex);
        EXPECT_EQ(catalogue.listingEntry, "");
        ASSERT_EQ(comImage.count(), lastIndex + 1);
        for (int i = 0; i < comImage.count(); ++i)
            EXPECT_EQ(comImage.itemText(i), QString::number(i));
    }

    ImageCatalogue catalogue;
    NumberList comImage;
    FakeChooser chooser;
    WatchedListing listing;
    int refreshes = 0;
    ShowPicture refresh = [this] { ++refreshes; };
    DirectoryScan scan;
};

TEST(IsImageFileName, ComparesTheLastFourCharactersExactlyOrWithoutCase) {
    struct Case {
        const char16_t* name;
        bool image;        // as a folder's scan takes it
        bool namedPicture; // compared without case, as for a picture named
    };
    const Case cases[] = {
        {u"a.jpg", true, true},
        {u"d.jpeg", true, true},
        {u"e.gif", true, true},
        {u"x.bmp", true, true},
        {u"x.wmf", true, true},
        {u"x.tiff", true, true},
        {u"c.JPG", false, true},
        {u"F.BMP", false, true},
        {u"a.Gif", false, true},
        {u"IMG.JPEG", false, true},
        {u"s.TIFF", false, true},
        {u"m.WMF", false, true},
        {u"tiff", true, true},
        {u"jpeg", true, true},
        {u".gif", true, true},
        {u"gif", false, false},
        {u"jpg", false, false},
        {u"", false, false},
        {u"notjpeg", true, true},
        {u"xtiff", true, true},
        {u"photo.tif", false, false},
        {u"photo.png", false, false},
        {u"b-kite.PNG", false, false},
        {u"photo.jpe", false, false},
        {u"photo.jpg.bak", false, false},
        {u"a.jpg ", false, false},
        {u"\U0001F319.gif", true, true},
        {u"b.txt", false, false},
    };
    for (const Case& c : cases) {
        const QString name = QString::fromUtf16(c.name);
        EXPECT_EQ(isImageFileName(name), c.image) << name.toStdString();
        EXPECT_EQ(isImageFileName(name, Qt::CaseInsensitive), c.namedPicture) << name.toStdString();
    }
}

TEST_F(DirectoryScanTest, StartupTakesTheImagesInListingOrderAndLeavesOneSpareElement) {
    const Folder folder{"a.jpg", "b.txt", "c.JPG", "d.jpeg", "e.gif", "F.BMP"};
    startIn(folder.path());
    expectCatalogue({folder / "a.jpg", folder / "d.jpeg", folder / "e.gif", ""}, 2);
    EXPECT_EQ(catalogue.directoryPath, folder.path());
    EXPECT_EQ(listing.directories, (std::vector<QString>{folder.path(), folder.path()}))
        << "a count pass and a fill pass";
}

TEST_F(DirectoryScanTest, TakesHiddenFilesButNoDirectoriesFifosOrNearMisses) {
    const Folder folder{".hidden.jpg", "tiff", "notjpeg", "gif", "photo.tif", "photo.jpg.bak"};
    ASSERT_TRUE(QDir(folder.path()).mkdir("sub.jpg"));
    touch(folder / "sub.jpg/inner.jpg");
    ASSERT_EQ(::mkfifo(encodeFileName(folder / "x.jpg").constData(), 0644), 0);
    startIn(folder.path());
    expectCatalogue({folder / ".hidden.jpg", folder / "notjpeg", folder / "tiff", ""}, 2);
}

TEST_F(DirectoryScanTest, StartupFromTheCommandLineNeedsNoDialog) {
    const Folder first{"1.jpg", "2.jpg"}, second{"3.gif"};
    scan.loadStartupDirectory(first.path());
    scan.addDirectory(second.path());
    EXPECT_EQ(chooser.calls, 0);
    expectCatalogue({first / "1.jpg", first / "2.jpg", second / "3.gif"}, 2);
}

TEST_F(DirectoryScanTest, NamedPicturesAreTakenAtTheirPlaceWhateverTheCaseOfTheirEnding) {
    const Folder first{"a.jpg", "IMG_0002.JPG", "c.jpg", "b.Gif"}, second{"b.Gif", "d.gif"};
    const QStringList named{first / "IMG_0002.JPG", second / "b.Gif"};
    scan.loadStartupDirectory(first.path(), named);
    scan.addDirectory(second.path(), named);
    expectCatalogue({first / "a.jpg", first / "c.jpg", first / "IMG_0002.JPG", second / "b.Gif",
                     second / "d.gif"},
                    4);

    // Named nowhere, or in another folder, the folder keeps the exact endings.
    // Spelled with a trailing slash, its paths, named ones too, have two.
    const QString slashed = first.path() + "/";
    const std::vector<std::tuple<QString, QStringList, std::vector<QString>>> cases = {
        {first.path(), {}, {first / "a.jpg", first / "c.jpg", ""}},
        {first.path(), {second / "IMG_0002.JPG"}, {first / "a.jpg", first / "c.jpg", ""}},
        {slashed,
         {slashed + "/IMG_0002.JPG"},
         {slashed + "/a.jpg", slashed + "/c.jpg", slashed + "/IMG_0002.JPG", ""}},
    };
    for (const auto& [folder, names, paths] : cases) {
        ImageCatalogue fresh;
        NumberList list;
        DirectoryScan(fresh, list, chooser, listing).loadStartupDirectory(folder, names);
        EXPECT_EQ(fresh.imagePaths, paths) << folder.toStdString();
    }
}

TEST_F(DirectoryScanTest, JoinsWithOneSlashWhateverTheFolderEndsWith) {
    const Folder folder{"a.jpg"};
    startIn(folder.path() + "/");
    expectCatalogue({folder.path() + "//a.jpg", ""}, 0);
    EXPECT_TRUE(QFile::exists(catalogue.imagePaths[0]));
}

TEST_F(DirectoryScanTest, CancelledStartupLeavesAnEmptyCatalogueWithoutListingAnything) {
    startIn("");
    expectCatalogue({""}, -1);
    EXPECT_EQ(catalogue.directoryPath, "");
    EXPECT_TRUE(listing.directories.empty()) << "no folder, and certainly not the root, is read";
}

// A folder that gives no picture leaves the window black; whoever started
// Pictolune from a terminal reads why, in one line.
TEST_F(DirectoryScanTest, AFolderWithoutPicturesIsOneLineOnStderr) {
    enum Operation { Start, Change, Add };
    struct Case {
        Operation operation;
        std::vector<QString> names;
        std::vector<std::string> said; // each in the one line; none: no line
        std::string notSaid = {};
    };
    const std::string endings =
        ": no picture Pictolune shows (names ending in .jpg, jpeg, .bmp, .gif, tiff or .wmf)";
    const std::string caseWord = ", but the endings are case-sensitive (a picture named on the "
                                 "command line is shown whatever its case)";
    const Case cases[] = {
        // Straight from a camera.
        {Start,
         {"IMG_0001.JPG", "IMG_0002.JPG", "notes.txt"},
         {endings, "; 2 files end in .JPG" + caseWord}},
        {Add,
         {"scan.Tiff", "b.JPEG", "c.Tiff"},
         {endings, "; 3 files end in JPEG or Tiff" + caseWord}},
        {Change, {"kite.png", "sky.webp", "scan.tif"}, {endings}, "case-sensitive"},
        {Start, {}, {endings}, "case-sensitive"},
        {Start, {"a.jpg", "B.JPG"}, {}},
        {Add, {"a.gif"}, {}},
    };
    for (const Case& c : cases) {
        Folder parent;
        // The folder's name goes through as one line, whatever it holds.
        const QString folder = parent / "new\nline";
        ASSERT_TRUE(QDir().mkdir(folder));
        for (const QString& name : c.names)
            touch(folder + "/" + name);
        testing::StderrCapture stderrText;
        if (c.operation == Start)
            startIn(folder);
        else if (c.operation == Change)
            changeTo(folder);
        else
            add(folder);
        const std::string said = stderrText.take();
        if (c.said.empty()) {
            EXPECT_EQ(said, "") << c.names.size();
            continue;
        }
        const std::string start = "pictolune: " + parent.path().toStdString() + "/new?line";
        EXPECT_EQ(said.rfind(start, 0), 0u) << said;
        EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
        for (const std::string& part : c.said)
            EXPECT_NE(said.find(part), std::string::npos) << part << " missing in " << said;
        if (!c.notSaid.empty()) {
            EXPECT_EQ(said.find(c.notSaid), std::string::npos) << said;
        }
    }

    // A dialog cancelled at start says so; cancelled later it changes
    // nothing and says nothing.
    testing::StderrCapture stderrText;
    startIn("");
    const std::string said = stderrText.take();
    EXPECT_EQ(said, "pictolune: no folder chosen, so there is no picture to show: press Enter "
                    "to choose one, or name a folder on the command line\n");
    changeTo("");
    add("");
    EXPECT_EQ(stderrText.take(), "");
}

TEST_F(DirectoryScanTest, ChangeShowsTheNewFolderFromItsFirstPictureWithOneRefresh) {
    const Folder old{"1.jpg", "2.jpg", "3.jpg", "4.jpg", "5.jpg", "6.jpg", "7.jpg", "8.jpg"};
    const Folder folder{"a.jpg", "b.gif", "c.bmp"};
    startIn(old.path());
    catalogue.currentIndex = 7;
    catalogue.randomMode = true;
    refresh = [&] {
        ++refreshes;
        // The refresh comes after the fill and shows without a random draw.
        EXPECT_EQ(catalogue.currentIndex, 0);
        EXPECT_FALSE(catalogue.randomMode);
        EXPECT_EQ(catalogue.lastIndex, 2);
        EXPECT_EQ(catalogue.imagePaths.at(0), folder / "a.jpg");
    };
    changeTo(folder.path());
    EXPECT_EQ(refreshes, 1);
    EXPECT_EQ(catalogue.currentIndex, 0);
    EXPECT_TRUE(catalogue.randomMode);
    expectCatalogue({folder / "a.jpg", folder / "b.gif", folder / "c.bmp", ""}, 2);
}

TEST_F(DirectoryScanTest, ChangeToAFolderWithoutPicturesStillRefreshesOnce) {
    const Folder old{"a.jpg", "b.jpg"}, folder{"notes.txt"};
    startIn(old.path());
    catalogue.currentIndex = 1;
    changeTo(folder.path());
    EXPECT_EQ(refreshes, 1);
    EXPECT_EQ(catalogue.currentIndex, 0);
    expectCatalogue({""}, -1);
}

TEST_F(DirectoryScanTest, ChangeTouchesNothingWhileTheDialogIsOpen) {
    const Folder old{"a.jpg", "b.jpg"}, folder{"c.jpg"};
    startIn(old.path());
    const Snapshot before = snapshot();
    int checks = 0;
    chooser.whileOpen = [&] {
        EXPECT_EQ(snapshot(), before);
        ++checks;
    };
    changeTo(folder.path());
    EXPECT_EQ(checks, 1);
    expectCatalogue({folder / "c.jpg", ""}, 0);
}

TEST_F(DirectoryScanTest, CancelledChangeOrAddChangesNothing) {
    const Folder folder{"a.jpg", "b.jpg", "c.jpg"};
    startIn(folder.path());
    catalogue.currentIndex = 2;
    const Snapshot before = snapshot();
    const std::size_t listings = listing.directories.size();

    changeTo("");
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(refreshes, 0);
    add("");
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(listing.directories.size(), listings);
    EXPECT_EQ(chooser.calls, 3);
}

TEST_F(DirectoryScanTest, AddAfterChangeAppendsWithoutASpareElement) {
    const Folder first{"a.jpg", "b.jpg", "c.jpg"}, second{"x.gif", "y.gif", "z.txt"};
    startIn(first.path());
    changeTo(first.path());
    catalogue.currentIndex = 1;
    add(second.path());
    expectCatalogue(
        {first / "a.jpg", first / "b.jpg", first / "c.jpg", second / "x.gif", second / "y.gif"}, 4);
    EXPECT_EQ(catalogue.currentIndex, 1);
    EXPECT_EQ(refreshes, 1) << "only the change refreshes";
    EXPECT_EQ(catalogue.directoryPath, second.path());
}

TEST_F(DirectoryScanTest, AddOfAFolderWithoutPicturesDropsOnlyTheSpareElement) {
    const Folder first{"a.jpg", "b.jpg", "c.jpg"}, empty;
    startIn(first.path());
    add(empty.path());
    expectCatalogue({first / "a.jpg", first / "b.jpg", first / "c.jpg"}, 2);
}

TEST_F(DirectoryScanTest, TheSameFolderAddedTwiceIsCataloguedTwice) {
    const Folder folder{"a.jpg", "b.jpg"};
    startIn(folder.path());
    add(folder.path());
    add(folder.path());
    const QString a = folder / "a.jpg", b = folder / "b.jpg";
    expectCatalogue({a, b, a, b, a, b}, 5);
}

TEST_F(DirectoryScanTest, AddToAnEmptyCatalogue) {
    const Folder empty, folder{"a.jpg", "b.jpg"};
    startIn("");
    add(empty.path());
    expectCatalogue({}, -1);
    add(folder.path());
    expectCatalogue({folder / "a.jpg", folder / "b.jpg"}, 1);
}

// The count pass sizes the array; a folder that changes before the fill pass
// must neither overrun it nor leave the number list out of step.
TEST_F(DirectoryScanTest, AFolderThatChangesBetweenThePasses) {
    struct Case {
        const char* description;
        bool addToExisting;
        int extraFiles; // negative: files removed
        std::size_t size;
        std::int32_t lastIndex;
    };
    const Case cases[] = {
        {"start-up, grows", false, 3, 3, 2},    // stops at the bound: the spare fills
        {"start-up, shrinks", false, -1, 3, 0}, // fewer stored, the rest stay empty
        {"add, grows", true, 3, 3, 2},          // the old path and the two counted
        {"add, shrinks", true, -1, 3, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        ImageCatalogue fresh;
        NumberList numbers;
        WatchedListing watched;
        DirectoryScan scanner(fresh, numbers, chooser, watched);
        const Folder existing{"0.jpg"}, folder{"a.jpg", "b.jpg"};
        if (c.addToExisting)
            scanner.loadStartupDirectory(existing.path());
        const int fillPass = static_cast<int>(watched.directories.size()) + 2;
        watched.beforeListing = [&](int listingNumber) {
            if (listingNumber != fillPass)
                return;
            for (int i = 0; i < c.extraFiles; ++i)
                folder.add(QString("c%1.jpg").arg(i));
            if (c.extraFiles < 0) {
                ASSERT_TRUE(QFile::remove(folder / "a.jpg"));
            }
        };
        if (c.addToExisting)
            scanner.addDirectory(folder.path());
        else
            scanner.loadStartupDirectory(folder.path());

        ASSERT_EQ(fresh.imagePaths.size(), c.size);
        EXPECT_EQ(fresh.lastIndex, c.lastIndex);
        EXPECT_EQ(fresh.scanCounter, c.lastIndex);
        EXPECT_EQ(fresh.listingEntry, "");
        EXPECT_EQ(numbers.count(), c.lastIndex + 1);
        for (std::size_t i = 0; i < c.size; ++i) {
            EXPECT_EQ(fresh.imagePaths[i].isEmpty(), static_cast<std::int32_t>(i) > c.lastIndex)
                << i;
        }
    }
}

// A folder that cannot be read scans as one without pictures. The listing's
// own tests cover a folder without read permission (skipped as root); a
// vanished folder is unreadable whoever runs the test.
TEST_F(DirectoryScanTest, AVanishedFolderHasNoPictures) {
    const Folder old{"a.jpg"};
    QString vanished;
    {
        const Folder folder{"b.jpg"};
        vanished = folder.path();
    }
    startIn(old.path());
    changeTo(vanished);
    EXPECT_EQ(refreshes, 1);
    expectCatalogue({""}, -1);
    add(vanished);
    expectCatalogue({}, -1);
}

TEST_F(DirectoryScanTest, ANameThatIsNotUtf8KeepsItsBytesInThePath) {
    const Folder folder;
    const QByteArray bytes = encodeFileName(folder.path()) + "/caf\xe9.jpg";
    const int fd = ::open(bytes.constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    startIn(folder.path());
    ASSERT_EQ(catalogue.lastIndex, 0);
    EXPECT_EQ(catalogue.imagePaths[0], folder.path() + QString::fromUtf16(u"/caf\xdce9.jpg"));
    EXPECT_EQ(encodeFileName(catalogue.imagePaths[0]), bytes);
}

} // namespace
} // namespace pictolune
