#pragma once

#include "platform/base/Picture.h"

#include <QSize>
#include <QtGlobal>

#include <functional>

namespace pictolune {

class ColourConverter;

// Given a picture's own upright size in pixels, answers the upright size in
// pixels at which it will be drawn. A decoder decodes no larger than that
// where the format allows, so a large photo never needs its full-size buffer.
using DrawSizeChooser = std::function<QSize(QSize ownSize)>;

// An open picture file: a regular file, already checked, read from its start.
struct SourceFile {
    int fd = -1;
    qint64 size = 0;
    // A metafile by name is read as one, whatever it holds.
    bool namedAsMetafile = false;
    // Asked now and then while decoding: true when the picture is no longer
    // wanted, and the decoding ends with LoadError as soon as it can.
    std::function<bool()> cancelled;
};

// Decodes `file` at the size `drawSize` answers for its own size (the whole
// picture without a chooser, or when it answers a size not smaller than the
// picture). The chooser is asked once, after the header was read and before
// any pixel is decoded. The result is upright, in a format drawn without
// conversion (RGB32, or premultiplied ARGB32 for pictures with alpha), in
// the display's colour space: a picture that embeds a colour profile is
// converted by `colours` once it has its drawn size.
//
// Raises LoadError for anything that cannot be decoded, and for a picture
// whose buffer would pass the memory bound. The same code runs in the
// decoder process and, where that cannot run, in the viewer itself.
Picture decodePicture(const SourceFile& file, const DrawSizeChooser& drawSize,
                      ColourConverter& colours);

} // namespace pictolune
