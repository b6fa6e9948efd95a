#include "display/PictureDisplay.h"

#include "display/Fit.h"
#include "platform/base/Errors.h"
#include "platform/base/Numeric.h"
#include "platform/base/Random.h"
#include "platform/base/TerminalText.h"
#include "platform/controls/FormWindow.h"
#include "platform/controls/Label.h"
#include "platform/controls/PictureBox.h"
#include "platform/files/FileNames.h"
#include "platform/loading/PictureFile.h"
#include "platform/loading/Tunables.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string_view>
#include <utility>

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

void PictureDisplay::setListChoice(std::optional<std::int32_t> index) {
    listChoice_ = index;
    lookAhead_.decodeAheadWhenIdle([this] { return picturesAhead(); }, chooser());
}

DrawSizeChooser PictureDisplay::chooser() {
    return [this](QSize own) { return drawSizeFor(own); };
}

// The pictures every single command may show next, most likely first: the
// number list's entry while the list is open and points at one, the
// next draw's in random mode (a slideshow's next tick), the next and the
// previous in order (a step, and a wrap to the first or the last), the
// next draw's in any mode (Space), the first and the last (keys 1 and 0).
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
    const auto nextDraw = [this](const ImageCatalogue& c) {
        return drawIndex(random_.peek(), c.lastIndex);
    };
    if (listChoice_)
        add([this](const ImageCatalogue&) { return *listChoice_; });
    if (catalogue_.randomMode)
        add(nextDraw);
    add(nextIndex);
    add(previousIndex);
    add(nextDraw);
    add([](const ImageCatalogue&) { return 0; });
    add([](const ImageCatalogue& c) { return c.lastIndex; });
    // As many as fit in memory, each at most a window's worth of pixels.
    const QSize window = PictureBox::deviceSize(window_.scaleWidth(), window_.scaleHeight(),
                                                image1_.devicePixelRatioF());
    const std::int64_t frame = std::max<std::int64_t>(4LL * window.width() * window.height(), 1);
    const auto fit = std::size_t(std::max<std::int64_t>(tunables::kMostBytesAhead / frame - 1, 0));
    paths.resize(std::min(paths.size(), std::max(fit, tunables::kLeastPicturesAhead)));
    return paths;
}

// `path` is set as soon as the catalogue has named the picture.
void PictureDisplay::show(const QString*& path) {
    const std::uint64_t show = ++shows_;
    // The picture a show still waited for is no longer this display's;
    // the look-ahead keeps it while a next command may want it.
    pending_ = Pending();
    image1_.setStretch(false);
    image1_.setVisible(false);

    if (catalogue_.randomMode)
        catalogue_.currentIndex = drawIndex(random_.draw(), catalogue_.lastIndex);

    path = &catalogue_.pathAt(catalogue_.currentIndex);
    PictureLoad load = lookAhead_.load(*path, chooser());
    load.waitUntil(PictureLoad::Clock::now() + tunables::kShowWait);
    if (load.hasFailed())
        failToLoad(*path, load.failureReason());
    if (load.isFinished()) {
        place(*path, load.picture());
        return;
    }
    // The pixels follow; the caption says at once what is on its way.
    pending_ = {show, *path, load, false, lblFilename_.caption(), pictureHeight_, pictureWidth_};
    lblFilename_.setCaption(filenameCaption(*path));
    load.whenChanged([this, show] { progressed(show); });
    progressed(show);
}

// Assigns the picture (its pixels may be still to come) and lays it out by
// its own size.
void PictureDisplay::place(const QString& path, Picture picture) {
    image1_.setPicture(std::move(picture));

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

// The picture a show waits for has its own size, its pixels, or its
// failure.
void PictureDisplay::progressed(std::uint64_t show) noexcept {
    if (show != pending_.show)
        return;
    const PictureLoad& load = pending_.load;
    if (load.hasFailed()) {
        failLate();
        return;
    }
    try {
        if (!pending_.placed && !load.ownSize().isEmpty()) {
            pending_.placed = true;
            place(pending_.path, Picture(QImage(), load.ownSize()));
        }
        if (load.isFinished()) {
            image1_.setPicture(load.picture());
            pending_ = Pending();
        }
    } catch (...) {
        // As a show whose fit failed at once.
        const QString path = std::exchange(pending_, Pending()).path;
        image1_.clearPicture();
        reportFailure(&path, std::current_exception());
    }
}

// As the show would have ended had its load failed at once.
void PictureDisplay::failLate() noexcept {
    const Pending pending = std::exchange(pending_, Pending());
    image1_.clearPicture();
    image1_.setStretch(false);
    image1_.setVisible(false);
    lblFilename_.setCaption(pending.caption);
    pictureHeight_ = pending.height;
    pictureWidth_ = pending.width;
    try {
        failToLoad(pending.path, pending.load.failureReason());
    } catch (...) {
        reportFailure(&pending.path, std::current_exception());
    }
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
