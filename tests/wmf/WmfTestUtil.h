#pragma once

#include "platform/wmf/Wmf.h"
#include "wmf/WmfWriter.h"

#include <QColor>
#include <QImage>

#include <cstdlib>

namespace pictolune::test {

// A placeable metafile of 100 x 100 units at 96 per inch: its own size is
// 100 x 100 pixels, so rendered at that size one unit is one pixel.
inline WmfWriter canvas() {
    return WmfWriter::placeable(QRect(0, 0, 100, 100), 96);
}

inline QImage renderWmf(const QByteArray& bytes, QSize size = {100, 100}) {
    return loadWmf(bytes).render(size);
}

// True when the pixel is within `tolerance` of `want` in every channel.
inline bool looks(const QImage& img, int x, int y, QColor want, int tolerance = 40) {
    const QColor c = img.pixelColor(x, y);
    return std::abs(c.red() - want.red()) <= tolerance &&
           std::abs(c.green() - want.green()) <= tolerance &&
           std::abs(c.blue() - want.blue()) <= tolerance;
}

// Pixels in `area` that are not (near) white.
inline int inked(const QImage& img, QRect area) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (!looks(img, x, y, Qt::white, 60))
                ++n;
    return n;
}

} // namespace pictolune::test
