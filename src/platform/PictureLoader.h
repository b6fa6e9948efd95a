#pragma once

#include "platform/Picture.h"

#include <QSize>
#include <QString>

#include <functional>

namespace pictolune {

// Given a picture's own upright size in pixels, answers the upright size in
// pixels at which it will be drawn. A loader decodes no larger than that
// where the format allows, so a large photo never needs its full-size buffer.
using DrawSizeChooser = std::function<QSize(QSize ownSize)>;

// Loads the picture at `path`. Without a chooser, or when the chooser answers
// a size not smaller than the picture, the full picture is decoded.
//
// An empty path gives an empty picture. A path that is not a regular file, or
// a file that cannot be read or decoded, raises LoadError; the call never
// blocks on a FIFO or device, and a picture whose buffer would pass the
// memory bound is a LoadError too.
Picture loadPicture(const QString& path, const DrawSizeChooser& drawSize = {});

} // namespace pictolune
