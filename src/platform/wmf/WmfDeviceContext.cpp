// Device context and mapping: the records that set state, the window and
// viewport, SaveDC and RestoreDC, and the clip region.
#include "platform/wmf/WmfLimits.h"
#include "platform/wmf/WmfParser.h"
#include "platform/wmf/WmfPlayback.h"
#include "platform/wmf/WmfRecordKinds.h"

#include <algorithm>
#include <cmath>

namespace pictolune::wmf {

namespace {

// A clip region made of more rectangles than this stops being refined.
constexpr int kMaxClipRects = 1024;

QRect pixelRect(const QRectF& r) {
    const QRectF n = r.normalized();
    return QRect(
        QPoint(static_cast<int>(std::lround(n.left())), static_cast<int>(std::lround(n.top()))),
        QPoint(static_cast<int>(std::lround(n.right())) - 1,
               static_cast<int>(std::lround(n.bottom())) - 1));
}

} // namespace

bool near(const QRectF& r) {
    return std::abs(r.left()) < kFarAway && std::abs(r.right()) < kFarAway &&
           std::abs(r.top()) < kFarAway && std::abs(r.bottom()) < kFarAway;
}

QRectF boxRect(const Box& b) {
    return QRectF(QPointF(b.left, b.top), QPointF(b.right, b.bottom)).normalized();
}

DeviceContext::DeviceContext(const Mapping& start, const Output& out, double unitsPerInch)
    : out_(out), unitsPerInch_(unitsPerInch) {
    s.windowOrg = start.windowOrg;
    s.windowExt = start.windowExt;
    s.viewportOrg = start.viewportOrg;
    s.viewportExt = start.viewportExt;
    updateTransform();
}

void DeviceContext::updateTransform() {
    double sx = 1;
    double sy = 1;
    const double dpi = unitsPerInch_;
    switch (s.mapMode) {
    case MmText:
        break;
    case MmLoMetric:
        sx = dpi / 254.0;
        sy = -sx;
        break;
    case MmHiMetric:
        sx = dpi / 2540.0;
        sy = -sx;
        break;
    case MmLoEnglish:
        sx = dpi / 100.0;
        sy = -sx;
        break;
    case MmHiEnglish:
        sx = dpi / 1000.0;
        sy = -sx;
        break;
    case MmTwips:
        sx = dpi / 1440.0;
        sy = -sx;
        break;
    default:
        sx = s.viewportExt.width() / s.windowExt.width();
        sy = s.viewportExt.height() / s.windowExt.height();
        if (s.mapMode == MmIsotropic) {
            const double m = std::min(std::abs(sx), std::abs(sy));
            sx = std::copysign(m, sx);
            sy = std::copysign(m, sy);
        }
    }
    const QTransform logicalToDevice(sx, 0, 0, sy, s.viewportOrg.x() - s.windowOrg.x() * sx,
                                     s.viewportOrg.y() - s.windowOrg.y() * sy);
    t_ = logicalToDevice * out_.deviceToOutput;
}

double DeviceContext::scaleX() const {
    return std::hypot(t_.m11(), t_.m12());
}

double DeviceContext::scaleY() const {
    return std::hypot(t_.m21(), t_.m22());
}

void DeviceContext::save() {
    if (saved_.size() < std::size_t(kMaxSavedStates))
        saved_.push_back(s);
}

void DeviceContext::restore(int n) {
    const int depth = static_cast<int>(saved_.size());
    const int level = n < 0 ? depth + n : n - 1; // index of the state to go back to
    if (n == 0 || level < 0 || level >= depth)
        return;
    s = saved_[std::size_t(level)];
    saved_.resize(std::size_t(level));
    clipDirty_ = true;
    updateTransform();
}

void DeviceContext::applyClip(QPainter& painter) {
    if (!clipDirty_ || out_.measuring)
        return;
    clipDirty_ = false;
    if (s.clip)
        painter.setClipRegion(*s.clip);
    else
        painter.setClipping(false);
}

void DeviceContext::setClip(std::optional<QRegion> clip) {
    s.clip = std::move(clip);
    clipDirty_ = true;
}

void DeviceContext::clipRect(const Box& b, bool exclude) {
    const QRectF r = t_.mapRect(boxRect(b));
    if (!near(r))
        return;
    const QRegion current = s.clip ? *s.clip : QRegion(out_.bounds);
    // Each exclusion can split the region further; past the limit it is
    // left as it is, which keeps every later clip operation cheap.
    if (exclude && current.rectCount() >= kMaxClipRects)
        return;
    const QRegion next =
        exclude ? current.subtracted(pixelRect(r)) : current.intersected(pixelRect(r));
    if (next.rectCount() <= kMaxClipRects)
        setClip(next);
}

void DeviceContext::offsetClip(QPoint by) {
    if (!s.clip)
        return;
    const QPointF moved = t_.map(QPointF(by)) - t_.map(QPointF(0, 0));
    if (near(QRectF(moved, QSizeF(1, 1))))
        setClip(s.clip->translated(static_cast<int>(std::lround(moved.x())),
                                   static_cast<int>(std::lround(moved.y()))));
}

QRegion DeviceContext::regionPixels(const RegionDef& region) const {
    QRegion pixels;
    for (const QRect& r : region.rects) {
        const QRectF mapped = t_.mapRect(QRectF(r));
        if (near(mapped) && pixels.rectCount() < kMaxClipRects)
            pixels += pixelRect(mapped);
    }
    return pixels;
}

QColor DeviceContext::color(std::uint32_t ref) const {
    if ((ref >> 24) == 1 && s.palette) {
        const std::size_t index = ref & 0xFFFF;
        if (index < s.palette->colors.size())
            return QColor(s.palette->colors[index]);
    }
    return QColor(static_cast<int>(ref & 0xFF), static_cast<int>((ref >> 8) & 0xFF),
                  static_cast<int>((ref >> 16) & 0xFF));
}

namespace {

int value(const Record& rec) {
    return arg<Value>(rec).v;
}

QPoint point(const Record& rec) {
    return arg<Point>(rec).p;
}

// Sets a mapping field, then the transform that follows from it.
template <class F> void remap(Player& pl, F change) {
    change(pl.dc.s);
    pl.dc.updateTransform();
}

void setMapMode(Player& pl, const Record& rec) {
    if (const int mode = value(rec); mode >= MmText && mode <= MmAnisotropic)
        remap(pl, [&](DcState& s) { s.mapMode = mode; });
}

void setBkMode(Player& pl, const Record& rec) {
    if (const int mode = value(rec); mode == Transparent || mode == Opaque)
        pl.dc.s.bkMode = mode;
}

void setBkColor(Player& pl, const Record& rec) {
    pl.dc.s.bkColor = static_cast<std::uint32_t>(value(rec));
}

void setTextColor(Player& pl, const Record& rec) {
    pl.dc.s.textColor = static_cast<std::uint32_t>(value(rec));
}

void setTextAlign(Player& pl, const Record& rec) {
    pl.dc.s.textAlign = value(rec);
}

void setPolyFillMode(Player& pl, const Record& rec) {
    pl.dc.s.polyFillMode = value(rec);
}

void setRop2(Player& pl, const Record& rec) {
    pl.dc.s.rop2 = value(rec);
}

void setStretchBltMode(Player& pl, const Record& rec) {
    pl.dc.s.stretchMode = value(rec);
}

void setWindowOrg(Player& pl, const Record& rec) {
    remap(pl, [&](DcState& s) { s.windowOrg = point(rec); });
}

void setViewportOrg(Player& pl, const Record& rec) {
    remap(pl, [&](DcState& s) { s.viewportOrg = point(rec); });
}

void offsetWindowOrg(Player& pl, const Record& rec) {
    remap(pl, [&](DcState& s) { s.windowOrg += point(rec); });
}

void offsetViewportOrg(Player& pl, const Record& rec) {
    remap(pl, [&](DcState& s) { s.viewportOrg += point(rec); });
}

// An empty extent has no meaning and is refused.
void setExtent(Player& pl, QSizeF DcState::*extent, QPoint e) {
    if (e.x() != 0 && e.y() != 0)
        remap(pl, [&](DcState& s) { s.*extent = QSizeF(e.x(), e.y()); });
}

void setWindowExt(Player& pl, const Record& rec) {
    setExtent(pl, &DcState::windowExt, point(rec));
}

void setViewportExt(Player& pl, const Record& rec) {
    setExtent(pl, &DcState::viewportExt, point(rec));
}

Payload parseScale(Parser&, Reader& p) {
    Scale s;
    s.yDenom = p.i16();
    s.yNum = p.i16();
    s.xDenom = p.i16();
    s.xNum = p.i16();
    return s;
}

void scaleExtent(Player& pl, QSizeF DcState::*extent, const Scale& sc) {
    if (sc.xDenom == 0 || sc.yDenom == 0 || sc.xNum == 0 || sc.yNum == 0)
        return;
    const QSizeF ext = pl.dc.s.*extent;
    const QSizeF scaled(ext.width() * sc.xNum / sc.xDenom, ext.height() * sc.yNum / sc.yDenom);
    // Repeated scaling could shrink or grow an extent without end; one that
    // no longer maps to finite coordinates is refused.
    auto usable = [](double v) { return std::abs(v) >= 1e-3 && std::abs(v) <= 1e9; };
    if (usable(scaled.width()) && usable(scaled.height()))
        remap(pl, [&](DcState& s) { s.*extent = scaled; });
}

void scaleWindowExt(Player& pl, const Record& rec) {
    scaleExtent(pl, &DcState::windowExt, arg<Scale>(rec));
}

void scaleViewportExt(Player& pl, const Record& rec) {
    scaleExtent(pl, &DcState::viewportExt, arg<Scale>(rec));
}

void moveTo(Player& pl, const Record& rec) {
    pl.dc.s.position = point(rec);
}

void saveDC(Player& pl, const Record&) {
    pl.dc.save();
}

void restoreDC(Player& pl, const Record& rec) {
    pl.dc.restore(value(rec));
}

void intersectClipRect(Player& pl, const Record& rec) {
    pl.dc.clipRect(arg<Box>(rec), false);
}

void excludeClipRect(Player& pl, const Record& rec) {
    pl.dc.clipRect(arg<Box>(rec), true);
}

void offsetClipRgn(Player& pl, const Record& rec) {
    pl.dc.offsetClip(point(rec));
}

constexpr RecordKind kRecords[] = {
    {fn::SetMapMode, false, parseU16, setMapMode},
    {fn::SetBkMode, false, parseU16, setBkMode},
    {fn::SetBkColor, false, parseU32, setBkColor},
    {fn::SetTextColor, false, parseU32, setTextColor},
    {fn::SetTextAlign, false, parseU16, setTextAlign},
    {fn::SetPolyFillMode, false, parseU16, setPolyFillMode},
    {fn::SetRop2, false, parseU16, setRop2},
    {fn::SetStretchBltMode, false, parseU16, setStretchBltMode},
    {fn::SetWindowOrg, false, parsePoint, setWindowOrg},
    {fn::SetWindowExt, false, parsePoint, setWindowExt},
    {fn::SetViewportOrg, false, parsePoint, setViewportOrg},
    {fn::SetViewportExt, false, parsePoint, setViewportExt},
    {fn::OffsetWindowOrg, false, parsePoint, offsetWindowOrg},
    {fn::OffsetViewportOrg, false, parsePoint, offsetViewportOrg},
    {fn::ScaleWindowExt, false, parseScale, scaleWindowExt},
    {fn::ScaleViewportExt, false, parseScale, scaleViewportExt},
    {fn::MoveTo, false, parsePoint, moveTo},
    {fn::SaveDC, false, parseNothing, saveDC},
    {fn::RestoreDC, false, parseI16, restoreDC},
    {fn::IntersectClipRect, false, parseBox, intersectClipRect},
    {fn::ExcludeClipRect, false, parseBox, excludeClipRect},
    {fn::OffsetClipRgn, false, parsePoint, offsetClipRgn},
};

} // namespace

std::span<const RecordKind> deviceContextRecords() {
    return kRecords;
}

} // namespace pictolune::wmf
