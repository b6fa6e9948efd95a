// Drawing: lines, polygons, rectangles, ellipses, arcs, pixels and regions,
// under the raster operation of the device context.
#include "platform/wmf/WmfParser.h"
#include "platform/wmf/WmfPlayback.h"
#include "platform/wmf/WmfRasterOps.h"
#include "platform/wmf/WmfRecordKinds.h"

#include <algorithm>
#include <cmath>
#include <span>

namespace pictolune::wmf {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Largest layer an exclusive-or gradient is composed in; a larger one is
// drawn literally instead.
constexpr qint64 kMaxGradientPixels = 16LL * 1024 * 1024;
// Most shapes held back at once; a gradient has hundreds. Past this they are
// drawn literally, which bounds the memory a hostile file can tie up.
constexpr std::size_t kMaxHeldShapes = 16384;

bool isBlackFill(const Shape& s) {
    return s.rop2 == R2CopyPen && s.pen.style() == Qt::NoPen &&
           s.brush.style() == Qt::SolidPattern && s.brush.color() == Qt::black;
}

} // namespace

void Player::fillWith(const QPainterPath& path, const QBrush& brush) {
    const RasterOp op = rop2Op(dc.s.rop2);
    if (brush.style() == Qt::NoBrush || op.skip)
        return;
    QBrush b = brush;
    if (op.colour != RasterOp::Keep)
        b = QBrush(op.apply(brush.color()));
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, !op.bitwise());
    painter.setCompositionMode(op.mode);
    painter.fillPath(path, b);
    painter.restore();
}

// Paints one shape as it is, its clip already in force.
void Player::paint(const Shape& shape) {
    const RasterOp op = rop2Op(shape.rop2);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, !op.bitwise());
    painter.setCompositionMode(op.mode);
    if (shape.brush.style() != Qt::NoBrush) {
        QBrush b = shape.brush;
        if (op.colour != RasterOp::Keep)
            b = QBrush(op.apply(b.color()));
        painter.fillPath(shape.path, b);
    }
    if (shape.pen.style() != Qt::NoPen) {
        // The gaps of a dashed line show the background colour when it is
        // opaque.
        if (shape.gap.style() != Qt::NoPen && !op.bitwise())
            painter.strokePath(shape.path, shape.gap);
        QPen p = shape.pen;
        p.setColor(op.apply(p.color()));
        painter.strokePath(shape.path, p);
    }
    painter.restore();
}

void Player::useClip(const std::optional<QRegion>& clip) {
    if (out.measuring)
        return;
    if (clip)
        painter.setClipRegion(*clip);
    else
        painter.setClipping(false);
    dc.clipChanged();
}

bool Player::holdForXor(const Shape& shape) {
    if (out.measuring)
        return false;
    XorGradient& g = xorGradient;
    if (g.first.size() + g.second.size() >= kMaxHeldShapes)
        flushXor();
    if (shape.rop2 == R2XorPen) {
        (g.shape ? g.second : g.first).push_back(shape);
        return true;
    }
    if (!g.first.empty() && !g.shape && isBlackFill(shape)) {
        g.shape = shape;
        return true;
    }
    return false;
}

// The gradient as the two passes leave it: inside the shape, the bands as
// they come out XORed onto black, on whole pixels; outside, nothing changed.
// The bands are composed in a layer that fills the shape, so its edge is
// smoothed like any other.
bool Player::paintGradient(const XorGradient& g) {
    const Shape& shape = *g.shape;
    QRect area = shape.path.controlPointRect().toAlignedRect() & out.bounds;
    if (shape.clip)
        area &= shape.clip->boundingRect();
    if (area.isEmpty())
        return true;
    if (qint64(area.width()) * area.height() > kMaxGradientPixels)
        return false;
    QImage layer(area.size(), QImage::Format_RGB32);
    if (layer.isNull())
        return false;
    layer.fill(Qt::black);
    QPainter lp(&layer);
    lp.translate(-area.topLeft());
    lp.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    for (const Shape& band : g.second) {
        if (band.clip)
            lp.setClipRegion(*band.clip);
        else
            lp.setClipping(false);
        if (band.brush.style() != Qt::NoBrush)
            lp.fillPath(band.path, band.brush);
        if (band.pen.style() != Qt::NoPen)
            lp.strokePath(band.path, band.pen);
    }
    lp.end();
    useClip(shape.clip);
    QBrush texture(layer);
    texture.setTransform(QTransform::fromTranslate(area.x(), area.y()));
    painter.fillPath(shape.path, texture);
    return true;
}

void Player::flushXor() {
    if (xorGradient.empty())
        return;
    const XorGradient g = std::move(xorGradient);
    xorGradient = {};
    if (g.shape && g.first == g.second && paintGradient(g))
        return;
    auto literal = [&](const Shape& shape) {
        useClip(shape.clip);
        paint(shape);
    };
    std::for_each(g.first.begin(), g.first.end(), literal);
    if (g.shape)
        literal(*g.shape);
    std::for_each(g.second.begin(), g.second.end(), literal);
}

void Player::beginOutput() {
    flushXor();
    dc.applyClip(painter);
}

