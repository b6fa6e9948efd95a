#include "platform/wmf/WmfPlayer.h"

#include "platform/wmf/WmfLimits.h"
#include "platform/wmf/WmfText.h"

#include <QFontMetricsF>
#include <QPainterPath>
#include <QRegion>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace pictolune::wmf {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Geometry that reaches this far from the output is not drawn: no real
// picture puts anything there and the rasteriser would only lose time on it.
constexpr double kFarAway = 1 << 24;
// A clip region made of more rectangles than this stops being refined.
constexpr int kMaxClipRects = 1024;

enum MapMode {
    MmText = 1,
    MmLoMetric,
    MmHiMetric,
    MmLoEnglish,
    MmHiEnglish,
    MmTwips,
    MmIsotropic,
    MmAnisotropic
};
enum BkMode { Transparent = 1, Opaque = 2 };
enum PenStyle { PsSolid = 0, PsDash, PsDot, PsDashDot, PsDashDotDot, PsNull, PsAlternate = 8 };
enum BrushStyle { BsSolid = 0, BsNull, BsHatched, BsPattern, BsDibPattern = 5, BsDibPatternPt };
enum TextAlign { TaUpdateCp = 1, TaRight = 2, TaCenter = 6, TaBottom = 8, TaBaseline = 24 };
enum TextOptions { EtoOpaque = 2, EtoClipped = 4 };

// The parts of the device context that SaveDC keeps.
struct DcState {
    int mapMode = MmAnisotropic;
    QPointF windowOrg;
    QSizeF windowExt{1, 1};
    QPointF viewportOrg;
    QSizeF viewportExt{1, 1};
    QPointF position;
    PenDef pen;
    BrushDef brush{BsSolid, 0xFFFFFF, 0, {}};
    FontDef font;
    std::shared_ptr<const PaletteDef> palette;
    std::uint32_t bkColor = 0xFFFFFF;
    std::uint32_t textColor = 0;
    int bkMode = Opaque;
    int textAlign = 0;
    int polyFillMode = 1;
    int rop2 = 13;
    int stretchMode = 1;
    std::optional<QRegion> clip;
};

// How a two-operand raster code is drawn: a composition mode, sometimes a
// fixed or inverted colour, or nothing at all.
struct Rop2 {
    bool skip = false;
    QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
    enum { Keep, Black, White, Invert } color = Keep;
};

Rop2 rop2(int code) {
    using C = QPainter::CompositionMode;
    switch (code) {
    case 1:
        return {false, C::CompositionMode_SourceOver, Rop2::Black};
    case 2:
        return {false, C::RasterOp_NotSourceAndNotDestination, Rop2::Keep};
    case 3:
        return {false, C::RasterOp_NotSourceAndDestination, Rop2::Keep};
    case 4:
        return {false, C::CompositionMode_SourceOver, Rop2::Invert};
    case 5:
        return {false, C::RasterOp_SourceAndNotDestination, Rop2::Keep};
    case 6:
        return {false, C::RasterOp_NotDestination, Rop2::Keep};
    case 7:
        return {false, C::RasterOp_SourceXorDestination, Rop2::Keep};
    case 8:
        return {false, C::RasterOp_NotSourceOrNotDestination, Rop2::Keep};
    case 9:
        return {false, C::RasterOp_SourceAndDestination, Rop2::Keep};
    case 10:
        return {false, C::RasterOp_NotSourceXorDestination, Rop2::Keep};
    case 11:
        return {true, C::CompositionMode_SourceOver, Rop2::Keep};
    case 12:
        return {false, C::RasterOp_NotSourceOrDestination, Rop2::Keep};
    case 14:
        return {false, C::RasterOp_SourceOrNotDestination, Rop2::Keep};
    case 15:
        return {false, C::RasterOp_SourceOrDestination, Rop2::Keep};
    case 16:
        return {false, C::CompositionMode_SourceOver, Rop2::White};
    default:
        return {};
    }
}

QColor adjust(QColor c, const Rop2& rop) {
    switch (rop.color) {
    case Rop2::Black:
        return Qt::black;
    case Rop2::White:
        return Qt::white;
    case Rop2::Invert:
        return QColor(255 - c.red(), 255 - c.green(), 255 - c.blue());
    case Rop2::Keep:
        break;
    }
    return c;
}

bool near(const QRectF& r) {
    return std::abs(r.left()) < kFarAway && std::abs(r.right()) < kFarAway &&
           std::abs(r.top()) < kFarAway && std::abs(r.bottom()) < kFarAway;
}

