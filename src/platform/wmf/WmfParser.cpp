#include "platform/wmf/WmfParser.h"

#include "platform/wmf/WmfDib.h"
#include "platform/wmf/WmfLimits.h"
#include "platform/wmf/WmfReader.h"

#include <algorithm>
#include <cmath>

namespace pictolune::wmf {

namespace {

constexpr std::size_t kPlaceableSize = 22;
constexpr std::size_t kHeaderSize = 18;

enum BrushStyle : std::uint16_t { BsSolid = 0, BsNull = 1, BsHatched = 2, BsPattern = 3 };
constexpr std::uint16_t kBsDibPattern = 5;

bool isPlainHeader(Reader r) {
    if (r.remaining() < kHeaderSize)
        return false;
    const int type = r.u16();
    const int headerWords = r.u16();
    const int version = r.u16();
    return (type == 1 || type == 2) && headerWords == 9 && (version == 0x0100 || version == 0x0300);
}

Reader readerOf(const QByteArray& bytes) {
    return Reader(reinterpret_cast<const unsigned char*>(bytes.constData()),
                  static_cast<std::size_t>(bytes.size()));
}

Box readBox(Reader& p) {
    Box b;
    b.bottom = p.i16();
    b.right = p.i16();
    b.top = p.i16();
    b.left = p.i16();
    return b;
}

QPoint readPointYX(Reader& p) {
    const int y = p.i16();
    const int x = p.i16();
    return {x, y};
}

std::uint32_t readColor(Reader& p) {
    return p.u32();
}

// Parses records one by one and keeps the running checks that span records:
// the object table, the point total and the bitmap budget.
class Parser {
public:
    explicit Parser(int objectCount) : slots_(static_cast<std::size_t>(objectCount), false) {}

    Record parse(std::uint16_t function, std::uint32_t words, Reader p);

private:
    void create(Record& rec, ObjectDef def);
    int objectIndex(Reader& p);
    void takePoints(std::int64_t n);
    std::vector<QPoint> readPoints(Reader& p, std::int64_t n);
    Record blit(std::uint16_t function, std::uint32_t words, Reader& p);

