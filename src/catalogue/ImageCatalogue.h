#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

namespace pictolune {

// The state at the heart of the viewer: the image paths gathered from the
// chosen folders, the index on show and whether pictures are drawn at random.
struct ImageCatalogue {
    // Lower bound 0. Empty until the first scan dimensions it; elements above
    // lastIndex may exist and hold the empty string.
    std::vector<QString> imagePaths;
    std::int32_t currentIndex = 0;
    std::int32_t lastIndex = 0;
    std::int32_t scanCounter = 0;
    bool randomMode = false;
    QString directoryPath;
    QString listingEntry;

    // Bounds-checked access: raises SubscriptError outside the array.
    const QString& pathAt(std::int32_t index) const;
    void storePath(std::int32_t index, QString path);
};

// Shows the picture at the catalogue's current index; handed in by whoever
// owns the display, so the catalogue never calls the display itself.
using ShowPicture = std::function<void()>;

// The index stepNext and stepPrevious would move to; OverflowError at the
// ends of the 32-bit range.
std::int32_t nextIndex(const ImageCatalogue& catalogue);
std::int32_t previousIndex(const ImageCatalogue& catalogue);

void stepNext(ImageCatalogue& catalogue);
void stepPrevious(ImageCatalogue& catalogue);

// Shows the picture at currentIndex without a random draw, whatever
// randomMode holds; randomMode is as before afterwards.
void showImageSequential(ImageCatalogue& catalogue, const ShowPicture& showImage);

// One tick of the slideshow: in sequential mode the index moves on (and
// wraps); in random mode the show itself draws the index.
void slideshowTick(ImageCatalogue& catalogue, const ShowPicture& showImage);

} // namespace pictolune