QRect pixelRect(const QRectF& r) {
    const QRectF n = r.normalized();
    return QRect(
        QPoint(static_cast<int>(std::lround(n.left())), static_cast<int>(std::lround(n.top()))),
        QPoint(static_cast<int>(std::lround(n.right())) - 1,
               static_cast<int>(std::lround(n.bottom())) - 1));
}

QRectF boxRect(const Box& b) {
    return QRectF(QPointF(b.left, b.top), QPointF(b.right, b.bottom)).normalized();
}

class Player {
public:
    Player(const Document& doc, QPainter& painter, const Mapping& start, const Output& out)
        : doc_(doc), painter_(painter), out_(out), objects_(std::size_t(doc.objectCount)) {
        s_.windowOrg = start.windowOrg;
        s_.windowExt = start.windowExt;
        s_.viewportOrg = start.viewportOrg;
        s_.viewportExt = start.viewportExt;
        const QRect b = out.bounds.isValid() ? out.bounds : QRect(0, 0, 1, 1);
        maxPenWidth_ = 2.0 * std::max(b.width(), b.height()) + out_.pixelScale;
        maxFontPixels_ = std::min(8192.0, 4.0 * std::max(b.width(), b.height()) + 64);
        dpi_ = painter.device() ? painter.device()->logicalDpiY() : 96;
        if (dpi_ <= 0)
            dpi_ = 96;
        updateTransform();
    }

    void run() {
        painter_.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                                QPainter::SmoothPixmapTransform);
        try {
            for (const Record& rec : doc_.records)
                step(rec);
        } catch (const Inconsistent&) {
        }
    }

private:
    // A payload of the wrong kind or an object index past the table could
    // only come from a parser fault; either ends the playback.
    struct Inconsistent {};
    template <class T> static const T& arg(const Record& rec) {
        if (const T* payload = std::get_if<T>(&rec.payload))
            return *payload;
        throw Inconsistent{};
    }
    template <class T> static const T& boxed(const Record& rec) {
        const auto& payload = arg<std::shared_ptr<const T>>(rec);
        if (!payload)
            throw Inconsistent{};
        return *payload;
    }
    std::shared_ptr<const ObjectDef>& object(int index) {
        if (index < 0 || std::size_t(index) >= objects_.size())
            throw Inconsistent{};
        return objects_[std::size_t(index)];
    }

    void step(const Record& rec);
    bool stateRecord(const Record& rec);
    bool objectRecord(const Record& rec);
    bool drawingRecord(const Record& rec);

    void updateTransform();
    double scaleX() const { return std::hypot(t_.m11(), t_.m12()); }
    double scaleY() const { return std::hypot(t_.m21(), t_.m22()); }
    QColor color(std::uint32_t ref) const;
    QPen pen() const;
    QBrush brush(const BrushDef& def) const;
    QBrush hatchBrush(int hatch, const QColor& c) const;
    QBrush patternBrush(const QImage& pattern) const;

    void applyClip();
    void setClip(std::optional<QRegion> clip);
    void clipRect(const Box& b, bool exclude);
    QRegion regionPixels(const RegionDef& region) const;
    QPainterPath regionPath(const RegionDef& region) const;

    void draw(QPainterPath path, bool fill, bool stroke);
    void fillWith(const QPainterPath& path, const QBrush& brush);
    QPainterPath arcPath(const Box& b, std::uint16_t function) const;
    void text(const Text& t, bool ext);
    void blit(const Blit& b);
    void patBlt(const QRectF& target, int code);

    const Document& doc_;
    QPainter& painter_;
    Output out_;
    DcState s_;
    std::vector<DcState> saved_;
    std::vector<std::shared_ptr<const ObjectDef>> objects_;
    QTransform t_;
    bool clipDirty_ = true;
    using HatchKey = std::tuple<int, QRgb, QRgb>;
    mutable std::optional<std::pair<HatchKey, QBrush>> hatchCache_;
    mutable std::optional<std::pair<qint64, QBrush>> patternCache_;
    double maxPenWidth_ = 1;
    double maxFontPixels_ = 1;
    double dpi_ = 96;
};

void Player::updateTransform() {
    double sx = 1;
    double sy = 1;
    const double dpi = doc_.unitsPerInch;
    switch (s_.mapMode) {
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
        sx = s_.viewportExt.width() / s_.windowExt.width();
        sy = s_.viewportExt.height() / s_.windowExt.height();
        if (s_.mapMode == MmIsotropic) {
            const double m = std::min(std::abs(sx), std::abs(sy));
            sx = std::copysign(m, sx);
            sy = std::copysign(m, sy);
        }
    }
    const QTransform logicalToDevice(sx, 0, 0, sy, s_.viewportOrg.x() - s_.windowOrg.x() * sx,
                                     s_.viewportOrg.y() - s_.windowOrg.y() * sy);
    t_ = logicalToDevice * out_.deviceToOutput;
}

