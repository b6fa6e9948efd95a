#include "platform/wmf/WmfParser.h"

#include "platform/wmf/WmfDib.h"
#include "platform/wmf/WmfLimits.h"
#include "platform/wmf/WmfReader.h"
#include "platform/wmf/WmfRecordKinds.h"

#include <algorithm>
#include <cmath>

namespace pictolune::wmf {

namespace {

constexpr std::size_t kPlaceableSize = 22;
constexpr std::size_t kHeaderSize = 18;

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

} // namespace

Parser::Parser(int objectCount)
    : slots_(static_cast<std::size_t>(objectCount), false), budget_{kMaxBitmapPixels} {}

Payload Parser::create(ObjectDef def) {
    auto free = std::find(slots_.begin(), slots_.end(), false);
    if (free == slots_.end())
        fail("more objects than the object table holds");
    *free = true;
    return Create{std::make_shared<const ObjectDef>(std::move(def))};
}

int Parser::objectIndex(Reader& p) {
    const int index = p.u16();
    if (static_cast<std::size_t>(index) >= slots_.size())
        fail("object index out of range");
    return index;
}

void Parser::release(int index) {
    slots_[static_cast<std::size_t>(index)] = false;
}

std::vector<QPoint> Parser::readPoints(Reader& p, std::int64_t n) {
    p.require(static_cast<std::size_t>(n) * 4, "point list");
    points_ += n;
    if (points_ > kMaxPoints)
        fail("too many points");
    std::vector<QPoint> pts;
    pts.reserve(static_cast<std::size_t>(n));
    for (std::int64_t i = 0; i < n; ++i) {
        const int x = p.i16();
        const int y = p.i16();
        pts.emplace_back(x, y);
    }
    return pts;
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

Payload parseNothing(Parser&, Reader&) {
    return NoArgs{};
}

Payload parseU16(Parser&, Reader& p) {
    return Value{p.u16()};
}

Payload parseI16(Parser&, Reader& p) {
    return Value{p.i16()};
}

Payload parseU32(Parser&, Reader& p) {
    return Value{p.i32()};
}

Payload parsePoint(Parser&, Reader& p) {
    return Point{readPointYX(p)};
}

Payload parseBox(Parser&, Reader& p) {
    return readBox(p);
}

Payload parseObjectIndex(Parser& parser, Reader& p) {
    return Value{parser.objectIndex(p)};
}

namespace {

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
        if (rec.kind->draws) {
            drawn = true;
            if (ext)
                break;
            continue;
        }
        const Point* arg = std::get_if<Point>(&rec.payload);
        if (!arg)
            continue;
        const QPoint p = arg->p;
        const std::uint16_t function = rec.kind->function;
        if (function == fn::SetWindowOrg) {
            org = p;
        } else if (function == fn::SetViewportOrg) {
            viewportOrg = p;
        } else if (function == fn::SetViewportExt && p.x() != 0 && p.y() != 0) {
            viewportExt = QSize(p.x(), p.y());
        } else if (function == fn::SetWindowExt && p.x() != 0 && p.y() != 0) {
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
        const RecordKind* kind = findRecordKind(function);
        if (!kind)
            continue;
        Record rec{kind, kind->parse(parser, params)};
        // A record that reads as nothing to do (a bitmap without colours of
        // its own, say) is not kept.
        if (kind->parse == parseNothing || !std::holds_alternative<NoArgs>(rec.payload))
            doc.records.push_back(std::move(rec));
    }
    joinMaskedBitmaps(doc.records);

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
