#include "platform/wmf/WmfPlayer.h"

#include "platform/wmf/WmfPlayback.h"

#include <algorithm>

namespace pictolune::wmf {

Player::Player(const Document& d, QPainter& p, const Mapping& start, const Output& o)
    : doc(d), painter(p), out(o), dc(start, o, d.unitsPerInch), objects(d.objectCount) {
    const QRect b = out.bounds.isValid() ? out.bounds : QRect(0, 0, 1, 1);
    maxPenWidth = 2.0 * std::max(b.width(), b.height()) + out.pixelScale;
    maxFontPixels = std::min(8192.0, 4.0 * std::max(b.width(), b.height()) + 64);
    dpi = painter.device() ? painter.device()->logicalDpiY() : 96;
    if (dpi <= 0)
        dpi = 96;
}

void Player::run() {
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                           QPainter::SmoothPixmapTransform);
    try {
        for (const Record& rec : doc.records)
            rec.kind->play(*this, rec);
    } catch (const Inconsistent&) {
    }
    flushXor();
}

Mapping startMapping(const Document& doc) {
    Mapping m;
    m.windowOrg = doc.windowOrg;
    m.windowExt = doc.windowExt;
    m.viewportOrg = doc.frame.topLeft();
    m.viewportExt = doc.frame.size();
    return m;
}

void play(const Document& doc, QPainter& painter, const Mapping& start, const Output& out) {
    try {
        Player(doc, painter, start, out).run();
    } catch (...) {
        // Out of memory or a fault in playback: keep what was drawn.
    }
}

} // namespace pictolune::wmf