QColor Player::color(std::uint32_t ref) const {
    if ((ref >> 24) == 1 && s_.palette) {
        const std::size_t index = ref & 0xFFFF;
        if (index < s_.palette->colors.size())
            return QColor(s_.palette->colors[index]);
    }
    return QColor(static_cast<int>(ref & 0xFF), static_cast<int>((ref >> 8) & 0xFF),
                  static_cast<int>((ref >> 16) & 0xFF));
}

QPen Player::pen() const {
    const int style = s_.pen.style & 0x0F;
    if (style == PsNull)
        return Qt::NoPen;
    const double ps = out_.pixelScale;
    // A pen is never thinner than one pixel of the picture.
    double width = s_.pen.width == 0 ? ps : std::abs(s_.pen.width) * scaleX();
    width = std::clamp(width, ps, std::max(ps, maxPenWidth_));
    QPen pen(color(s_.pen.color), width);
    switch (s_.pen.style & 0x0F00) {
    case 0x0100:
        pen.setCapStyle(Qt::SquareCap);
        break;
    case 0x0200:
        pen.setCapStyle(Qt::FlatCap);
        break;
    default:
        pen.setCapStyle(Qt::RoundCap);
    }
    switch (s_.pen.style & 0xF000) {
    case 0x1000:
        pen.setJoinStyle(Qt::BevelJoin);
        break;
    case 0x2000:
        pen.setJoinStyle(Qt::MiterJoin);
        break;
    default:
        pen.setJoinStyle(Qt::RoundJoin);
    }
    // Dashes belong to thin pens; wide ones draw solid. Lengths are in
    // pixels of the picture, and Qt counts them in pen widths.
    if (width <= 1.5 * ps) {
        QList<qreal> dashes;
        switch (style) {
        case PsDash:
            dashes = {18, 6};
            break;
        case PsDot:
            dashes = {3, 3};
            break;
        case PsDashDot:
            dashes = {9, 6, 3, 6};
            break;
        case PsDashDotDot:
            dashes = {9, 3, 3, 3, 3, 3};
            break;
        case PsAlternate:
            dashes = {1, 1};
            break;
        default:
            break;
        }
        if (!dashes.isEmpty()) {
            for (qreal& d : dashes)
                d *= ps / width;
            pen.setDashPattern(dashes);
            pen.setCapStyle(Qt::FlatCap);
        }
    }
    return pen;
}

QBrush Player::hatchBrush(int hatch, const QColor& c) const {
    // Fills in a row mostly share one hatch; its tile is made once.
    const QColor back = s_.bkMode == Opaque ? color(s_.bkColor) : QColor(Qt::transparent);
    const HatchKey key{hatch, c.rgba(), back.rgba()};
    if (hatchCache_ && hatchCache_->first == key)
        return hatchCache_->second;
    const int n = std::clamp(static_cast<int>(std::lround(8 * out_.pixelScale)), 4, 512);
    QImage tile(n, n, QImage::Format_ARGB32_Premultiplied);
    tile.fill(back);
    QPainter p(&tile);
    // Thin hatch lines stay crisp on the pixel grid; thicker ones are smoothed.
    const double lineWidth = std::max(1.0, out_.pixelScale);
    p.setRenderHint(QPainter::Antialiasing, lineWidth > 1.5);
    p.setPen(QPen(c, lineWidth, Qt::SolidLine, Qt::FlatCap));
    const double m = std::floor(n / 2.0) + 0.5;
    const bool horizontal = hatch == 0 || hatch == 4;
    const bool vertical = hatch == 1 || hatch == 4;
    const bool falling = hatch == 2 || hatch == 5;
    const bool rising = hatch == 3 || hatch == 5;
    if (horizontal)
        p.drawLine(QPointF(0, m), QPointF(n, m));
    if (vertical)
        p.drawLine(QPointF(m, 0), QPointF(m, n));
    // Diagonals are drawn three times so that they join across tile edges.
    for (int k = -1; k <= 1; ++k) {
        if (falling)
            p.drawLine(QPointF(k * n, 0), QPointF(k * n + n, n));
        if (rising)
            p.drawLine(QPointF(k * n, n), QPointF(k * n + n, 0));
    }
    p.end();
    hatchCache_.emplace(key, QBrush(tile));
    return hatchCache_->second;
}

