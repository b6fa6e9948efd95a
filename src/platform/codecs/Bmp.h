#pragma once

#include "platform/codecs/Decode.h"

namespace pictolune {

// Decodes a BMP whole, then finishes it at the chosen size: Windows headers
// of 40 to 124 bytes and OS/2's of 12 to 64; 1, 2, 4 and 8 bits through a
// palette, 16 and 32 through bit-field masks of any width and place (alpha
// too), 24 as stored; RLE4, RLE8 and OS/2's RLE24, whose skipped pixels are
// transparent; the profile a V5 header embeds. Pixel data cut short shows
// what arrived, the rest black.
Picture decodeBmp(const SourceFile& file, const DrawSizeChooser& drawSize,
                  ColourConverter& colours);

} // namespace pictolune
