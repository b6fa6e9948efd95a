// Bitmaps: block transfers of bitmaps and of the brush, under three-operand
// raster operations.
#include "platform/wmf/WmfParser.h"
#include "platform/wmf/WmfPlayback.h"
#include "platform/wmf/WmfRasterOps.h"
#include "platform/wmf/WmfRecordKinds.h"

#include <cmath>

namespace pictolune::wmf {

namespace {

constexpr std::uint32_t kSrcCopy = 0x00CC0020;
constexpr std::uint32_t kSrcPaint = 0x00EE0086;
constexpr std::uint32_t kSrcAnd = 0x008800C6;

Payload blitPayload(Blit b) {
    return std::make_shared<const Blit>(std::move(b));
}

// The forms without a bitmap are exactly as long as their fixed fields,
// whose number of words the function number's high byte gives.
bool withoutBitmap(std::uint16_t function, const Reader& p) {
    return p.size() == std::size_t(function >> 8) * 2;
}

Payload parsePatBlt(Parser&, Reader& p) {
    Blit b;
    b.rop = p.u32();
    b.h = p.i16();
    b.w = p.i16();
    b.y = p.i16();
    b.x = p.i16();
    return blitPayload(std::move(b));
}

// The old device-dependent bitmaps; only monochrome ones have colours of
// their own, so a deeper one is nothing to draw.
Payload withBitmap16(Parser& parser, Reader& p, Blit b) {
    b.image = decodeBitmap16(p.sub(p.remaining()), 0, parser.pixels());
    if (b.image.isNull())
        return NoArgs{};
    return blitPayload(std::move(b));
}

template <std::uint16_t Function> Payload parseBitBlt(Parser& parser, Reader& p) {
    const bool bare = withoutBitmap(Function, p);
    Blit b;
    b.rop = p.u32();
    b.srcY = p.i16();
    b.srcX = p.i16();
    if (bare)
        p.u16();
    b.srcH = b.h = p.i16();
    b.srcW = b.w = p.i16();
    b.y = p.i16();
    b.x = p.i16();
    if (bare)
        return blitPayload(std::move(b));
    if (Function == fn::BitBlt)
        return withBitmap16(parser, p, std::move(b));
    b.image = decodeDib(p.sub(p.remaining()), false, parser.pixels()).image;
    return blitPayload(std::move(b));
}

template <std::uint16_t Function> Payload parseStretchBlt(Parser& parser, Reader& p) {
    const bool bare = withoutBitmap(Function, p);
    Blit b;
    b.rop = p.u32();
    b.srcH = p.i16();
    b.srcW = p.i16();
    b.srcY = p.i16();
    b.srcX = p.i16();
    if (bare)
        p.u16();
    b.h = p.i16();
    b.w = p.i16();
    b.y = p.i16();
    b.x = p.i16();
    if (bare)
        return blitPayload(std::move(b));
    if (Function == fn::StretchBlt)
        return withBitmap16(parser, p, std::move(b));
    b.image = decodeDib(p.sub(p.remaining()), false, parser.pixels()).image;
    return blitPayload(std::move(b));
}

// These two count source rows from the bottom of the bitmap as stored.
void withDib(Parser& parser, Reader& p, bool paletteIndices, Blit& b) {
    const Dib dib = decodeDib(p.sub(p.remaining()), paletteIndices, parser.pixels());
    b.image = dib.image;
    if (dib.bottomUp)
        b.srcY = b.image.height() - b.srcY - b.srcH;
}

Payload parseStretchDib(Parser& parser, Reader& p) {
    Blit b;
    b.rop = p.u32();
    const bool paletteIndices = p.u16() == 1;
    b.srcH = p.i16();
    b.srcW = p.i16();
    b.srcY = p.i16();
    b.srcX = p.i16();
    b.h = p.i16();
    b.w = p.i16();
    b.y = p.i16();
    b.x = p.i16();
    withDib(parser, p, paletteIndices, b);
    return blitPayload(std::move(b));
}

Payload parseSetDibToDev(Parser& parser, Reader& p) {
    Blit b;
    b.rop = kSrcCopy;
    const bool paletteIndices = p.u16() == 1;
    p.u16(); // scan count
    p.u16(); // first scan
    b.srcY = p.i16();
    b.srcX = p.i16();
    b.srcH = b.h = p.i16();
    b.srcW = b.w = p.i16();
    b.y = p.i16();
    b.x = p.i16();
    withDib(parser, p, paletteIndices, b);
    return blitPayload(std::move(b));
}

// A fill of the target with the brush under an operation without source.
void patBlt(Player& pl, const QRectF& target, int code) {
    const RasterOp op = patternOp(code);
    if (op.skip)
        return;
    QBrush b = pl.brush(pl.dc.s.brush);
    if (op.colour != RasterOp::Keep || op.mode == QPainter::RasterOp_NotDestination)
        b = QBrush(op.apply(Qt::white));
    if (b.style() == Qt::NoBrush)
        return;
    pl.painter.save();
    pl.painter.setCompositionMode(op.mode);
    pl.painter.fillRect(target, b);
    pl.painter.restore();
}

// The brush's colour where the source is white (0xB8) or black (0xE2);
// elsewhere the destination stays.
QImage brushThroughSource(const Player& pl, const QImage& source, int code) {
    const DcState& s = pl.dc.s;
    const QColor c = s.brush.style == BsSolid ? pl.dc.color(s.brush.color) : QColor(Qt::black);
    const QImage grey = source.convertToFormat(QImage::Format_Grayscale8);
    QImage img(grey.size(), QImage::Format_ARGB32_Premultiplied);
    if (img.isNull())
        return img;
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* in = grey.constScanLine(y);
        auto* out = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < grey.width(); ++x) {
            const int a = code == 0xB8 ? in[x] : 255 - in[x];
            out[x] = qPremultiply(qRgba(c.red(), c.green(), c.blue(), a));
        }
    }
    return img;
}