QBrush Player::patternBrush(const QImage& pattern) const {
    if (patternCache_ && patternCache_->first == pattern.cacheKey())
        return patternCache_->second;
    const double ps = out_.pixelScale;
    const int w = std::clamp(static_cast<int>(std::lround(pattern.width() * ps)), 1, 2048);
    const int h = std::clamp(static_cast<int>(std::lround(pattern.height() * ps)), 1, 2048);
    patternCache_.emplace(pattern.cacheKey(),
                          QBrush(pattern.convertToFormat(QImage::Format_RGB32)
                                     .scaled(w, h, Qt::IgnoreAspectRatio, Qt::FastTransformation)));
    return patternCache_->second;
}

QBrush Player::brush(const BrushDef& def) const {
    switch (def.style) {
    case BsNull:
        return Qt::NoBrush;
    case BsHatched:
        return hatchBrush(def.hatch, color(def.color));
    case BsPattern:
    case BsDibPattern:
    case BsDibPatternPt:
        if (!def.pattern.isNull())
            return patternBrush(def.pattern);
        return QBrush(color(def.color));
    default:
        return QBrush(color(def.color));
    }
}

void Player::applyClip() {
    if (!clipDirty_ || out_.measuring)
        return;
    clipDirty_ = false;
    if (s_.clip)
        painter_.setClipRegion(*s_.clip);
    else
        painter_.setClipping(false);
}

void Player::setClip(std::optional<QRegion> clip) {
    s_.clip = std::move(clip);
    clipDirty_ = true;
}

void Player::clipRect(const Box& b, bool exclude) {
    const QRectF r = t_.mapRect(boxRect(b));
    if (!near(r))
        return;
    const QRegion current = s_.clip ? *s_.clip : QRegion(out_.bounds);
    // Each exclusion can split the region further; past the limit it is
    // left as it is, which keeps every later clip operation cheap.
    if (exclude && current.rectCount() >= kMaxClipRects)
        return;
    const QRegion next =
        exclude ? current.subtracted(pixelRect(r)) : current.intersected(pixelRect(r));
    if (next.rectCount() <= kMaxClipRects)
        setClip(next);
}

QRegion Player::regionPixels(const RegionDef& region) const {
    QRegion pixels;
    for (const QRect& r : region.rects) {
        const QRectF mapped = t_.mapRect(QRectF(r));
        if (near(mapped) && pixels.rectCount() < kMaxClipRects)
            pixels += pixelRect(mapped);
    }
    return pixels;
}

QPainterPath Player::regionPath(const RegionDef& region) const {
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    for (const QRect& r : region.rects)
        path.addRect(QRectF(r));
    return t_.map(path);
}

