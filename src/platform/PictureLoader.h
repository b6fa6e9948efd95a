#pragma once

#include "platform/Picture.h"
#include "platform/decode/Decode.h"

#include <QString>

namespace pictolune {

// Loads the picture at `path`. Without a chooser, or when the chooser answers
// a size not smaller than the picture, the full picture is decoded.
//
// An empty path gives an empty picture. A path that is not a regular file, or
// a file that cannot be read or decoded, raises LoadError; the call never
// blocks on a FIFO or device, and a picture whose buffer would pass the
// memory bound is a LoadError too.
//
// The file is checked and opened here; the decoding runs in the decoder pool
// (DecoderPool::current()) when there is one, else in this process for an
// sRGB display.
Picture loadPicture(const QString& path, const DrawSizeChooser& drawSize = {});

} // namespace pictolune
