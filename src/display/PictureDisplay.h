#pragma once

#include "catalogue/ImageCatalogue.h"
#include "platform/LookAhead.h"

#include <QSize>
#include <QString>

#include <cstdint>
#include <exception>
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

private:
    QSize drawSizeFor(QSize ownSize) const;
    DrawSizeChooser chooser();
    std::vector<QString> picturesAhead() const;
    void show(const QString*& path);
    void reportFailure(const QString* path, const std::exception_ptr& failure) const noexcept;
    std::string failureText(const QString* path, const std::exception_ptr& failure) const;

    ImageCatalogue& catalogue_;
    FormWindow& window_;
    PictureBox& image1_;
    Label& lblFilename_;
    RandomSource& random_;
    std::int32_t pictureHeight_ = 0;
    std::int32_t pictureWidth_ = 0;
    LookAhead lookAhead_;
};

} // namespace pictolune