void Player::fillWith(const QPainterPath& path, const QBrush& brush) {
    if (brush.style() == Qt::NoBrush)
        return;
    const Rop2 rop = rop2(s_.rop2);
    if (rop.skip)
        return;
    QBrush b = brush;
    if (rop.color != Rop2::Keep)
        b = QBrush(adjust(brush.color(), rop));
    painter_.setCompositionMode(rop.mode);
    painter_.fillPath(path, b);
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void Player::draw(QPainterPath path, bool fill, bool stroke) {
    if (path.isEmpty() || !near(path.controlPointRect()))
        return;
    const Rop2 rop = rop2(s_.rop2);
    if (rop.skip)
        return;
    applyClip();
    if (fill) {
        path.setFillRule(s_.polyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
        fillWith(path, brush(s_.brush));
    }
    if (!stroke)
        return;
    QPen p = pen();
    if (p.style() == Qt::NoPen)
        return;
    painter_.setCompositionMode(rop.mode);
    // The gaps of a dashed line show the background colour when it is opaque.
    if (p.style() == Qt::CustomDashLine && s_.bkMode == Opaque &&
        rop.mode == QPainter::CompositionMode_SourceOver) {
        QPen gap = p;
        gap.setStyle(Qt::SolidLine);
        gap.setColor(color(s_.bkColor));
        painter_.strokePath(path, gap);
    }
    p.setColor(adjust(p.color(), rop));
    painter_.strokePath(path, p);
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

QPainterPath Player::arcPath(const Box& b, std::uint16_t function) const {
    // Arcs run counter-clockwise as seen on the output, whatever the mapping.
    const QRectF r = t_.mapRect(boxRect(b));
    QPainterPath path;
    if (r.width() <= 0 || r.height() <= 0 || !near(r))
        return path;
    const QPointF c = r.center();
    const double rx = r.width() / 2;
    const double ry = r.height() / 2;
    auto angle = [&](QPoint radial) {
        const QPointF p = t_.map(QPointF(radial));
        return std::atan2(-(p.y() - c.y()) / ry, (p.x() - c.x()) / rx) * 180.0 / kPi;
    };
    const double start = angle(b.a);
    double sweep = angle(b.b) - start;
    // Equal radials give the whole ellipse.
    while (sweep <= 1e-9)
        sweep += 360;
    if (function == fn::Pie) {
        path.moveTo(c);
        path.arcTo(r, start, sweep);
        path.closeSubpath();
    } else {
        path.arcMoveTo(r, start);
        path.arcTo(r, start, sweep);
        if (function == fn::Chord)
            path.closeSubpath();
    }
    return path;
}

void Player::text(const Text& t, bool ext) {
    const bool useCp = s_.textAlign & TaUpdateCp;
    const QPointF origin = t_.map(useCp ? s_.position : QPointF(t.p));
    if (!near(QRectF(origin, QSizeF(1, 1))))
        return;
    applyClip();
    painter_.save();
    if (ext && t.rect) {
        const QPainterPath box = t_.map([&] {
            QPainterPath p;
            p.addRect(boxRect(*t.rect));
            return p;
        }());
        if (near(box.controlPointRect())) {
            if (t.options & EtoOpaque)
                painter_.fillPath(box, color(s_.bkColor));
            if ((t.options & EtoClipped) && !out_.measuring)
                painter_.setClipPath(box, Qt::IntersectClip);
        }
    }

    const QString str = decodeText(t.bytes, s_.font.charset);
    const FontDef& def = s_.font;
    QFont font = makeFont(def, 12, dpi_);
    double em = 12 * out_.pixelScale;
    if (def.height < 0)
        em = -double(def.height) * scaleY();
    else if (def.height > 0)
        em = def.height * scaleY() / cellToEmRatio(font);
    if (str.isEmpty() || em < 0.5 || em > maxFontPixels_) {
        painter_.restore();
        return;
    }
    font = makeFont(def, em, dpi_);
    QFontMetricsF fm(font, painter_.device());
    if (def.width != 0 && fm.averageCharWidth() > 0) {
        const double wanted = std::abs(def.width) * scaleX();
        font.setStretch(std::clamp(
            static_cast<int>(std::lround(100 * wanted / fm.averageCharWidth())), 25, 400));
        fm = QFontMetricsF(font, painter_.device());
    }

    // Advances given by the record place each character; otherwise the font does.
    const bool useDx = !t.dx.empty() && str.size() == t.bytes.size();
    std::vector<double> xs;
    double width = 0;
    if (useDx) {
        for (int i = 0; i < str.size(); ++i) {
            xs.push_back(width);
            width += t.dx[std::size_t(i)] * scaleX();
        }
    } else {
        width = fm.horizontalAdvance(str);
    }
    double x0 = 0;
    if ((s_.textAlign & TaCenter) == TaCenter)
        x0 = -width / 2;
    else if (s_.textAlign & TaRight)
        x0 = -width;
    double baseline = fm.ascent();
    if ((s_.textAlign & TaBaseline) == TaBaseline)
        baseline = 0;
    else if (s_.textAlign & TaBottom)
        baseline = -fm.descent();

    painter_.translate(origin);
    painter_.rotate(-def.escapement / 10.0);
    if (s_.bkMode == Opaque)
        painter_.fillRect(QRectF(x0, baseline - fm.ascent(), width, fm.ascent() + fm.descent()),
                          color(s_.bkColor));
    painter_.setFont(font);
    painter_.setPen(color(s_.textColor));
    if (useDx) {
        for (int i = 0; i < str.size(); ++i)
            painter_.drawText(QPointF(x0 + xs[std::size_t(i)], baseline), QString(str[i]));
    } else {
        painter_.drawText(QPointF(x0, baseline), str);
    }
    const QPointF end = painter_.transform().map(QPointF(x0 + width, 0));
    const QPointF begin = painter_.transform().map(QPointF(x0, 0));
    painter_.restore();

    if (useCp && t_.isInvertible()) {
        const bool right = (s_.textAlign & TaCenter) == TaRight;
        if ((s_.textAlign & TaCenter) != TaCenter)
            s_.position = t_.inverted().map(right ? begin : end);
    }
}

void Player::patBlt(const QRectF& target, int code) {
    QBrush b = brush(s_.brush);
    QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
    switch (code) {
    case 0xAA:
        return;
    case 0x00:
        b = QBrush(Qt::black);
        break;
    case 0xFF:
        b = QBrush(Qt::white);
        break;
    case 0x55:
        b = QBrush(Qt::white);
        mode = QPainter::RasterOp_NotDestination;
        break;
    case 0x5A:
        mode = QPainter::RasterOp_SourceXorDestination;
        break;
    default:
        break;
    }
    if (b.style() == Qt::NoBrush)
        return;
    painter_.setCompositionMode(mode);
    painter_.fillRect(target, b);
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void Player::blit(const Blit& b) {
    const QPointF p0 = t_.map(QPointF(b.x, b.y));
    const QPointF p1 = t_.map(QPointF(double(b.x) + b.w, double(b.y) + b.h));
    const QRectF target = QRectF(p0, p1).normalized();
    if (target.isEmpty() || !near(target))
        return;
    applyClip();
    const int code = static_cast<int>((b.rop >> 16) & 0xFFu);
    // Codes that do not involve the source act like PatBlt.
    const bool usesSource = ((code >> 2) & 0x33) != (code & 0x33);
    if (b.image.isNull() || !usesSource) {
        patBlt(target, code);
        return;
    }
    const QRectF wanted = QRectF(b.srcX, b.srcY, b.srcW, b.srcH).normalized();
    const QRectF src = wanted.intersected(QRectF(b.image.rect()));
    if (src.isEmpty() || wanted.isEmpty())
        return;

    QImage img = b.image;
    QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
    switch (code) {
    case 0x88:
        mode = QPainter::RasterOp_SourceAndDestination;
        break;
    case 0xEE:
        mode = QPainter::RasterOp_SourceOrDestination;
        break;
    case 0x66:
        mode = QPainter::RasterOp_SourceXorDestination;
        break;
    case 0x44:
        mode = QPainter::RasterOp_SourceAndNotDestination;
        break;
    case 0x33:
        mode = QPainter::RasterOp_NotSource;
        break;
    case 0x11:
        mode = QPainter::RasterOp_NotSourceAndNotDestination;
        break;
    case 0xBB:
        mode = QPainter::RasterOp_NotSourceOrDestination;
        break;
    case 0x99:
        mode = QPainter::RasterOp_NotSourceXorDestination;
        break;
    case 0xB8:
    case 0xE2: {
        // The brush shows where the source is white (0xB8) or black (0xE2);
        // elsewhere the destination stays.
        const QColor c = s_.brush.style == BsSolid ? color(s_.brush.color) : QColor(Qt::black);
        const QImage grey = img.convertToFormat(QImage::Format_Grayscale8);
        img = QImage(grey.size(), QImage::Format_ARGB32_Premultiplied);
        if (img.isNull())
            return;
        for (int y = 0; y < grey.height(); ++y) {
            const uchar* in = grey.constScanLine(y);
            auto* out = reinterpret_cast<QRgb*>(img.scanLine(y));
            for (int x = 0; x < grey.width(); ++x) {
                const int a = code == 0xB8 ? in[x] : 255 - in[x];
                out[x] = qPremultiply(qRgba(c.red(), c.green(), c.blue(), a));
            }
        }
        break;
    }
    default:
        break;
    }
    const double sx = (p1.x() - p0.x()) / wanted.width();
    const double sy = (p1.y() - p0.y()) / wanted.height();
    painter_.save();
    painter_.setCompositionMode(mode);
    // Enlarged bitmaps keep their pixels crisp, as on the devices they were
    // made for, unless the file asks for halftoning; reduced ones are smoothed.
    const bool enlarged = std::abs(sx) >= 1 && std::abs(sy) >= 1;
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, !enlarged || s_.stretchMode == 4);
    painter_.setTransform(
        QTransform(sx, 0, 0, sy, p0.x() - wanted.left() * sx, p0.y() - wanted.top() * sy));
    painter_.drawImage(src.topLeft(), img, src);
    painter_.restore();
}

bool Player::stateRecord(const Record& rec) {
    switch (rec.function) {
    case fn::SetMapMode:
        if (const int mode = arg<Value>(rec).v; mode >= MmText && mode <= MmAnisotropic)
            s_.mapMode = mode;
        break;
    case fn::SetBkMode:
        if (const int mode = arg<Value>(rec).v; mode == Transparent || mode == Opaque)
            s_.bkMode = mode;
        break;
    case fn::SetBkColor:
        s_.bkColor = static_cast<std::uint32_t>(arg<Value>(rec).v);
        break;
    case fn::SetTextColor:
        s_.textColor = static_cast<std::uint32_t>(arg<Value>(rec).v);
        break;
    case fn::SetTextAlign:
        s_.textAlign = arg<Value>(rec).v;
        break;
    case fn::SetPolyFillMode:
        s_.polyFillMode = arg<Value>(rec).v;
        break;
    case fn::SetRop2:
        s_.rop2 = arg<Value>(rec).v;
        break;
    case fn::SetWindowOrg:
        s_.windowOrg = arg<Point>(rec).p;
        break;
    case fn::SetViewportOrg:
        s_.viewportOrg = arg<Point>(rec).p;
        break;
    case fn::OffsetWindowOrg:
        s_.windowOrg += arg<Point>(rec).p;
        break;
    case fn::OffsetViewportOrg:
        s_.viewportOrg += arg<Point>(rec).p;
        break;
    case fn::SetWindowExt:
    case fn::SetViewportExt: {
        const QPoint e = arg<Point>(rec).p;
        if (e.x() == 0 || e.y() == 0)
            break; // refused, as an empty extent has no meaning
        (rec.function == fn::SetWindowExt ? s_.windowExt : s_.viewportExt) = QSizeF(e.x(), e.y());
        break;
    }
    case fn::ScaleWindowExt:
    case fn::ScaleViewportExt: {
        const Scale& sc = arg<Scale>(rec);
        if (sc.xDenom == 0 || sc.yDenom == 0 || sc.xNum == 0 || sc.yNum == 0)
            break;
        QSizeF& ext = rec.function == fn::ScaleWindowExt ? s_.windowExt : s_.viewportExt;
        const QSizeF scaled(ext.width() * sc.xNum / sc.xDenom, ext.height() * sc.yNum / sc.yDenom);
        // Repeated scaling could shrink or grow an extent without end; one
        // that no longer maps to finite coordinates is refused.
        auto usable = [](double v) { return std::abs(v) >= 1e-3 && std::abs(v) <= 1e9; };
        if (usable(scaled.width()) && usable(scaled.height()))
            ext = scaled;
        break;
    }
    case fn::MoveTo:
        s_.position = arg<Point>(rec).p;
        break;
    case fn::SaveDC:
        if (saved_.size() < std::size_t(kMaxSavedStates))
            saved_.push_back(s_);
        break;
    case fn::RestoreDC: {
        const int n = arg<Value>(rec).v;
        const int depth = static_cast<int>(saved_.size());
        const int level = n < 0 ? depth + n : n - 1; // index of the state to go back to
        if (n == 0 || level < 0 || level >= depth)
            break;
        s_ = saved_[std::size_t(level)];
        saved_.resize(std::size_t(level));
        clipDirty_ = true;
        break;
    }
    case fn::IntersectClipRect:
        clipRect(arg<Box>(rec), false);
        break;
    case fn::ExcludeClipRect:
        clipRect(arg<Box>(rec), true);
        break;
    case fn::OffsetClipRgn:
        if (s_.clip) {
            const QPoint d = arg<Point>(rec).p;
            const QPointF moved = t_.map(QPointF(d)) - t_.map(QPointF(0, 0));
            if (near(QRectF(moved, QSizeF(1, 1))))
                setClip(s_.clip->translated(static_cast<int>(std::lround(moved.x())),
                                            static_cast<int>(std::lround(moved.y()))));
        }
        break;
    default:
        return false;
    }
    updateTransform();
    return true;
}

bool Player::objectRecord(const Record& rec) {
    switch (rec.function) {
    case fn::CreatePenIndirect:
    case fn::CreateBrushIndirect:
    case fn::CreateFontIndirect:
    case fn::CreatePalette:
    case fn::CreateRegion:
    case fn::CreatePatternBrush:
    case fn::DibCreatePatternBrush: {
        // The new object takes the lowest free slot.
        auto slot = std::find(objects_.begin(), objects_.end(), nullptr);
        if (slot == objects_.end())
            throw Inconsistent{};
        *slot = arg<Create>(rec).object;
        return true;
    }
    case fn::DeleteObject:
        object(arg<Value>(rec).v).reset();
        return true;
    case fn::SelectObject:
    case fn::SelectPalette:
    case fn::SelectClipRegion: {
        const auto& obj = object(arg<Value>(rec).v);
        if (!obj) {
            // Selecting an empty slot as clip region removes the clipping.
            if (rec.function == fn::SelectClipRegion)
                setClip(std::nullopt);
            return true;
        }
        if (const auto* penDef = std::get_if<PenDef>(obj.get()))
            s_.pen = *penDef;
        else if (const auto* brushDef = std::get_if<BrushDef>(obj.get()))
            s_.brush = *brushDef;
        else if (const auto* font = std::get_if<FontDef>(obj.get()))
            s_.font = *font;
        else if (const auto* palette = std::get_if<PaletteDef>(obj.get()))
            s_.palette = std::shared_ptr<const PaletteDef>(obj, palette);
        else if (const auto* region = std::get_if<RegionDef>(obj.get()))
            setClip(regionPixels(*region));
        return true;
    }
    default:
        return false;
    }
}

bool Player::drawingRecord(const Record& rec) {
    switch (rec.function) {
    case fn::LineTo: {
        const QPointF to = arg<Point>(rec).p;
        QPainterPath path;
        path.moveTo(t_.map(s_.position));
        path.lineTo(t_.map(to));
        s_.position = to;
        draw(path, false, true);
        return true;
    }
    case fn::Polyline:
    case fn::Polygon: {
        const Poly& poly = boxed<Poly>(rec);
        if (poly.points.size() < 2)
            return true;
        QPolygonF pts;
        for (const QPoint& p : poly.points)
            pts << QPointF(p);
        QPainterPath path;
        path.addPolygon(t_.map(pts));
        const bool closed = rec.function == fn::Polygon;
        if (closed)
            path.closeSubpath();
        draw(path, closed, true);
        return true;
    }
    case fn::PolyPolygon: {
        const Poly& poly = boxed<Poly>(rec);
        QPainterPath path;
        std::size_t at = 0;
        for (const int count : poly.counts) {
            QPolygonF pts;
            for (int i = 0; i < count && at < poly.points.size(); ++i)
                pts << QPointF(poly.points[at++]);
            if (pts.size() >= 2) {
                path.addPolygon(t_.map(pts));
                path.closeSubpath();
            }
        }
        draw(path, true, true);
        return true;
    }
    case fn::Rectangle:
    case fn::Ellipse:
    case fn::RoundRect: {
        const Box& b = arg<Box>(rec);
        QPainterPath path;
        if (rec.function == fn::Rectangle)
            path.addRect(boxRect(b));
        else if (rec.function == fn::Ellipse)
            path.addEllipse(boxRect(b));
        else
            path.addRoundedRect(boxRect(b), std::abs(b.a.x()) / 2.0, std::abs(b.a.y()) / 2.0);
        draw(t_.map(path), true, true);
        return true;
    }
    case fn::Arc:
    case fn::Pie:
    case fn::Chord:
        draw(arcPath(arg<Box>(rec), rec.function), rec.function != fn::Arc, true);
        return true;
    case fn::SetPixel: {
        const Pixel& px = arg<Pixel>(rec);
        const QPointF at = t_.map(QPointF(px.p));
        const QRectF dot(at, QSizeF(out_.pixelScale, out_.pixelScale));
        if (near(dot)) {
            applyClip();
            painter_.fillRect(dot, color(px.color));
        }
        return true;
    }
    case fn::TextOut:
    case fn::ExtTextOut:
        text(boxed<Text>(rec), rec.function == fn::ExtTextOut);
        return true;
    case fn::PatBlt:
    case fn::BitBlt:
    case fn::StretchBlt:
    case fn::DibBitBlt:
    case fn::DibStretchBlt:
    case fn::StretchDib:
    case fn::SetDibToDev:
        blit(boxed<Blit>(rec));
        return true;
    case fn::FillRegion:
    case fn::PaintRegion:
    case fn::InvertRegion:
    case fn::FrameRegion: {
        const RegionUse& use = arg<RegionUse>(rec);
        const auto& obj = object(use.region);
        const auto* region = obj ? std::get_if<RegionDef>(obj.get()) : nullptr;
        if (!region)
            return true;
        QBrush b = brush(s_.brush);
        if (rec.function == fn::FillRegion || rec.function == fn::FrameRegion) {
            const auto& brushObj = object(use.brush);
            const auto* def = brushObj ? std::get_if<BrushDef>(brushObj.get()) : nullptr;
            if (!def)
                return true;
            b = brush(*def);
        }
        const QPainterPath path = regionPath(*region);
        if (!near(path.controlPointRect()))
            return true;
        applyClip();
        if (rec.function == fn::InvertRegion) {
            painter_.setCompositionMode(QPainter::RasterOp_NotDestination);
            painter_.fillPath(path, Qt::white);
            painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
        } else if (rec.function == fn::FrameRegion) {
            const double w = std::clamp(std::abs(use.width) * scaleX(), out_.pixelScale,
                                        std::max(out_.pixelScale, maxPenWidth_));
            painter_.strokePath(path.simplified(), QPen(b, w));
        } else {
            fillWith(path, b);
        }
        return true;
    }
    default:
        return false;
    }
}

void Player::step(const Record& rec) {
    if (!stateRecord(rec) && !drawingRecord(rec))
        objectRecord(rec);
}

} // namespace

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
