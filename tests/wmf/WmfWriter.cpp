#include "wmf/WmfWriter.h"

#include <map>

namespace pictolune::test {

namespace {

void put16(QByteArray& out, int v) {
    out.append(char(v & 0xFF));
    out.append(char((v >> 8) & 0xFF));
}

void put32(QByteArray& out, std::uint32_t v) {
    put16(out, int(v & 0xFFFF));
    put16(out, int(v >> 16));
}

void putColor(QByteArray& out, QColor c) {
    put32(out, colorRef(c));
}

void putPoints(QByteArray& out, const std::vector<QPoint>& pts) {
    for (const QPoint& p : pts) {
        put16(out, p.x());
        put16(out, p.y());
    }
}

void putText(QByteArray& out, const QByteArray& text) {
    out.append(text);
    if (text.size() % 2)
        out.append('\0');
}

// Run-length encodes one row of indices: repeated runs, literal runs of
// three or more, end of line.
void encodeRow(QByteArray& out, const std::vector<int>& row, bool fourBit) {
    std::size_t i = 0;
    while (i < row.size()) {
        std::size_t run = 1;
        while (i + run < row.size() && run < 254 && row[i + run] == row[i])
            ++run;
        if (run >= 2 || row.size() - i < 3) {
            out.append(char(run));
            out.append(char(fourBit ? (row[i] << 4) | row[i] : row[i]));
            i += run;
            continue;
        }
        std::size_t lit = 0;
        while (i + lit < row.size() && lit < 254 &&
               !(i + lit + 1 < row.size() && row[i + lit + 1] == row[i + lit]))
            ++lit;
        if (lit < 3) {
            out.append(char(1));
            out.append(char(fourBit ? (row[i] << 4) | row[i] : row[i]));
            ++i;
            continue;
        }
        out.append(char(0));
        out.append(char(lit));
        QByteArray data;
        for (std::size_t k = 0; k < lit; ++k) {
            if (!fourBit)
                data.append(char(row[i + k]));
            else if (k % 2 == 0)
                data.append(char(row[i + k] << 4));
            else
                data.back() = char(data.back() | row[i + k]);
        }
        if (data.size() % 2)
            data.append('\0');
        out.append(data);
        i += lit;
    }
    out.append(char(0));
    out.append(char(0));
}

} // namespace

WmfWriter WmfWriter::placeable(QRect bbox, int inch) {
    WmfWriter w;
    w.bbox_ = bbox;
    w.inch_ = inch;
    return w;
}

WmfWriter WmfWriter::plain() {
    return WmfWriter();
}

WmfWriter& WmfWriter::recordBytes(std::uint16_t function, const QByteArray& params) {
    const std::uint32_t words = 3 + std::uint32_t(params.size() + 1) / 2;
    starts_.push_back(int(body_.size()));
    put32(body_, words);
    put16(body_, function);
    body_.append(params);
    if (params.size() % 2)
        body_.append('\0');
    maxRecord_ = std::max(maxRecord_, words);
    if ((function & 0xFF) >= 0xF7 || function == 0x0142)
        ++created_;
    return *this;
}

WmfWriter& WmfWriter::record(std::uint16_t function, const std::vector<int>& words) {
    QByteArray params;
    for (int w : words)
        put16(params, w);
    return recordBytes(function, params);
}

WmfWriter& WmfWriter::createPen(int style, int width, QColor c) {
    QByteArray p;
    put16(p, style);
    put16(p, width);
    put16(p, 0);
    putColor(p, c);
    return recordBytes(0x02FA, p);
}

WmfWriter& WmfWriter::createBrush(int style, QColor c, int hatch) {
    QByteArray p;
    put16(p, style);
    putColor(p, c);
    put16(p, hatch);
    return recordBytes(0x02FC, p);
}

WmfWriter& WmfWriter::createFont(int height, int weight, bool italic, int escapement,
                                 const QString& face, int charset, int pitchAndFamily) {
    QByteArray p;
    put16(p, height);
    put16(p, 0); // width
    put16(p, escapement);
    put16(p, escapement);
    put16(p, weight);
    p.append(char(italic));
    p.append(char(0)); // underline
    p.append(char(0)); // strike-out
    p.append(char(charset));
    p.append(QByteArray(3, '\0'));
    p.append(char(pitchAndFamily));
    p.append(face.toLatin1().left(31));
    p.append('\0');
    return recordBytes(0x02FB, p);
}

WmfWriter& WmfWriter::createPalette(const std::vector<QColor>& colors) {
    QByteArray p;
    put16(p, 0x0300);
    put16(p, int(colors.size()));
    for (const QColor& c : colors) {
        p.append(char(c.red()));
        p.append(char(c.green()));
        p.append(char(c.blue()));
        p.append('\0');
    }
    return recordBytes(0x00F7, p);
}

WmfWriter& WmfWriter::createPatternBrush(const QByteArray& dib) {
    QByteArray p;
    put16(p, 5); // DIB pattern
    put16(p, 0); // colours, not palette indices
    p.append(dib);
    return recordBytes(0x0142, p);
}

WmfWriter& WmfWriter::setBkColor(QColor c) {
    QByteArray p;
    putColor(p, c);
    return recordBytes(0x0201, p);
}

WmfWriter& WmfWriter::setTextColor(QColor c) {
    QByteArray p;
    putColor(p, c);
    return recordBytes(0x0209, p);
}

WmfWriter& WmfWriter::polyline(const std::vector<QPoint>& pts) {
    QByteArray p;
    put16(p, int(pts.size()));
    putPoints(p, pts);
    return recordBytes(0x0325, p);
}

WmfWriter& WmfWriter::polygon(const std::vector<QPoint>& pts) {
    QByteArray p;
    put16(p, int(pts.size()));
    putPoints(p, pts);
    return recordBytes(0x0324, p);
}

WmfWriter& WmfWriter::polyPolygon(const std::vector<std::vector<QPoint>>& polygons) {
    QByteArray p;
    put16(p, int(polygons.size()));
    for (const auto& poly : polygons)
        put16(p, int(poly.size()));
    for (const auto& poly : polygons)
        putPoints(p, poly);
    return recordBytes(0x0538, p);
}

WmfWriter& WmfWriter::arcLike(std::uint16_t function, QRect box, QPoint s, QPoint e) {
    return record(function, {e.y(), e.x(), s.y(), s.x(), box.bottom() + 1, box.right() + 1,
                             box.top(), box.left()});
}

WmfWriter& WmfWriter::setPixel(int x, int y, QColor c) {
    QByteArray p;
    putColor(p, c);
    put16(p, y);
    put16(p, x);
    return recordBytes(0x041F, p);
}

WmfWriter& WmfWriter::textOut(int x, int y, const QByteArray& text) {
    QByteArray p;
    put16(p, int(text.size()));
    putText(p, text);
    put16(p, y);
    put16(p, x);
    return recordBytes(0x0521, p);
}

WmfWriter& WmfWriter::extTextOut(int x, int y, int options, std::optional<QRect> rect,
                                 const QByteArray& text, const std::vector<int>& dx) {
    QByteArray p;
    put16(p, y);
    put16(p, x);
    put16(p, int(text.size()));
    put16(p, options);
    if (rect) {
        put16(p, rect->left());
        put16(p, rect->top());
        put16(p, rect->right() + 1);
        put16(p, rect->bottom() + 1);
    }
    putText(p, text);
    for (int d : dx)
        put16(p, d);
    return recordBytes(0x0A32, p);
}

WmfWriter& WmfWriter::patBlt(QRect dest, std::uint32_t rop) {
    QByteArray p;
    put32(p, rop);
    put16(p, dest.height());
    put16(p, dest.width());
    put16(p, dest.top());
    put16(p, dest.left());
    return recordBytes(0x061D, p);
}

WmfWriter& WmfWriter::stretchDib(QRect dest, QRect src, const QByteArray& dib, std::uint32_t rop) {
    QByteArray p;
    put32(p, rop);
    put16(p, 0); // colours
    put16(p, src.height());
    put16(p, src.width());
    put16(p, src.top());
    put16(p, src.left());
    put16(p, dest.height());
    put16(p, dest.width());
    put16(p, dest.top());
    put16(p, dest.left());
    p.append(dib);
    return recordBytes(0x0F43, p);
}

WmfWriter& WmfWriter::dibStretchBlt(QRect dest, QRect src, const QByteArray& dib,
                                    std::uint32_t rop) {
    QByteArray p;
    put32(p, rop);
    put16(p, src.height());
    put16(p, src.width());
    put16(p, src.top());
    put16(p, src.left());
    put16(p, dest.height());
    put16(p, dest.width());
    put16(p, dest.top());
    put16(p, dest.left());
    p.append(dib);
    return recordBytes(0x0B41, p);
}

WmfWriter& WmfWriter::dibBitBlt(QPoint dest, QRect src, const QByteArray& dib, std::uint32_t rop) {
    QByteArray p;
    put32(p, rop);
    put16(p, src.top());
    put16(p, src.left());
    put16(p, src.height());
    put16(p, src.width());
    put16(p, dest.y());
    put16(p, dest.x());
    p.append(dib);
    return recordBytes(0x0940, p);
}

WmfWriter& WmfWriter::dibBitBltNoBitmap(QRect dest, std::uint32_t rop) {
    QByteArray p;
    put32(p, rop);
    put16(p, 0); // source y
    put16(p, 0); // source x
    put16(p, 0); // reserved
    put16(p, dest.height());
    put16(p, dest.width());
    put16(p, dest.top());
    put16(p, dest.left());
    return recordBytes(0x0940, p);
}

QByteArray WmfWriter::bytes() const {
    QByteArray body = body_;
    put32(body, 3);
    put16(body, 0);

    QByteArray out;
    if (bbox_) {
        QByteArray head;
        put32(head, 0x9AC6CDD7);
        put16(head, 0);
        put16(head, bbox_->left());
        put16(head, bbox_->top());
        put16(head, bbox_->right() + 1);
        put16(head, bbox_->bottom() + 1);
        put16(head, inch_);
        put32(head, 0);
        int sum = 0;
        for (int i = 0; i < head.size(); i += 2)
            sum ^= (uchar(head[i]) | (uchar(head[i + 1]) << 8));
        put16(head, sum);
        out.append(head);
    }
    put16(out, 1); // in memory
    put16(out, 9); // header words
    put16(out, 0x0300);
    put32(out, std::uint32_t(9 + body.size() / 2));
    put16(out, objects_.value_or(created_));
    put32(out, maxRecord_);
    put16(out, 0);
    out.append(body);
    return out;
}

std::vector<int> WmfWriter::recordStarts() const {
    const int header = (bbox_ ? 22 : 0) + 18;
    std::vector<int> starts;
    for (int s : starts_)
        starts.push_back(header + s);
    starts.push_back(header + int(body_.size()));
    return starts;
}

QByteArray WmfWriter::dib(const QImage& source, int bpp, bool rle) {
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    const int w = image.width();
    const int h = image.height();
    std::vector<QRgb> table;
    std::map<QRgb, int> index;
    if (bpp <= 8) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const QRgb c = image.pixel(x, y) | 0xFF000000;
                if (!index.count(c) && int(table.size()) < (1 << bpp)) {
                    index[c] = int(table.size());
                    table.push_back(c);
                }
            }
    }
    auto indexOf = [&](int x, int y) {
        auto it = index.find(image.pixel(x, y) | 0xFF000000);
        return it == index.end() ? 0 : it->second;
    };

    QByteArray bits;
    const bool compressed = rle && (bpp == 4 || bpp == 8);
    if (compressed) {
        for (int y = h - 1; y >= 0; --y) {
            std::vector<int> row;
            for (int x = 0; x < w; ++x)
                row.push_back(indexOf(x, y));
            encodeRow(bits, row, bpp == 4);
        }
        bits.append(char(0));
        bits.append(char(1));
    } else {
        const int stride = ((w * bpp + 31) / 32) * 4;
        for (int y = h - 1; y >= 0; --y) {
            QByteArray row(stride, '\0');
            for (int x = 0; x < w; ++x) {
                const QRgb c = image.pixel(x, y);
                if (bpp <= 8) {
                    const int bit = x * bpp;
                    row[bit / 8] =
                        char(uchar(row[bit / 8]) | (indexOf(x, y) << (8 - bpp - bit % 8)));
                } else {
                    const int at = x * (bpp / 8);
                    row[at] = char(qBlue(c));
                    row[at + 1] = char(qGreen(c));
                    row[at + 2] = char(qRed(c));
                }
            }
            bits.append(row);
        }
    }

    QByteArray out;
    put32(out, 40);
    put32(out, std::uint32_t(w));
    put32(out, std::uint32_t(h));
    put16(out, 1);
    put16(out, bpp);
    put32(out, compressed ? (bpp == 8 ? 1 : 2) : 0);
    put32(out, std::uint32_t(bits.size()));
    put32(out, 3780);
    put32(out, 3780);
    put32(out, bpp <= 8 ? std::uint32_t(table.size()) : 0);
    put32(out, 0);
    for (QRgb c : table) {
        out.append(char(qBlue(c)));
        out.append(char(qGreen(c)));
        out.append(char(qRed(c)));
        out.append('\0');
    }
    out.append(bits);
    return out;
}

} // namespace pictolune::test
