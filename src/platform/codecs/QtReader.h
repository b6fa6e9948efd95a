#pragma once

#include "platform/codecs/Decode.h"

namespace pictolune {

// Decodes a GIF's first frame through Qt's reader, whole, then finishes it
// at the chosen size.
Picture decodeGif(const SourceFile& file, const DrawSizeChooser& drawSize,
                  ColourConverter& colours);

// Makes Qt load its GIF reader plugin now, by decoding a tiny picture from
// memory, so that nothing needs loading later.
void loadQtReaders();

} // namespace pictolune
