#include "catalogue/ImageCatalogue.h"

#include "platform/Errors.h"
#include "platform/Numeric.h"

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

void stepNext(ImageCatalogue& catalogue) {
    catalogue.currentIndex = checkedAdd(catalogue.currentIndex, 1);
    if (catalogue.currentIndex > catalogue.lastIndex)
        catalogue.currentIndex = 0;
}

void stepPrevious(ImageCatalogue& catalogue) {
    catalogue.currentIndex = checkedSubtract(catalogue.currentIndex, 1);
    if (catalogue.currentIndex < 0)
        catalogue.currentIndex = catalogue.lastIndex;
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
