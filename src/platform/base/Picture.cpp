#include "platform/base/Picture.h"

namespace pictolune {

QImage Picture::render(QSize size) const {
    if (size.isEmpty() || isEmpty())
        return {};
    if (art_)
        return art_->render(size);
    if (raster_.size() == size)
        return raster_;
    return raster_.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace pictolune
