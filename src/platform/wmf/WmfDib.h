#pragma once

#include "platform/wmf/WmfReader.h"

#include <QImage>

#include <cstdint>

namespace pictolune::wmf {

// How many more bitmap pixels the file may decode; shared by all bitmaps of
// one file so that many small bitmaps cannot add up to an unbounded amount.
struct PixelBudget {
    std::int64_t left;
    void take(std::int64_t pixels);
};

struct Dib {
    QImage image;         // upright: row 0 is the top row
    bool bottomUp = true; // how the file stored the rows
};

// Decodes a device-independent bitmap (header, colour table, pixels) as
// stored in a record. With `paletteIndices` the colour table holds indices
// into the logical palette instead of colours; they are shown as grey levels.
// Raises LoadError for anything malformed or beyond the limits.
Dib decodeDib(Reader r, bool paletteIndices, PixelBudget& budget);

// Decodes the old device-dependent bitmap form: a header, `gap` bytes the
// record puts between header and pixels, then the pixels. Only monochrome
// ones have colours of their own, so deeper ones give a null image.
QImage decodeBitmap16(Reader r, std::size_t gap, PixelBudget& budget);

} // namespace pictolune::wmf
