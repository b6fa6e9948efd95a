#include "display/PictureDisplay.h"

#include "display/Fit.h"
#include "platform/Errors.h"
#include "platform/FormWindow.h"
#include "platform/Label.h"
#include "platform/Numeric.h"
#include "platform/PictureBox.h"
#include "platform/PictureLoader.h"
#include "platform/Random.h"

#include <algorithm>
#include <cmath>

namespace pictolune {

namespace {

constexpr qsizetype kCaptionLimit = 100;
constexpr qsizetype kCaptionTail = 97;

} // namespace

QString filenameCaption(const QString& path) {
    if (path.size() <= kCaptionLimit)
        return path;
    qsizetype start = path.size() - kCaptionTail;
    // Keep a character that needs two UTF-16 units whole: drop its second
    // half rather than show half a character.
    if (path[start].isLowSurrogate() && path[start - 1].isHighSurrogate())
        ++start;
    return QStringLiteral("...") + path.mid(start);
}

std::int32_t drawIndex(float r, std::int32_t lastIndex) {
    if (lastIndex < 0)
        return 0;
    const double index =
        std::floor(static_cast<double>(r) * (static_cast<double>(lastIndex) + 1.0));
    return std::min(static_cast<std::int32_t>(index), lastIndex);
}

PictureDisplay::PictureDisplay(ImageCatalogue& catalogue, FormWindow& window, PictureBox& image1,
                               Label& lblFilename, RandomSource& random)
    : catalogue_(catalogue), window_(window), image1_(image1), lblFilename_(lblFilename),
      random_(random) {}

void PictureDisplay::showImage() noexcept {
    try {
        show();
    } catch (...) {
        // Whatever failed, the picture area is left empty and the caller goes
        // on as if the show had worked.
        image1_.clearPicture();
    }
}

void PictureDisplay::show() {
    image1_.setStretch(false);
    image1_.setVisible(false);

    if (catalogue_.randomMode)
        catalogue_.currentIndex = drawIndex(random_.draw(), catalogue_.lastIndex);

    const QString& path = catalogue_.pathAt(catalogue_.currentIndex);
    image1_.setPicture(loadPicture(path, [this](QSize own) { return drawSizeFor(own); }));

    lblFilename_.setCaption(filenameCaption(path));

    pictureHeight_ = roundHalfEven(image1_.height());
    pictureWidth_ = roundHalfEven(image1_.width());

    image1_.setStretch(true);
    const Placement placement =
        fitPicture(window_.scaleWidth(), window_.scaleHeight(), pictureWidth_, pictureHeight_,
                   image1_.width(), image1_.height());
    image1_.setHeight(placement.height);
    image1_.setWidth(placement.width);
    image1_.setLeft(placement.left);
    image1_.setTop(placement.top);
    image1_.setStretch(placement.stretch);

    image1_.setVisible(true);
}

// The size the picture will be drawn at, in device pixels, so that the loader
// decodes no more than the screen shows. Asked before the picture is in the
// control, so it runs the same fit on the size the control will report.
QSize PictureDisplay::drawSizeFor(QSize ownSize) const {
    const qreal ratio = image1_.devicePixelRatioF();
    const float ownWidth = static_cast<float>(ownSize.width() / ratio);
    const float ownHeight = static_cast<float>(ownSize.height() / ratio);
    try {
        const Placement placement =
            fitPicture(window_.scaleWidth(), window_.scaleHeight(), roundHalfEven(ownWidth),
                       roundHalfEven(ownHeight), ownWidth, ownHeight);
        if (!placement.stretch)
            return ownSize;
        const QSize drawn = PictureBox::deviceSize(placement.width, placement.height, ratio);
        return drawn.boundedTo(ownSize);
    } catch (const Error&) {
        // The fit will fail again after the load and blank the picture: decode
        // as little as possible meanwhile.
        return QSize(1, 1);
    }
}

} // namespace pictolune