void blit(Player& pl, const Record& rec) {
    const Blit& b = boxed<Blit>(rec);
    const QTransform& t = pl.dc.transform();
    const QPointF p0 = t.map(QPointF(b.x, b.y));
    const QPointF p1 = t.map(QPointF(double(b.x) + b.w, double(b.y) + b.h));
    const QRectF target = QRectF(p0, p1).normalized();
    if (target.isEmpty() || !near(target))
        return;
    pl.beginOutput();
    const int code = static_cast<int>((b.rop >> 16) & 0xFFu);
    if (b.image.isNull() || !usesSource(code)) {
        patBlt(pl, target, code);
        return;
    }
    const QRectF wanted = QRectF(b.srcX, b.srcY, b.srcW, b.srcH).normalized();
    const QRectF src = wanted.intersected(QRectF(b.image.rect()));
    if (src.isEmpty() || wanted.isEmpty())
        return;

    QImage img = b.image;
    RasterOp op; // operations that mix brush and bitmap otherwise draw the bitmap
    if (!usesPattern(code))
        op = sourceOp(code);
    else if (code == 0xB8 || code == 0xE2)
        img = brushThroughSource(pl, img, code);
    if (op.skip || img.isNull())
        return;
    const double sx = (p1.x() - p0.x()) / wanted.width();
    const double sy = (p1.y() - p0.y()) / wanted.height();
    pl.painter.save();
    pl.painter.setCompositionMode(op.mode);
    // Enlarged bitmaps keep their pixels crisp, as on the devices they were
    // made for, unless the file asks for halftoning; reduced ones are smoothed.
    const bool enlarged = std::abs(sx) >= 1 && std::abs(sy) >= 1;
    pl.painter.setRenderHint(QPainter::SmoothPixmapTransform,
                             !enlarged || pl.dc.s.stretchMode == 4);
    pl.painter.setTransform(
        QTransform(sx, 0, 0, sy, p0.x() - wanted.left() * sx, p0.y() - wanted.top() * sy));
    pl.painter.drawImage(src.topLeft(), img, src);
    pl.painter.restore();
}

constexpr RecordKind kRecords[] = {
    {fn::PatBlt, true, parsePatBlt, blit},
    {fn::BitBlt, true, parseBitBlt<fn::BitBlt>, blit},
    {fn::DibBitBlt, true, parseBitBlt<fn::DibBitBlt>, blit},
    {fn::StretchBlt, true, parseStretchBlt<fn::StretchBlt>, blit},
    {fn::DibStretchBlt, true, parseStretchBlt<fn::DibStretchBlt>, blit},
    {fn::StretchDib, true, parseStretchDib, blit},
    {fn::SetDibToDev, true, parseSetDibToDev, blit},
};

const Blit* imageBlit(const Record& rec, std::uint32_t rop) {
    const auto* payload = std::get_if<std::shared_ptr<const Blit>>(&rec.payload);
    if (!payload || !*payload || (*payload)->rop != rop || (*payload)->image.isNull())
        return nullptr;
    return payload->get();
}

// The part of the bitmap that the transfer reads, when it lies inside.
std::optional<QRect> sourceRect(const Blit& b) {
    const QRect r(b.srcX, b.srcY, b.srcW, b.srcH);
    if (r.isEmpty() || !b.image.rect().contains(r))
        return std::nullopt;
    return r;
}

// The picture of the pair, with the mask's grey levels as its alpha (white
// is opaque), drawn over what is there.
std::optional<Blit> maskedPicture(const Blit& mask, const Blit& picture) {
    if (mask.x != picture.x || mask.y != picture.y || mask.w != picture.w || mask.h != picture.h)
        return std::nullopt;
    const auto maskRect = sourceRect(mask);
    const auto pictureRect = sourceRect(picture);
    if (!maskRect || !pictureRect)
        return std::nullopt;
    QImage alpha = mask.image.copy(*maskRect).convertToFormat(QImage::Format_Grayscale8);
    if (alpha.size() != pictureRect->size())
        alpha = alpha.scaled(pictureRect->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QImage image = picture.image.copy(*pictureRect).convertToFormat(QImage::Format_ARGB32);
    if (alpha.isNull() || image.isNull())
        return std::nullopt;
    for (int y = 0; y < image.height(); ++y) {
        const uchar* a = alpha.constScanLine(y);
        auto* px = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            px[x] = qRgba(qRed(px[x]), qGreen(px[x]), qBlue(px[x]), a[x]);
    }
    Blit joined = picture;
    joined.rop = kSrcCopy;
    joined.image = std::move(image);
    joined.srcX = 0;
    joined.srcY = 0;
    return joined;
}

} // namespace

void joinMaskedBitmaps(std::vector<Record>& records) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (i + 1 < records.size()) {
            const Blit* mask = imageBlit(records[i], kSrcPaint);
            const Blit* picture = imageBlit(records[i + 1], kSrcAnd);
            if (mask && picture) {
                if (auto joined = maskedPicture(*mask, *picture)) {
                    records[kept++] = Record{records[i + 1].kind, blitPayload(std::move(*joined))};
                    ++i;
                    continue;
                }
            }
        }
        if (kept != i)
            records[kept] = std::move(records[i]);
        ++kept;
    }
    records.resize(kept);
}

std::span<const RecordKind> bitmapRecords() {
    return kRecords;
}

} // namespace pictolune::wmf
