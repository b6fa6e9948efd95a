#pragma once

#include "catalogue/ImageCatalogue.h"
#include "platform/loading/LookAhead.h"
#include "platform/loading/PictureLoad.h"

#include <QSize>
#include <QString>

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
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
// leaves the picture area empty and is never passed on. The window never
// waits on the decoders for more than a frame: a picture not decoded by
// then is captioned at once, laid out once its own size is known, and
// drawn once its pixels are there, unless the next show came first; a
// failure then ends the show as a failure at once would have. Meanwhile
// the pictures every single command can show next are decoded ahead.
class PictureDisplay {
public:
    PictureDisplay(ImageCatalogue& catalogue, FormWindow& window, PictureBox& image1,
                   Label& lblFilename, RandomSource& random);

    // A failed show also writes one line to stderr, "pictolune: PATH: REASON",
    // for whoever started the program from a terminal.
    void showImage() noexcept;

    // Whether the last show still waits for its picture's size or pixels.
    bool pictureToCome() const { return pending_.show != 0; }

    // The index the number list points at while it is open, which a choice
    // would show: decoded ahead before all others. Nothing once it closes.
    void setListChoice(std::optional<std::int32_t> index);

private:
    QSize drawSizeFor(QSize ownSize) const;
    DrawSizeChooser chooser();
    std::vector<QString> picturesAhead() const;
    void show(const QString*& path);
    void place(const QString& path, Picture picture);
    void progressed(std::uint64_t show) noexcept;
    void failLate() noexcept;
    void reportFailure(const QString* path, const std::exception_ptr& failure) const noexcept;
    std::string failureText(const QString* path, const std::exception_ptr& failure) const;

    // A show whose picture is still to come, and what it replaced, for when
    // it cannot be decoded.
    struct Pending {
        std::uint64_t show = 0;
        QString path;
        PictureLoad load;
        bool placed = false; // laid out at its own size
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
    std::uint64_t shows_ = 0;
    std::optional<std::int32_t> listChoice_;
    Pending pending_;
};

} // namespace pictolune
