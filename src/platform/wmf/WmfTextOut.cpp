// Text: the records that draw text, in the selected font and colours.
#include "platform/wmf/WmfParser.h"
#include "platform/wmf/WmfPlayback.h"
#include "platform/wmf/WmfRecordKinds.h"
#include "platform/wmf/WmfText.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>

namespace pictolune::wmf {

namespace {

enum TextAlign { TaUpdateCp = 1, TaRight = 2, TaCenter = 6, TaBottom = 8, TaBaseline = 24 };
enum TextOptions { EtoOpaque = 2, EtoClipped = 4 };

Payload parseTextOut(Parser&, Reader& p) {
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
    return std::make_shared<const Text>(std::move(t));
}

Payload parseExtTextOut(Parser&, Reader& p) {
    Text t;
    t.p = readPointYX(p);
    const int length = p.i16();
    if (length < 0)
        fail("negative text length");
    t.options = p.u16();
    if (t.options & (EtoOpaque | EtoClipped)) { // a rectangle follows
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
    return std::make_shared<const Text>(std::move(t));
}

void text(Player& pl, const Record& rec) {
    const Text& t = boxed<Text>(rec);
    DeviceContext& dc = pl.dc;
    QPainter& painter = pl.painter;
    const QTransform& tr = dc.transform();
    const bool useCp = dc.s.textAlign & TaUpdateCp;
    const QPointF origin = tr.map(useCp ? dc.s.position : QPointF(t.p));
    if (!near(QRectF(origin, QSizeF(1, 1))))
        return;
    pl.beginOutput();
    painter.save();
    if (t.rect) {
        QPainterPath box;
        box.addRect(boxRect(*t.rect));
        box = tr.map(box);
        if (near(box.controlPointRect())) {
            if (t.options & EtoOpaque)
                painter.fillPath(box, dc.color(dc.s.bkColor));
            if ((t.options & EtoClipped) && !pl.out.measuring)
                painter.setClipPath(box, Qt::IntersectClip);
        }
    }

    const FontDef& def = dc.s.font;
    const SymbolFont symbols = symbolFont(def.face);
    const QString str = symbols == SymbolFont::None ? decodeText(t.bytes, def.charset)
                                                    : symbolText(t.bytes, symbols);
    QFont font = makeFont(def, 12, pl.dpi);
    double em = 12 * pl.out.pixelScale;
    if (def.height < 0)
        em = -double(def.height) * dc.scaleY();
    else if (def.height > 0)
        em = def.height * dc.scaleY() / cellToEmRatio(font);
    if (str.isEmpty() || em < 0.5 || em > pl.maxFontPixels) {
        painter.restore();
        return;
    }
    font = makeFont(def, em, pl.dpi);
    QFontMetricsF fm(font, painter.device());
    if (def.width != 0 && fm.averageCharWidth() > 0) {
        const double wanted = std::abs(def.width) * dc.scaleX();
        font.setStretch(std::clamp(
            static_cast<int>(std::lround(100 * wanted / fm.averageCharWidth())), 25, 400));
        fm = QFontMetricsF(font, painter.device());
    }

    // Advances given by the record place each character; otherwise the font
    // does. A character outside the basic plane takes two units of a string.
    const QList<uint> characters = str.toUcs4();
    const bool useDx = !t.dx.empty() && characters.size() == t.bytes.size();
    std::vector<double> xs;
    double width = 0;
    if (useDx) {
        for (qsizetype i = 0; i < characters.size(); ++i) {
            xs.push_back(width);
            width += t.dx[std::size_t(i)] * dc.scaleX();
        }
    } else {
        width = fm.horizontalAdvance(str);
    }
    double x0 = 0;
    if ((dc.s.textAlign & TaCenter) == TaCenter)
        x0 = -width / 2;
    else if (dc.s.textAlign & TaRight)
        x0 = -width;
    double baseline = fm.ascent();
    if ((dc.s.textAlign & TaBaseline) == TaBaseline)
        baseline = 0;
    else if (dc.s.textAlign & TaBottom)
        baseline = -fm.descent();

    painter.translate(origin);
    painter.rotate(-def.escapement / 10.0);
    if (dc.s.bkMode == Opaque)
        painter.fillRect(QRectF(x0, baseline - fm.ascent(), width, fm.ascent() + fm.descent()),
                         dc.color(dc.s.bkColor));
    painter.setFont(font);
    painter.setPen(dc.color(dc.s.textColor));
    if (useDx) {
        for (qsizetype i = 0; i < characters.size(); ++i) {
            const char32_t c = characters[i];
            painter.drawText(QPointF(x0 + xs[std::size_t(i)], baseline), QString::fromUcs4(&c, 1));
        }
    } else {
        painter.drawText(QPointF(x0, baseline), str);
    }
    const QPointF end = painter.transform().map(QPointF(x0 + width, 0));
    const QPointF begin = painter.transform().map(QPointF(x0, 0));
    painter.restore();

    if (useCp && tr.isInvertible()) {
        const bool right = (dc.s.textAlign & TaCenter) == TaRight;
        if ((dc.s.textAlign & TaCenter) != TaCenter)
            dc.s.position = tr.inverted().map(right ? begin : end);
    }
}

constexpr RecordKind kRecords[] = {
    {fn::TextOut, true, parseTextOut, text},
    {fn::ExtTextOut, true, parseExtTextOut, text},
};

} // namespace

std::span<const RecordKind> textRecords() {
    return kRecords;
}

} // namespace pictolune::wmf
