#pragma once

#include "platform/codecs/Decode.h"

#include <QByteArray>

namespace pictolune {

// Decodes a BMP, GIF (first frame) or TIFF (first page) through Qt's reader
// for `format` ("bmp", "gif" or "tiff"), whole and then smooth-scaled to the
// chosen size, then converted from the colour profile the reader found (a
// TIFF's ICC tag).
Picture decodeWithQt(const SourceFile& file, const QByteArray& format,
                     const DrawSizeChooser& drawSize, ColourConverter& colours);

// Makes Qt load the reader plugins for these formats now, by decoding a tiny
// picture of each from memory, so that nothing needs loading later.
void loadQtReaders();

} // namespace pictolune
