#pragma once

#include "platform/codecs/Decode.h"

namespace pictolune {

// Decodes a JPEG through libjpeg-turbo at a DCT scale (1/8 to 8/8) whose
// output covers the chosen size, with room where it can for the filter in
// light that scales it to the exact size; converts it from the ICC profile
// in its APP2 markers, and turns it upright by its Exif orientation; a CMYK
// picture with a CMYK profile goes through the profile row by row as it is
// decoded. The memory bound is checked on the reduced decode, and counts
// libjpeg's own buffers (the coefficients of a progressive picture). A file
// with more scans than any encoder writes is refused. A file cut short
// shows what arrived, as libjpeg fills the rest.
Picture decodeJpeg(const SourceFile& file, const DrawSizeChooser& drawSize,
                   ColourConverter& colours);

} // namespace pictolune
