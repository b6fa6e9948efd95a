#pragma once

#include "platform/base/Picture.h"

#include <QByteArray>
#include <QImage>
#include <QImageIOHandler>
#include <QSize>

namespace pictolune {

class ColourConverter;

// The last steps every raster format shares, once its reader has decoded
// the pixels (whole, or reduced where the format allows): scaled down to
// `target`, given in the decoded picture's own orientation, in linear
// light; brought from `profile` (the picture's embedded ICC profile, empty
// for none) into the display's colour space, sharing the way through light
// where the profile allows; turned upright by `turn`; in a format drawn
// without a conversion. `own` is the picture's own upright size. A picture
// decoded at its target size keeps its pixels as decoded, but for colour.
Picture finishPicture(QImage decoded, QSize own, QSize target, const QByteArray& profile,
                      QImageIOHandler::Transformations turn, ColourConverter& colours);

} // namespace pictolune
