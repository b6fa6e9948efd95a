#pragma once

#include "platform/base/Picture.h"
#include "platform/codecs/Decode.h"

#include <QString>

namespace pictolune {

// Loads the picture at `path` and waits for it, however long its decoding
// takes: for the tests and tools that have nothing else to do meanwhile
// (the window never waits so). Decodes in DecoderPool::current(), or
// without one in this process for an sRGB display. Without a chooser, or
// when the chooser answers a size not smaller than the picture, the full
// picture is decoded. An empty path gives an empty picture. Raises
// LoadError, naming the path, for anything that cannot be loaded.
Picture loadPicture(const QString& path, const DrawSizeChooser& drawSize = {});

} // namespace pictolune