    std::vector<bool> slots_;
    std::int64_t points_ = 0;
    PixelBudget budget_{kMaxBitmapPixels};
};

void Parser::create(Record& rec, ObjectDef def) {
    auto free = std::find(slots_.begin(), slots_.end(), false);
    if (free == slots_.end())
        fail("more objects than the object table holds");
    *free = true;
    rec.payload = Create{std::make_shared<const ObjectDef>(std::move(def))};
}

int Parser::objectIndex(Reader& p) {
    const int index = p.u16();
    if (static_cast<std::size_t>(index) >= slots_.size())
        fail("object index out of range");
    return index;
}

void Parser::takePoints(std::int64_t n) {
    points_ += n;
    if (points_ > kMaxPoints)
        fail("too many points");
}

std::vector<QPoint> Parser::readPoints(Reader& p, std::int64_t n) {
    p.require(static_cast<std::size_t>(n) * 4, "point list");
    takePoints(n);
    std::vector<QPoint> pts;
    pts.reserve(static_cast<std::size_t>(n));
    for (std::int64_t i = 0; i < n; ++i) {
        const int x = p.i16();
        const int y = p.i16();
        pts.emplace_back(x, y);
    }
    return pts;
}

Record Parser::blit(std::uint16_t function, std::uint32_t words, Reader& p) {
    Record rec{function, {}};
    Blit b;
    // The forms without a bitmap are exactly as long as their fixed fields.
    const bool withoutBitmap = words == static_cast<std::uint32_t>((function >> 8) + 3);
    bool paletteIndices = false;
    bool yFromBottom = false;
    b.rop = p.u32();
    if (function == fn::PatBlt) {
        b.h = p.i16();
        b.w = p.i16();
        b.y = p.i16();
        b.x = p.i16();
        rec.payload = std::make_shared<const Blit>(std::move(b));
        return rec;
    }
    if (function == fn::SetDibToDev) {
        b.rop = 0x00CC0020; // the first field was the colour use, not an operation
        p.seek(0);
        paletteIndices = p.u16() == 1;
        p.u16(); // scan count
        p.u16(); // first scan
        b.srcY = p.i16();
        b.srcX = p.i16();
        b.srcH = b.h = p.i16();
        b.srcW = b.w = p.i16();
        b.y = p.i16();
        b.x = p.i16();
        yFromBottom = true;
    } else if (function == fn::StretchDib) {
        paletteIndices = p.u16() == 1;
        b.srcH = p.i16();
        b.srcW = p.i16();
        b.srcY = p.i16();
        b.srcX = p.i16();
        b.h = p.i16();
        b.w = p.i16();
        b.y = p.i16();
        b.x = p.i16();
        yFromBottom = true;
    } else if (function == fn::BitBlt || function == fn::DibBitBlt) {
        b.srcY = p.i16();
        b.srcX = p.i16();
        if (withoutBitmap)
            p.u16();
        b.srcH = b.h = p.i16();
        b.srcW = b.w = p.i16();
        b.y = p.i16();
        b.x = p.i16();
    } else { // StretchBlt, DibStretchBlt
        b.srcH = p.i16();
        b.srcW = p.i16();
        b.srcY = p.i16();
        b.srcX = p.i16();
        if (withoutBitmap)
            p.u16();
        b.h = p.i16();
        b.w = p.i16();
        b.y = p.i16();
        b.x = p.i16();
    }
    if (!withoutBitmap) {
        Reader bitmap = p.sub(p.remaining());
        if (function == fn::BitBlt || function == fn::StretchBlt) {
            b.image = decodeBitmap16(bitmap, 0, budget_);
            if (b.image.isNull()) {
                rec.payload = NoArgs{};
                return rec;
            }
        } else {
            Dib dib = decodeDib(bitmap, paletteIndices, budget_);
            b.image = dib.image;
            if (yFromBottom && dib.bottomUp)
                b.srcY = b.image.height() - b.srcY - b.srcH;
        }
    }
    rec.payload = std::make_shared<const Blit>(std::move(b));
    return rec;
}

RegionDef readRegion(Reader& p) {
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
    return region;
}

FontDef readFont(Reader& p) {
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
    return f;
}

Record Parser::parse(std::uint16_t function, std::uint32_t words, Reader p) {
    Record rec{function, NoArgs{}};
    switch (function) {
    case fn::SetBkMode:
    case fn::SetMapMode:
    case fn::SetRop2:
    case fn::SetRelAbs:
    case fn::SetPolyFillMode:
    case fn::SetStretchBltMode:
    case fn::SetTextCharExtra:
    case fn::SetTextAlign:
        rec.payload = Value{p.u16()};
        break;
    case fn::RestoreDC:
        rec.payload = Value{p.i16()};
        break;
    case fn::SetBkColor:
    case fn::SetTextColor:
        rec.payload = Value{static_cast<std::int32_t>(readColor(p))};
        break;
    case fn::SaveDC:
    case fn::RealizePalette:
        break;
    case fn::SelectObject:
    case fn::DeleteObject:
    case fn::SelectPalette:
    case fn::SelectClipRegion: {
        const int index = objectIndex(p);
        if (function == fn::DeleteObject)
            slots_[static_cast<std::size_t>(index)] = false;
        rec.payload = Value{index};
        break;
    }
    case fn::SetWindowOrg:
    case fn::SetWindowExt:
    case fn::SetViewportOrg:
    case fn::SetViewportExt:
    case fn::OffsetWindowOrg:
    case fn::OffsetViewportOrg:
    case fn::LineTo:
    case fn::MoveTo:
    case fn::OffsetClipRgn:
        rec.payload = Point{readPointYX(p)};
        break;
    case fn::ScaleWindowExt:
    case fn::ScaleViewportExt: {
        Scale s;
        s.yDenom = p.i16();
        s.yNum = p.i16();
        s.xDenom = p.i16();
        s.xNum = p.i16();
        rec.payload = s;
        break;
    }
    case fn::ExcludeClipRect:
    case fn::IntersectClipRect:
    case fn::Ellipse:
    case fn::Rectangle:
        rec.payload = readBox(p);
        break;
    case fn::RoundRect: {
        const int h = p.i16();
        const int w = p.i16();
        Box b = readBox(p);
        b.a = QPoint(w, h);
        rec.payload = b;
        break;
    }
    case fn::Arc:
    case fn::Pie:
    case fn::Chord: {
        const QPoint end = readPointYX(p);
        const QPoint start = readPointYX(p);
        Box b = readBox(p);
        b.a = start;
        b.b = end;
        rec.payload = b;
        break;
    }
    case fn::SetPixel: {
        Pixel px;
        px.color = readColor(p);
        px.p = readPointYX(p);
        rec.payload = px;
        break;
    }
    case fn::Polygon:
    case fn::Polyline: {
        const int n = p.u16();
        rec.payload = std::make_shared<const Poly>(Poly{readPoints(p, n), {}});
        break;
    }
    case fn::PolyPolygon: {
        const int polygons = p.u16();
        p.require(std::size_t(polygons) * 2, "polygon counts");
        Poly poly;
        std::int64_t total = 0;
        for (int i = 0; i < polygons; ++i) {
            poly.counts.push_back(p.u16());
            total += poly.counts.back();
        }
        poly.points = readPoints(p, total);
        rec.payload = std::make_shared<const Poly>(std::move(poly));
        break;
    }
    case fn::TextOut: {
        Text t;
        const int length = p.i16();
        if (length < 0)
            fail("negative text length");
        // Text is padded to a whole number of words.
        const std::size_t padded = std::size_t(length) + std::size_t(length & 1);
        p.require(padded, "text");
        t.bytes = QByteArray(reinterpret_cast<const char*>(p.current()), length);
        p.skip(padded);
        t.p = readPointYX(p);
        rec.payload = std::make_shared<const Text>(std::move(t));
        break;
    }
    case fn::ExtTextOut: {
        Text t;
        t.p = readPointYX(p);
        const int length = p.i16();
        if (length < 0)
            fail("negative text length");
        t.options = p.u16();
        if (t.options & 0x0006) { // opaque or clipped: a rectangle follows
            Box r;
            r.left = p.i16();
            r.top = p.i16();
            r.right = p.i16();
            r.bottom = p.i16();
            t.rect = r;
        }
        p.require(std::size_t(length), "text");
        t.bytes = QByteArray(reinterpret_cast<const char*>(p.current()), length);
        p.skip(std::size_t(length));
        if ((length & 1) && p.remaining() > 0)
            p.skip(1);
        // Character advances are optional; when present there is one per byte.
        if (p.remaining() >= std::size_t(length) * 2) {
            for (int i = 0; i < length; ++i)
                t.dx.push_back(p.i16());
        }
        rec.payload = std::make_shared<const Text>(std::move(t));
        break;
    }
    case fn::PatBlt:
    case fn::BitBlt:
    case fn::StretchBlt:
    case fn::DibBitBlt:
    case fn::DibStretchBlt:
    case fn::StretchDib:
    case fn::SetDibToDev:
        return blit(function, words, p);
    case fn::FillRegion: {
        RegionUse u;
        u.region = objectIndex(p);
        u.brush = objectIndex(p);
        rec.payload = u;
        break;
    }
    case fn::FrameRegion: {
        RegionUse u;
        u.region = objectIndex(p);
        u.brush = objectIndex(p);
        u.height = p.i16();
        u.width = p.i16();
        rec.payload = u;
        break;
    }
    case fn::PaintRegion:
    case fn::InvertRegion: {
        RegionUse u;
        u.region = objectIndex(p);
        rec.payload = u;
        break;
    }
    case fn::CreatePenIndirect: {
        PenDef pen;
        pen.style = p.u16();
        pen.width = p.i16();
        p.i16(); // the height of the width point is unused
        pen.color = readColor(p);
        create(rec, pen);
        break;
    }
    case fn::CreateBrushIndirect: {
        BrushDef brush;
        brush.style = p.u16();
        brush.color = readColor(p);
        brush.hatch = p.u16();
        create(rec, brush);
        break;
    }
    case fn::DibCreatePatternBrush: {
        const std::uint16_t style = p.u16();
        const bool paletteIndices = style != BsPattern && p.u16() == 1;
        if (style == BsPattern)
            p.u16();
        BrushDef brush;
        brush.style = kBsDibPattern;
        brush.pattern = decodeDib(p.sub(p.remaining()), paletteIndices, budget_).image;
        create(rec, brush);
        break;
    }
    case fn::CreatePatternBrush: {
        BrushDef brush;
        // Header with a 4-byte bits field, then 18 bytes of nothing, then pixels.
        brush.pattern = decodeBitmap16(p.sub(p.remaining()), 4 + 18, budget_);
        brush.style = brush.pattern.isNull() ? std::uint16_t(BsSolid) : kBsDibPattern;
        brush.color = 0x808080;
        create(rec, brush);
        break;
    }
    case fn::CreateFontIndirect:
        create(rec, readFont(p));
        break;
    case fn::CreatePalette: {
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
        create(rec, palette);
        break;
    }
    case fn::CreateRegion:
        create(rec, readRegion(p));
        break;
    default:
        break;
    }
    return rec;
}

// Records read but not drawn: palette animation, escapes (which carry data
// for other programs), flood fills (which need the device's pixels).
bool isModelled(std::uint16_t function) {
    switch (function) {
    case fn::SetPalEntries:
    case fn::ResizePalette:
    case fn::AnimatePalette:
    case fn::Escape:
    case fn::SetLayout:
    case fn::SetMapperFlags:
    case fn::SetTextJustification:
    case fn::FloodFill:
    case fn::ExtFloodFill:
        return false;
    default:
        return true;
    }
}

bool isDrawing(std::uint16_t function) {
    switch (function) {
    case fn::LineTo:
    case fn::Polyline:
    case fn::Polygon:
    case fn::PolyPolygon:
    case fn::Rectangle:
    case fn::RoundRect:
    case fn::Ellipse:
    case fn::Arc:
    case fn::Pie:
    case fn::Chord:
    case fn::SetPixel:
    case fn::TextOut:
    case fn::ExtTextOut:
    case fn::PatBlt:
    case fn::BitBlt:
    case fn::StretchBlt:
    case fn::DibBitBlt:
    case fn::DibStretchBlt:
    case fn::StretchDib:
    case fn::SetDibToDev:
    case fn::FillRegion:
    case fn::FrameRegion:
    case fn::PaintRegion:
    case fn::InvertRegion:
        return true;
    default:
        return false;
    }
}

// The frame of a plain metafile: the window in force when drawing starts, or
// failing that the first extent it ever sets. When the file also sets its
// viewport by then, the picture is that viewport, as on the device it was
// made for. Empty when no window extent is set at all.
void findPlainFrame(Document& doc) {
    QPoint org;
    QPoint viewportOrg;
    std::optional<QSize> ext;
    std::optional<QSize> viewportExt;
    bool drawn = false;
    for (const Record& rec : doc.records) {
        if (isDrawing(rec.function)) {
            drawn = true;
            if (ext)
                break;
            continue;
        }
        const Point* arg = std::get_if<Point>(&rec.payload);
        if (!arg)
            continue;
        const QPoint p = arg->p;
        if (rec.function == fn::SetWindowOrg) {
            org = p;
        } else if (rec.function == fn::SetViewportOrg) {
            viewportOrg = p;
        } else if (rec.function == fn::SetViewportExt && p.x() != 0 && p.y() != 0) {
            viewportExt = QSize(p.x(), p.y());
        } else if (rec.function == fn::SetWindowExt && p.x() != 0 && p.y() != 0) {
            ext = QSize(p.x(), p.y());
            if (drawn)
                break;
        }
    }
    if (!ext)
        return;
    doc.windowOrg = org;
    doc.windowExt = *ext;
    if (viewportExt) {
        const QSize v = *viewportExt;
        doc.frame = QRect(QPoint(std::min(viewportOrg.x(), viewportOrg.x() + v.width()),
                                 std::min(viewportOrg.y(), viewportOrg.y() + v.height())),
                          QSize(std::abs(v.width()), std::abs(v.height())));
    } else {
        doc.frame = QRect(0, 0, std::abs(ext->width()), std::abs(ext->height()));
    }
    doc.ownSize = plainOwnSize(doc.frame.size());
}

QSize boundedSize(double w, double h, double minSide, double maxSide) {
    const double longer = std::max(w, h);
    double scale = 1;
    if (longer > maxSide)
        scale = maxSide / longer;
    else if (longer < minSide)
        scale = minSide / longer;
    return QSize(std::max(1, static_cast<int>(std::lround(w * scale))),
                 std::max(1, static_cast<int>(std::lround(h * scale))));
}

} // namespace

QSize plainOwnSize(QSize frame) {
    return boundedSize(frame.width(), frame.height(), kMinPlainSide, kMaxPlainSide);
}

bool hasMetafileHeader(const QByteArray& bytes) {
    Reader r = readerOf(bytes);
    if (r.remaining() >= kPlaceableSize + kHeaderSize && r.u32() == kPlaceableKey) {
        r.seek(kPlaceableSize);
        return isPlainHeader(r);
    }
    r.seek(0);
    return isPlainHeader(r);
}

Document parseDocument(const QByteArray& bytes) {
    Reader r = readerOf(bytes);
    Document doc;
    QRect bbox;
    if (r.remaining() >= 4 && r.u32() == kPlaceableKey) {
        r.u16(); // handle
        const int left = r.i16();
        const int top = r.i16();
        const int right = r.i16();
        const int bottom = r.i16();
        const int inch = r.u16();
        r.skip(4 + 2); // reserved, checksum
        doc.placeable = true;
        doc.unitsPerInch = inch > 0 ? inch : 1440;
        bbox = QRect(QPoint(std::min(left, right), std::min(top, bottom)),
                     QSize(std::abs(right - left), std::abs(bottom - top)));
    } else {
        r.seek(0);
    }
    const std::size_t headerStart = r.position();
    if (!isPlainHeader(r.sub(std::min(r.remaining(), kHeaderSize))))
        fail("no metafile header");
    r.seek(headerStart + 6);
    r.u32(); // size in words, not needed: records end with the end record
    doc.objectCount = r.u16();
    if (doc.objectCount > kMaxObjects)
        fail("object table too large");
    r.u32(); // largest record
    r.u16(); // unused

    Parser parser(doc.objectCount);
    int count = 0;
    for (;;) {
        if (r.remaining() < 6)
            fail("the metafile ends without its end record");
        const std::uint32_t words = r.u32();
        const std::uint16_t function = r.u16();
        if (words < 3 || (words - 3) > r.remaining() / 2)
            fail("record size does not fit the file");
        Reader params = r.sub(std::size_t(words - 3) * 2);
        if (function == fn::Eof)
            break;
        if (++count > kMaxRecords)
            fail("too many records");
        if (!isModelled(function))
            continue;
        Record rec = parser.parse(function, words, params);
        if (!std::holds_alternative<NoArgs>(rec.payload) || function == fn::SaveDC ||
            function == fn::RealizePalette)
            doc.records.push_back(std::move(rec));
    }

    if (doc.placeable && !bbox.isEmpty()) {
        doc.frame = bbox;
        doc.windowOrg = bbox.topLeft();
        doc.windowExt = bbox.size();
        doc.ownSize = boundedSize(bbox.width() * 96.0 / doc.unitsPerInch,
                                  bbox.height() * 96.0 / doc.unitsPerInch, 1, kMaxOwnSide);
    } else {
        findPlainFrame(doc);
    }
    return doc;
}

} // namespace pictolune::wmf
