#include "catalogue/ImageCatalogue.h"

#include "platform/base/Errors.h"
#include "platform/base/Numeric.h"

namespace pictolune {

const QString& ImageCatalogue::pathAt(std::int32_t index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= imagePaths.size())
        throw SubscriptError();
    return imagePaths[static_cast<std::size_t>(index)];
}

void ImageCatalogue::storePath(std::int32_t index, QString path) {
    if (index < 0 || static_cast<std::size_t>(index) >= imagePaths.size())
        throw SubscriptError();
    imagePaths[static_cast<std::size_t>(index)] = std::move(path);
}

std::int32_t nextIndex(const ImageCatalogue& catalogue) {
    const std::int32_t next = checkedAdd(catalogue.currentIndex, 1);
    return next > catalogue.lastIndex ? 0 : next;
}

std::int32_t previousIndex(const ImageCatalogue& catalogue) {
    const std::int32_t previous = checkedSubtract(catalogue.currentIndex, 1);
    return previous < 0 ? catalogue.lastIndex : previous;
}

void stepNext(ImageCatalogue& catalogue) {
    catalogue.currentIndex = nextIndex(catalogue);
}

void stepPrevious(ImageCatalogue& catalogue) {
    catalogue.currentIndex = previousIndex(catalogue);
}

void showImageSequential(ImageCatalogue& catalogue, const ShowPicture& showImage) {
    if (catalogue.randomMode) {
        catalogue.randomMode = false;
        showImage();
        catalogue.randomMode = true;
    } else {
        showImage();
    }
}

void slideshowTick(ImageCatalogue& catalogue, const ShowPicture& showImage) {
    if (!catalogue.randomMode)
        stepNext(catalogue);
    showImage();
}

} // namespace pictolune