void Player::draw(const QPainterPath& path, bool fill, bool stroke) {
    if (path.isEmpty() || !near(path.controlPointRect()) || rop2Op(dc.s.rop2).skip)
        return;
    Shape shape{path, Qt::NoBrush, Qt::NoPen, Qt::NoPen, dc.s.clip, dc.s.rop2};
    if (fill) {
        shape.path.setFillRule(dc.s.polyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
        shape.brush = brush(dc.s.brush);
    }
    if (stroke) {
        shape.pen = pen();
        if (shape.pen.style() == Qt::CustomDashLine && dc.s.bkMode == Opaque) {
            shape.gap = shape.pen;
            shape.gap.setStyle(Qt::SolidLine);
            shape.gap.setColor(dc.color(dc.s.bkColor));
        }
    }
    if (shape.brush.style() == Qt::NoBrush && shape.pen.style() == Qt::NoPen)
        return;
    if (holdForXor(shape))
        return;
    beginOutput();
    paint(shape);
}

namespace {

QPainterPath polygonPath(const Player& pl, std::span<const QPoint> points, bool closed) {
    QPolygonF pts;
    for (const QPoint& p : points)
        pts << QPointF(p);
    QPainterPath path;
    if (pts.size() < 2)
        return path;
    path.addPolygon(pl.dc.transform().map(pts));
    if (closed)
        path.closeSubpath();
    return path;
}

Payload parsePoly(Parser& parser, Reader& p) {
    const int n = p.u16();
    return std::make_shared<const Poly>(Poly{parser.readPoints(p, n), {}});
}

Payload parsePolyPolygon(Parser& parser, Reader& p) {
    const int polygons = p.u16();
    p.require(std::size_t(polygons) * 2, "polygon counts");
    Poly poly;
    std::int64_t total = 0;
    for (int i = 0; i < polygons; ++i) {
        poly.counts.push_back(p.u16());
        total += poly.counts.back();
    }
    poly.points = parser.readPoints(p, total);
    return std::make_shared<const Poly>(std::move(poly));
}

void lineTo(Player& pl, const Record& rec) {
    const QPointF to = arg<Point>(rec).p;
    QPainterPath path;
    path.moveTo(pl.dc.transform().map(pl.dc.s.position));
    path.lineTo(pl.dc.transform().map(to));
    pl.dc.s.position = to;
    pl.draw(path, false, true);
}

void polyline(Player& pl, const Record& rec) {
    pl.draw(polygonPath(pl, boxed<Poly>(rec).points, false), false, true);
}

void polygon(Player& pl, const Record& rec) {
    pl.draw(polygonPath(pl, boxed<Poly>(rec).points, true), true, true);
}

void polyPolygon(Player& pl, const Record& rec) {
    const Poly& poly = boxed<Poly>(rec);
    QPainterPath path;
    std::size_t at = 0;
    for (const int count : poly.counts) {
        const std::size_t end = std::min(poly.points.size(), at + std::size_t(count));
        path.addPath(
            polygonPath(pl, std::span<const QPoint>(poly.points).subspan(at, end - at), true));
        at = end;
    }
    pl.draw(path, true, true);
}

Payload parseRoundRect(Parser&, Reader& p) {
    const int h = p.i16();
    const int w = p.i16();
    Box b = readBox(p);
    b.a = QPoint(w, h);
    return b;
}

template <void (*Add)(QPainterPath&, const Box&)> void boxShape(Player& pl, const Record& rec) {
    QPainterPath path;
    Add(path, arg<Box>(rec));
    pl.draw(pl.dc.transform().map(path), true, true);
}

void addRect(QPainterPath& path, const Box& b) {
    path.addRect(boxRect(b));
}

void addEllipse(QPainterPath& path, const Box& b) {
    path.addEllipse(boxRect(b));
}

void addRoundedRect(QPainterPath& path, const Box& b) {
    path.addRoundedRect(boxRect(b), std::abs(b.a.x()) / 2.0, std::abs(b.a.y()) / 2.0);
}

Payload parseArc(Parser&, Reader& p) {
    const QPoint end = readPointYX(p);
    const QPoint start = readPointYX(p);
    Box b = readBox(p);
    b.a = start;
    b.b = end;
    return b;
}

enum class ArcKind { Arc, Pie, Chord };

template <ArcKind Kind> void arc(Player& pl, const Record& rec) {
    const Box& b = arg<Box>(rec);
    const QTransform& t = pl.dc.transform();
    // Arcs run counter-clockwise as seen on the output, whatever the mapping.
    const QRectF r = t.mapRect(boxRect(b));
    if (r.width() <= 0 || r.height() <= 0 || !near(r))
        return;
    const QPointF c = r.center();
    const double rx = r.width() / 2;
    const double ry = r.height() / 2;
    auto angle = [&](QPoint radial) {
        const QPointF p = t.map(QPointF(radial));
        return std::atan2(-(p.y() - c.y()) / ry, (p.x() - c.x()) / rx) * 180.0 / kPi;
    };
    const double start = angle(b.a);
    double sweep = angle(b.b) - start;
    // Equal radials give the whole ellipse.
    while (sweep <= 1e-9)
        sweep += 360;
    QPainterPath path;
    if (Kind == ArcKind::Pie) {
        path.moveTo(c);
        path.arcTo(r, start, sweep);
        path.closeSubpath();
    } else {
        path.arcMoveTo(r, start);
        path.arcTo(r, start, sweep);
        if (Kind == ArcKind::Chord)
            path.closeSubpath();
    }
    pl.draw(path, Kind != ArcKind::Arc, true);
}

Payload parsePixel(Parser&, Reader& p) {
    Pixel px;
    px.color = p.u32();
    px.p = readPointYX(p);
    return px;
}

void setPixel(Player& pl, const Record& rec) {
    const Pixel& px = arg<Pixel>(rec);
    const QPointF at = pl.dc.transform().map(QPointF(px.p));
    const QRectF dot(at, QSizeF(pl.out.pixelScale, pl.out.pixelScale));
    if (!near(dot))
        return;
    pl.beginOutput();
    pl.painter.fillRect(dot, pl.dc.color(px.color));
}

Payload parseRegionAndBrush(Parser& parser, Reader& p) {
    RegionUse u;
    u.region = parser.objectIndex(p);
    u.brush = parser.objectIndex(p);
    return u;
}

Payload parseFrameRegion(Parser& parser, Reader& p) {
    RegionUse u;
    u.region = parser.objectIndex(p);
    u.brush = parser.objectIndex(p);
    u.height = p.i16();
    u.width = p.i16();
    return u;
}

Payload parseRegionOnly(Parser& parser, Reader& p) {
    RegionUse u;
    u.region = parser.objectIndex(p);
    return u;
}

template <class T> const T* objectAs(Player& pl, int index) {
    const auto& obj = pl.objects.at(index);
    return obj ? std::get_if<T>(obj.get()) : nullptr;
}

// The region's outline in output pixels, when it is there to be drawn.
std::optional<QPainterPath> regionPath(Player& pl, int index) {
    const RegionDef* region = objectAs<RegionDef>(pl, index);
    if (!region)
        return std::nullopt;
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    for (const QRect& r : region->rects)
        path.addRect(QRectF(r));
    path = pl.dc.transform().map(path);
    if (!near(path.controlPointRect()))
        return std::nullopt;
    pl.beginOutput();
    return path;
}

void fillRegion(Player& pl, const Record& rec) {
    const RegionUse& use = arg<RegionUse>(rec);
    const BrushDef* def = objectAs<BrushDef>(pl, use.brush);
    if (!def)
        return;
    if (const auto path = regionPath(pl, use.region))
        pl.fillWith(*path, pl.brush(*def));
}

void paintRegion(Player& pl, const Record& rec) {
    if (const auto path = regionPath(pl, arg<RegionUse>(rec).region))
        pl.fillWith(*path, pl.brush(pl.dc.s.brush));
}

void invertRegion(Player& pl, const Record& rec) {
    if (const auto path = regionPath(pl, arg<RegionUse>(rec).region)) {
        pl.painter.save();
        pl.painter.setCompositionMode(QPainter::RasterOp_NotDestination);
        pl.painter.setRenderHint(QPainter::Antialiasing, false);
        pl.painter.fillPath(*path, Qt::white);
        pl.painter.restore();
    }
}

void frameRegion(Player& pl, const Record& rec) {
    const RegionUse& use = arg<RegionUse>(rec);
    const BrushDef* def = objectAs<BrushDef>(pl, use.brush);
    if (!def)
        return;
    if (const auto path = regionPath(pl, use.region)) {
        const double ps = pl.out.pixelScale;
        const double w =
            std::clamp(std::abs(use.width) * pl.dc.scaleX(), ps, std::max(ps, pl.maxPenWidth));
        pl.painter.strokePath(path->simplified(), QPen(pl.brush(*def), w));
    }
}

constexpr RecordKind kRecords[] = {
    {fn::LineTo, true, parsePoint, lineTo},
    {fn::Polyline, true, parsePoly, polyline},
    {fn::Polygon, true, parsePoly, polygon},
    {fn::PolyPolygon, true, parsePolyPolygon, polyPolygon},
    {fn::Rectangle, true, parseBox, boxShape<addRect>},
    {fn::Ellipse, true, parseBox, boxShape<addEllipse>},
    {fn::RoundRect, true, parseRoundRect, boxShape<addRoundedRect>},
    {fn::Arc, true, parseArc, arc<ArcKind::Arc>},
    {fn::Pie, true, parseArc, arc<ArcKind::Pie>},
    {fn::Chord, true, parseArc, arc<ArcKind::Chord>},
    {fn::SetPixel, true, parsePixel, setPixel},
    {fn::FillRegion, true, parseRegionAndBrush, fillRegion},
    {fn::FrameRegion, true, parseFrameRegion, frameRegion},
    {fn::PaintRegion, true, parseRegionOnly, paintRegion},
    {fn::InvertRegion, true, parseRegionOnly, invertRegion},
};

} // namespace

std::span<const RecordKind> drawingRecords() {
    return kRecords;
}

} // namespace pictolune::wmf
