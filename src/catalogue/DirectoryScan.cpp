#include "catalogue/DirectoryScan.h"

#include "catalogue/FolderChooser.h"
#include "platform/base/Numeric.h"
#include "platform/base/TerminalText.h"
#include "platform/controls/NumberList.h"
#include "platform/files/DirectoryListing.h"
#include "platform/files/FileNames.h"

#include <algorithm>
#include <string>

namespace pictolune {

namespace {

constexpr QStringView kImageEndings[] = {u".jpg", u"jpeg", u".bmp", u".gif", u"tiff", u".wmf"};

// The names of those named pictures that lie in `folder`. A name with a
// slash left in it lies deeper and matches no entry of the listing.
QStringList namesIn(const QString& folder, const QStringList& namedPictures) {
    const QString prefix = folder + u'/';
    QStringList names;
    for (const QString& path : namedPictures) {
        if (path.startsWith(prefix))
            names.append(path.sliced(prefix.size()));
    }
    return names;
}

bool takes(QStringView entry, const QStringList& named) {
    return isImageFileName(entry) || named.contains(entry);
}

} // namespace

bool isImageFileName(QStringView name, Qt::CaseSensitivity cs) {
    const QStringView ending = name.size() > 4 ? name.last(4) : name;
    return std::any_of(std::begin(kImageEndings), std::end(kImageEndings),
                       [&](QStringView image) { return ending.compare(image, cs) == 0; });
}

QString imageEndingsText() {
    QString text;
    for (const QStringView ending : kImageEndings) {
        if (!text.isEmpty())
            text += ending == kImageEndings[std::size(kImageEndings) - 1] ? u" or " : u", ";
        text += ending;
    }
    return text;
}

DirectoryScan::DirectoryScan(ImageCatalogue& catalogue, NumberList& comImage,
                             FolderChooser& chooser, DirectoryListing& listing)
    : catalogue_(catalogue), comImage_(comImage), chooser_(chooser), listing_(listing) {}

void DirectoryScan::loadStartupDirectory() {
    const QString folder = chooser_.chooseDirectory();
    if (folder.isEmpty())
        sayOnStderr("no folder chosen, so there is no picture to show: press Enter to choose "
                    "one, or name a folder on the command line");
    loadStartupDirectory(folder);
}

void DirectoryScan::loadStartupDirectory(const QString& folder, const QStringList& namedPictures) {
    catalogue_.scanCounter = 0;
    if (folder.isEmpty()) {
        // No folder: an empty catalogue, as a folder without pictures leaves it.
        redimension(false);
        catalogue_.scanCounter = -1;
        catalogue_.lastIndex = -1;
        return;
    }
    catalogue_.directoryPath = folder;
    const QStringList named = namesIn(folder, namedPictures);
    countPass(named);
    redimension(false);
    catalogue_.scanCounter = 0;
    if (fillPass(named) == 0)
        reportNoPicture();
}

void DirectoryScan::changeDirectory(const ShowPicture& showImage) {
    const QString folder = chooser_.chooseDirectory();
    if (folder.isEmpty())
        return;
    comImage_.clear();
    // The old paths are done with once a folder is chosen; nothing runs
    // between here and the fill, so letting them go now only keeps them from
    // sharing the peak with the listing of a large folder.
    std::vector<QString>().swap(catalogue_.imagePaths);
    catalogue_.scanCounter = 0;
    catalogue_.directoryPath = folder;
    countPass({});
    redimension(false);
    catalogue_.scanCounter = 0;
    if (fillPass({}) == 0)
        reportNoPicture();
    catalogue_.currentIndex = 0;
    showImageSequential(catalogue_, showImage);
}

void DirectoryScan::addDirectory() {
    addDirectory(chooser_.chooseDirectory());
}

void DirectoryScan::addDirectory(const QString& folder, const QStringList& namedPictures) {
    if (folder.isEmpty())
        return;
    catalogue_.directoryPath = folder;
    const QStringList named = namesIn(folder, namedPictures);
    countPass(named);
    redimension(true);
    catalogue_.scanCounter = checkedAdd(catalogue_.lastIndex, 1);
    if (fillPass(named) == 0)
        reportNoPicture();
}

void DirectoryScan::countPass(const QStringList& named) {
    ImageCatalogue& c = catalogue_;
    otherCase_ = 0;
    otherCaseEndings_.clear();
    c.listingEntry = listing_.first(c.directoryPath);
    while (!c.listingEntry.isEmpty()) {
        if (takes(c.listingEntry, named))
            c.scanCounter = checkedAdd(c.scanCounter, 1);
        else if (isImageFileName(c.listingEntry, Qt::CaseInsensitive))
            noteOtherCase(c.listingEntry);
        c.listingEntry = listing_.next();
    }
}

void DirectoryScan::noteOtherCase(QStringView name) {
    ++otherCase_;
    // The endings as the files spell them, each once: .JPG or Tiff.
    const QStringView ending = name.size() > 4 ? name.last(4) : name;
    if (!otherCaseEndings_.contains(ending))
        otherCaseEndings_.append(ending.toString());
}

int DirectoryScan::fillPass(const QStringList& named) {
    ImageCatalogue& c = catalogue_;
    // The number list only ever shows 0..lastIndex, so the pass appends its
    // entries in one step at the end rather than one per path.
    int stored = 0;
    c.listingEntry = listing_.first(c.directoryPath);
    while (!c.listingEntry.isEmpty()) {
        if (takes(c.listingEntry, named)) {
            // A folder that gained pictures since the count pass: keep what
            // fits and leave the rest for the next scan.
            if (static_cast<std::size_t>(c.scanCounter) >= c.imagePaths.size()) {
                c.listingEntry.clear();
                break;
            }
            QString path;
            path.reserve(c.directoryPath.size() + 1 + c.listingEntry.size());
            path.append(c.directoryPath).append(u'/').append(c.listingEntry);
            c.storePath(c.scanCounter, std::move(path));
            ++stored;
            c.scanCounter = checkedAdd(c.scanCounter, 1);
        }
        c.listingEntry = listing_.next();
    }
    comImage_.append(stored);
    c.scanCounter = checkedSubtract(c.scanCounter, 1);
    c.lastIndex = c.scanCounter;
    return stored;
}

void DirectoryScan::reportNoPicture() const {
    std::string line = encodeFileName(catalogue_.directoryPath).toStdString() +
                       ": no picture Pictolune shows (names ending in " +
                       imageEndingsText().toStdString() + ")";
    if (otherCase_ > 0) {
        line += "; " + std::to_string(otherCase_) +
                (otherCase_ == 1 ? " file ends in " : " files end in ") +
                encodeFileName(otherCaseEndings_.join(u" or ")).toStdString() +
                ", but the endings are case-sensitive (a picture named on the command line is "
                "shown whatever its case)";
    }
    sayOnStderr(line);
}

void DirectoryScan::redimension(bool keepPaths) {
    std::vector<QString>& paths = catalogue_.imagePaths;
    const auto size = static_cast<std::size_t>(
        std::max<std::int64_t>(0, static_cast<std::int64_t>(catalogue_.scanCounter) + 1));
    if (!keepPaths) {
        // A fresh array, so the memory of a larger earlier folder goes too.
        std::vector<QString>(size).swap(paths);
        return;
    }
    // reserve() allocates exactly; resize() alone may double the capacity.
    paths.reserve(size);
    paths.resize(size);
}

} // namespace pictolune
