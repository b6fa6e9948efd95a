#pragma once

#include "platform/codecs/Decode.h"

namespace pictolune {

enum class Format { Jpeg, Bmp, Gif, Tiff, Metafile, Unknown };

// The format of `file` by its own signature, as each format's reader checks
// it; a file named as a metafile is read as one, whatever it holds. Raises
// LoadError when the file cannot be read.
Format formatOf(const SourceFile& file);

} // namespace pictolune
