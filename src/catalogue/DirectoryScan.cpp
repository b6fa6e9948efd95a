#include "catalogue/DirectoryScan.h"

#include "catalogue/FolderChooser.h"
#include "platform/DirectoryListing.h"
#include "platform/NumberList.h"
#include "platform/Numeric.h"

#include <algorithm>

namespace pictolune {

bool isImageFileName(QStringView name) {
    const QStringView ending = name.size() > 4 ? name.last(4) : name;
    return ending == u".jpg" || ending == u"jpeg" || ending == u".bmp" || ending == u".gif" ||
           ending == u"tiff" || ending == u".wmf";
}

DirectoryScan::DirectoryScan(ImageCatalogue& catalogue, NumberList& comImage,
                             FolderChooser& chooser, DirectoryListing& listing)
    : catalogue_(catalogue), comImage_(comImage), chooser_(chooser), listing_(listing) {}

void DirectoryScan::loadStartupDirectory() {
    loadStartupDirectory(chooser_.chooseDirectory());
}

void DirectoryScan::loadStartupDirectory(const QString& folder) {
    catalogue_.scanCounter = 0;
    if (folder.isEmpty()) {
        // No folder: an empty catalogue, as a folder without pictures leaves it.
        redimension(false);
        catalogue_.scanCounter = -1;
        catalogue_.lastIndex = -1;
        return;
    }
    catalogue_.directoryPath = folder;
    countPass();
    redimension(false);
    catalogue_.scanCounter = 0;
    fillPass();
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
    countPass();
    redimension(false);
    catalogue_.scanCounter = 0;
    fillPass();
    catalogue_.currentIndex = 0;
    showImageSequential(catalogue_, showImage);
}

void DirectoryScan::addDirectory() {
    addDirectory(chooser_.chooseDirectory());
}

void DirectoryScan::addDirectory(const QString& folder) {
    if (folder.isEmpty())
        return;
    catalogue_.directoryPath = folder;
    countPass();
    redimension(true);
    catalogue_.scanCounter = checkedAdd(catalogue_.lastIndex, 1);
    fillPass();
}

void DirectoryScan::countPass() {
    ImageCatalogue& c = catalogue_;
    c.listingEntry = listing_.first(c.directoryPath);
    while (!c.listingEntry.isEmpty()) {
        if (isImageFileName(c.listingEntry))
            c.scanCounter = checkedAdd(c.scanCounter, 1);
        c.listingEntry = listing_.next();
    }
}

void DirectoryScan::fillPass() {
    ImageCatalogue& c = catalogue_;
    // The number list only ever shows 0..lastIndex, so the pass appends its
    // entries in one step at the end rather than one per path.
    int stored = 0;
    c.listingEntry = listing_.first(c.directoryPath);
    while (!c.listingEntry.isEmpty()) {
        if (isImageFileName(c.listingEntry)) {
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
