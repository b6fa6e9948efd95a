#pragma once

#include "platform/codecs/Decode.h"

namespace pictolune {

// Decodes a TIFF's first page through libtiff, whole, then finishes it at
// the chosen size: whatever libtiff's RGBA interface reads (1 to 16 bits a
// sample, chunky or planar, strips or tiles, every compression libtiff was
// built with, fax pages included; palette, grey, RGB, YCbCr, CMYK, alpha),
// turned upright by its orientation tag and converted from its ICC profile,
// CMYK through a CMYK profile where it has one. The file is read through its
// descriptor only, and libtiff's messages become the LoadError's reason.
Picture decodeTiff(const SourceFile& file, const DrawSizeChooser& drawSize,
                   ColourConverter& colours);

} // namespace pictolune
