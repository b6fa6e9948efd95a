#include "display/PictureDisplay.h"

#include "display/Fit.h"
#include "platform/base/Errors.h"
#include "platform/base/Numeric.h"
#include "platform/base/Random.h"
#include "platform/base/StderrLine.h"
#include "platform/controls/FormWindow.h"
#include "platform/controls/Label.h"
#include "platform/controls/PictureBox.h"
#include "platform/files/FileNames.h"
#include "platform/loading/PictureLoader.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string_view>
#include <utility>

namespace pictolune {

namespace {

constexpr qsizetype kCaptionLimit = 100;
constexpr qsizetype kCaptionTail = 97;
// A held key repeats every 40 ms or so: a show in a hurry gives the pixels
// less than that before it steps on.
constexpr auto kHurriedWait = std::chrono::milliseconds(25);

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
    const QString* path = nullptr;
    try {
        show(path);
    } catch (...) {
        // Whatever failed, the picture area is left empty and the caller goes
        // on as if the show had worked; only the terminal hears why.
        image1_.clearPicture();
        reportFailure(path, std::current_exception());
    }
    // Asked once the command is done: random mode may be on again by then.
    lookAhead_.decodeAheadWhenIdle([this] { return picturesAhead(); }, chooser());
}

DrawSizeChooser PictureDisplay::chooser() {
    return [this](QSize own) { return drawSizeFor(own); };
}

// The pictures the next commands may show: the next draw's in random mode
// (a slideshow's next tick), then the next and the previous in order.
std::vector<QString> PictureDisplay::picturesAhead() const {
    std::vector<QString> paths;
    const auto add = [&](const auto& index) {
        try {
            const QString& path = catalogue_.pathAt(index(catalogue_));
            if (!path.isEmpty() && std::find(paths.begin(), paths.end(), path) == paths.end())
                paths.push_back(path);
        } catch (const Error&) {
            // An index at the end of the 32-bit range, or outside the list.
        }
    };
    if (catalogue_.randomMode)
        add([this](const ImageCatalogue& c) { return drawIndex(random_.peek(), c.lastIndex); });
    add(nextIndex);
    add(previousIndex);
    return paths;
}

// `path` is set as soon as the catalogue has named the picture.
void PictureDisplay::show(const QString*& path) {
    const std::uint64_t show = ++shows_;
    pending_ = Pending();
    image1_.setStretch(false);
    image1_.setVisible(false);

    if (catalogue_.randomMode)
        catalogue_.currentIndex = drawIndex(random_.draw(), catalogue_.lastIndex);

    path = &catalogue_.pathAt(catalogue_.currentIndex);
    Pending replaced{show, *path, lblFilename_.caption(), pictureHeight_, pictureWidth_};
    Picture picture =
        hurried_ ? lookAhead_.loadBy(*path, chooser(), LookAhead::Clock::now() + kHurriedWait,
                                     [this, show](const Picture& decoded, std::string_view why) {
                                         pixelsDecoded(show, decoded, why);
                                     })
                 : lookAhead_.load(*path, chooser());
    const bool pixelsToCome = !picture.isEmpty() && picture.raster().isNull();
    image1_.setPicture(std::move(picture));

    lblFilename_.setCaption(filenameCaption(*path));

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
    if (pixelsToCome)
        pending_ = std::move(replaced);
}

void PictureDisplay::pixelsDecoded(std::uint64_t show, const Picture& picture,
                                   std::string_view failure) {
    if (show != pending_.show)
        return;
    const Pending pending = std::exchange(pending_, Pending());
    if (failure.empty()) {
        image1_.setPicture(picture);
        return;
    }
    // As the show would have ended had its load failed at once.
    image1_.clearPicture();
    image1_.setStretch(false);
    image1_.setVisible(false);
    lblFilename_.setCaption(pending.caption);
    pictureHeight_ = pending.height;
    pictureWidth_ = pending.width;
    reportFailure(&pending.path, std::make_exception_ptr(LoadError(std::string(failure))));
}

void PictureDisplay::reportFailure(const QString* path,
                                   const std::exception_ptr& failure) const noexcept {
    try {
        sayOnStderr(failureText(path, failure));
    } catch (...) {
        // Not even the report could be made; the show still fails quietly.
    }
}

std::string PictureDisplay::failureText(const QString* path,
                                        const std::exception_ptr& failure) const {
    const std::string index = "index " + std::to_string(catalogue_.currentIndex);
    // The file's name as the system spells it; an empty path names no file.
    const std::string subject =
        path != nullptr && !path->isEmpty() ? encodeFileName(*path).toStdString() : index;
    try {
        std::rethrow_exception(failure);
    } catch (const SubscriptError&) {
        return index + " is outside the list";
    } catch (const LoadError& error) {
        // The loader's text mostly starts with the path already.
        std::string_view reason = error.detail();
        const std::string named = path != nullptr ? path->toStdString() + ": " : std::string();
        if (!named.empty() && reason.substr(0, named.size()) == named)
            reason.remove_prefix(named.size());
        return subject + ": " + std::string(reason.empty() ? "cannot load the picture" : reason);
    } catch (const ArithmeticError& error) {
        return subject + ": does not fit into " + std::to_string(window_.width()) + " x " +
               std::to_string(window_.height()) + " pixels: " + error.what();
    } catch (const std::exception& error) {
        return subject + ": " + error.what();
    } catch (...) {
        return subject + ": unknown failure";
    }
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
