// Objects: the records that create, select and delete pens, brushes, fonts,
// palettes and regions, and the pens and brushes Qt draws with.
#include "platform/wmf/WmfParser.h"
#include "platform/wmf/WmfPlayback.h"
#include "platform/wmf/WmfRecordKinds.h"

#include <algorithm>
#include <cmath>

namespace pictolune::wmf {

namespace {

enum PenStyle { PsSolid = 0, PsDash, PsDot, PsDashDot, PsDashDotDot, PsNull, PsAlternate = 8 };
enum PenEnd { PsEndRound = 0x0000, PsEndSquare = 0x0100, PsEndFlat = 0x0200 };
enum PenJoin { PsJoinRound = 0x0000, PsJoinBevel = 0x1000, PsJoinMiter = 0x2000 };

// The longest mitre, as a multiple of the pen's width, before the join is
// bevelled: the format's default limit.
constexpr double kMiterLimit = 10;

} // namespace

std::shared_ptr<const ObjectDef>& Objects::at(int index) {
    if (index < 0 || std::size_t(index) >= slots_.size())
        throw Inconsistent{};
    return slots_[std::size_t(index)];
}

void Objects::add(std::shared_ptr<const ObjectDef> object) {
    auto slot = std::find(slots_.begin(), slots_.end(), nullptr);
    if (slot == slots_.end())
        throw Inconsistent{};
    *slot = std::move(object);
}

QPen Objects::pen(const DeviceContext& dc, double pixelScale, double maxWidth) const {
    const PenDef& def = dc.s.pen;
    const int style = def.style & 0x0F;
    if (style == PsNull)
        return Qt::NoPen;
    const double ps = pixelScale;
    // A pen is never thinner than one pixel of the picture.
    double width = def.width == 0 ? ps : std::abs(def.width) * dc.scaleX();
    width = std::clamp(width, ps, std::max(ps, maxWidth));
    QPen pen(dc.color(def.color), width);
    switch (def.style & 0x0F00) {
    case PsEndSquare:
        pen.setCapStyle(Qt::SquareCap);
        break;
    case PsEndFlat:
        pen.setCapStyle(Qt::FlatCap);
        break;
    default:
        pen.setCapStyle(Qt::RoundCap);
    }
    switch (def.style & 0xF000) {
    case PsJoinBevel:
        pen.setJoinStyle(Qt::BevelJoin);
        break;
    case PsJoinMiter:
        // Qt's plain mitre join cuts a long mitre off square at the limit,
        // which leaves a spike where a line turns back; this one bevels it
        // past the limit, measured as the format measures it.
        pen.setJoinStyle(Qt::SvgMiterJoin);
        pen.setMiterLimit(kMiterLimit);
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

QBrush Objects::hatchBrush(const DeviceContext& dc, double pixelScale, int hatch,
                           const QColor& c) const {
    const QColor back = dc.s.bkMode == Opaque ? dc.color(dc.s.bkColor) : QColor(Qt::transparent);
    const HatchKey key{hatch, c.rgba(), back.rgba()};
    if (hatchCache_ && hatchCache_->first == key)
        return hatchCache_->second;
    const int n = std::clamp(static_cast<int>(std::lround(8 * pixelScale)), 4, 512);
    QImage tile(n, n, QImage::Format_ARGB32_Premultiplied);
    tile.fill(back);
    QPainter p(&tile);
    // Thin hatch lines stay crisp on the pixel grid; thicker ones are smoothed.
    const double lineWidth = std::max(1.0, pixelScale);
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

QBrush Objects::patternBrush(double pixelScale, const QImage& pattern) const {
    if (patternCache_ && patternCache_->first == pattern.cacheKey())
        return patternCache_->second;
    const int w = std::clamp(static_cast<int>(std::lround(pattern.width() * pixelScale)), 1, 2048);
    const int h = std::clamp(static_cast<int>(std::lround(pattern.height() * pixelScale)), 1, 2048);
    patternCache_.emplace(pattern.cacheKey(),
                          QBrush(pattern.convertToFormat(QImage::Format_RGB32)
                                     .scaled(w, h, Qt::IgnoreAspectRatio, Qt::FastTransformation)));
    return patternCache_->second;
}

QBrush Objects::brush(const DeviceContext& dc, double pixelScale, const BrushDef& def) const {
    switch (def.style) {
    case BsNull:
        return Qt::NoBrush;
    case BsHatched:
        return hatchBrush(dc, pixelScale, def.hatch, dc.color(def.color));
    case BsPattern:
    case BsDibPattern:
    case BsDibPatternPt:
        if (!def.pattern.isNull())
            return patternBrush(pixelScale, def.pattern);
        return QBrush(dc.color(def.color));
    default:
        return QBrush(dc.color(def.color));
    }
}

namespace {

Payload parsePen(Parser& parser, Reader& p) {
    PenDef pen;
    pen.style = p.u16();
    pen.width = p.i16();
    p.i16(); // the height of the width point is unused
    pen.color = p.u32();
    return parser.create(pen);
}

Payload parseBrush(Parser& parser, Reader& p) {
    BrushDef brush;
    brush.style = p.u16();
    brush.color = p.u32();
    brush.hatch = p.u16();
    return parser.create(brush);
}

Payload parseDibPatternBrush(Parser& parser, Reader& p) {
    const std::uint16_t style = p.u16();
    const bool paletteIndices = style != BsPattern && p.u16() == 1;
    if (style == BsPattern)
        p.u16();
    BrushDef brush;
    brush.style = BsDibPattern;
    brush.pattern = decodeDib(p.sub(p.remaining()), paletteIndices, parser.pixels()).image;
    return parser.create(brush);
}

Payload parsePatternBrush(Parser& parser, Reader& p) {
    BrushDef brush;
    // Header with a 4-byte bits field, then 18 bytes of nothing, then pixels.
    brush.pattern = decodeBitmap16(p.sub(p.remaining()), 4 + 18, parser.pixels());
    brush.style = brush.pattern.isNull() ? std::uint16_t(BsSolid) : std::uint16_t(BsDibPattern);
    brush.color = 0x808080;
    return parser.create(brush);
}

Payload parseFont(Parser& parser, Reader& p) {
    FontDef f;
    f.height = p.i16();
    f.width = p.i16();
    f.escapement = p.i16();
    p.i16(); // orientation
    f.weight = p.i16();
    f.italic = p.u8() != 0;
    f.underline = p.u8() != 0;
    f.strikeOut = p.u8() != 0;
    f.charset = p.u8();
    p.skip(3); // precision and quality
    f.pitchAndFamily = p.u8();
    QByteArray face;
    while (p.remaining() > 0 && face.size() < 32) {
        const char c = static_cast<char>(p.u8());
        if (c == 0)
            break;
        face.append(c);
    }
    f.face = QString::fromLatin1(face);
    return parser.create(f);
}

Payload parsePalette(Parser& parser, Reader& p) {
    p.u16(); // start
    const int count = p.u16();
    p.require(std::size_t(count) * 4, "palette");
    PaletteDef palette;
    for (int i = 0; i < count; ++i) {
        const int r = p.u8();
        const int g = p.u8();
        const int b = p.u8();
        p.u8(); // flags
        palette.colors.push_back(qRgb(r, g, b));
    }
    return parser.create(palette);
}

Payload parseRegion(Parser& parser, Reader& p) {
    RegionDef region;
    p.skip(2 + 2 + 4 + 2); // chain, type, object count, size
    const int scans = p.u16();
    p.u16(); // largest scan
    Box bounds;
    bounds.left = p.i16();
    bounds.top = p.i16();
    bounds.right = p.i16();
    bounds.bottom = p.i16();
    // Scans that do not add up end the list; the bounds then stand in when
    // nothing usable was read.
    for (int s = 0; s < scans && p.remaining() >= 6; ++s) {
        const int count = p.u16();
        const int top = p.i16();
        const int bottom = p.i16();
        if (count % 2 != 0 || p.remaining() < std::size_t(count) * 2 + 2)
            break;
        for (int i = 0; i < count / 2; ++i) {
            const int left = p.i16();
            const int right = p.i16();
            if (right > left && bottom > top)
                region.rects.emplace_back(QPoint(left, top), QPoint(right - 1, bottom - 1));
        }
        p.u16(); // count repeated
    }
    if (region.rects.empty() && bounds.right > bounds.left && bounds.bottom > bounds.top)
        region.rects.emplace_back(QPoint(bounds.left, bounds.top),
                                  QPoint(bounds.right - 1, bounds.bottom - 1));
    return parser.create(region);
}

Payload parseDelete(Parser& parser, Reader& p) {
    const int index = parser.objectIndex(p);
    parser.release(index);
    return Value{index};
}

void create(Player& pl, const Record& rec) {
    pl.objects.add(arg<Create>(rec).object);
}

void deleteObject(Player& pl, const Record& rec) {
    pl.objects.at(arg<Value>(rec).v).reset();
}

void selectObject(Player& pl, const Record& rec) {
    const auto& obj = pl.objects.at(arg<Value>(rec).v);
    if (!obj)
        return;
    DcState& s = pl.dc.s;
    if (const auto* penDef = std::get_if<PenDef>(obj.get()))
        s.pen = *penDef;
    else if (const auto* brushDef = std::get_if<BrushDef>(obj.get()))
        s.brush = *brushDef;
    else if (const auto* font = std::get_if<FontDef>(obj.get()))
        s.font = *font;
    else if (const auto* palette = std::get_if<PaletteDef>(obj.get()))
        s.palette = std::shared_ptr<const PaletteDef>(obj, palette);
    else if (const auto* region = std::get_if<RegionDef>(obj.get()))
        pl.dc.setClip(pl.dc.regionPixels(*region));
}

// Selecting an empty slot as clip region removes the clipping.
void selectClipRegion(Player& pl, const Record& rec) {
    if (!pl.objects.at(arg<Value>(rec).v))
        pl.dc.setClip(std::nullopt);
    else
        selectObject(pl, rec);
}

constexpr RecordKind kRecords[] = {
    {fn::CreatePenIndirect, false, parsePen, create},
    {fn::CreateBrushIndirect, false, parseBrush, create},
    {fn::DibCreatePatternBrush, false, parseDibPatternBrush, create},
    {fn::CreatePatternBrush, false, parsePatternBrush, create},
    {fn::CreateFontIndirect, false, parseFont, create},
    {fn::CreatePalette, false, parsePalette, create},
    {fn::CreateRegion, false, parseRegion, create},
    {fn::DeleteObject, false, parseDelete, deleteObject},
    {fn::SelectObject, false, parseObjectIndex, selectObject},
    {fn::SelectPalette, false, parseObjectIndex, selectObject},
    {fn::SelectClipRegion, false, parseObjectIndex, selectClipRegion},
};

} // namespace

std::span<const RecordKind> objectRecords() {
    return kRecords;
}

} // namespace pictolune::wmf
