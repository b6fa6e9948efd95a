#pragma once

#include "catalogue/ImageCatalogue.h"
#include "platform/loading/LookAhead.h"

#include <QSize>
#include <QString>

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace pictolune {

class FormWindow;
class Label;
class PictureBox;
class RandomSource;

// The path as the caption shows it: whole up to 100 characters, otherwise
// "..." and its last 97 characters, never splitting a surrogate pair.
QString filenameCaption(const QString& path);

// Index drawn uniformly over 0..lastIndex from r in [0, 1); 0 for an empty
// catalogue.
std::int32_t drawIndex(float r, std::int32_t lastIndex);

// Puts the picture at the catalogue's current index on screen: loaded,
// captioned, fitted into the window's inner area and centred. Any failure
// leaves the picture area empty and is never passed on. Meanwhile the
// pictures the next commands may show are decoded ahead: the next and the
// previous in the catalogue's order, and in random mode the next draw's.
class PictureDisplay {
public:
    PictureDisplay(ImageCatalogue& catalogue, FormWindow& window, PictureBox& image1,
                   Label& lblFilename, RandomSource& random);

    // A failed show also writes one line to stderr, "pictolune: PATH: REASON",
    // for whoever started the program from a terminal.
    void showImage() noexcept;

    // While set, a show waits for pixels still being decoded for a moment
    // only: a key held down repeats faster than large pictures decode, and
    // each press is to step on at once. The show is made with the picture's
    // own size, and its pixels are drawn when they are decoded, unless the
    // next show came first; pixels that cannot be decoded fail the show then,
    // as a load that failed at once would have.
    void setHurried(bool hurried) { hurried_ = hurried; }

private:
    QSize drawSizeFor(QSize ownSize) const;
    DrawSizeChooser chooser();
    std::vector<QString> picturesAhead() const;
    void show(const QString*& path);
    void reportFailure(const QString* path, const std::exception_ptr& failure) const noexcept;
    std::string failureText(const QString* path, const std::exception_ptr& failure) const;
    void pixelsDecoded(std::uint64_t show, const Picture& picture, std::string_view failure);

    // A show made in a hurry whose pixels are still to come, and what it
    // replaced, for when they cannot be decoded.
    struct Pending {
        std::uint64_t show = 0;
        QString path;
        QString caption;
        std::int32_t height = 0;
        std::int32_t width = 0;
    };

    ImageCatalogue& catalogue_;
    FormWindow& window_;
    PictureBox& image1_;
    Label& lblFilename_;
    RandomSource& random_;
    std::int32_t pictureHeight_ = 0;
    std::int32_t pictureWidth_ = 0;
    LookAhead lookAhead_;
    bool hurried_ = false;
    std::uint64_t shows_ = 0;
    Pending pending_;
};

} // namespace pictolune
