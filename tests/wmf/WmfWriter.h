#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace pictolune::test {

// Writes Windows Metafiles record by record, for tests and samples. Records
// are written as given, so a test can also write nonsense on purpose.
class WmfWriter {
public:
    // A placeable metafile with bounding box `bbox` in units of 1/inch.
    static WmfWriter placeable(QRect bbox, int inch = 1440);
    // A plain metafile: no physical size, just records.
    static WmfWriter plain();

    // Any record: function number and parameter words as stored.
    WmfWriter& record(std::uint16_t function, const std::vector<int>& words);
    WmfWriter& recordBytes(std::uint16_t function, const QByteArray& params);

    WmfWriter& setWindowOrg(int x, int y) { return record(0x020B, {y, x}); }
    WmfWriter& setWindowExt(int w, int h) { return record(0x020C, {h, w}); }
    WmfWriter& setViewportOrg(int x, int y) { return record(0x020D, {y, x}); }
    WmfWriter& setViewportExt(int w, int h) { return record(0x020E, {h, w}); }
    WmfWriter& offsetWindowOrg(int dx, int dy) { return record(0x020F, {dy, dx}); }
    WmfWriter& scaleWindowExt(int xNum, int xDenom, int yNum, int yDenom) {
        return record(0x0410, {yDenom, yNum, xDenom, xNum});
    }
    WmfWriter& setMapMode(int mode) { return record(0x0103, {mode}); }
    WmfWriter& saveDC() { return record(0x001E, std::vector<int>{}); }
    WmfWriter& restoreDC(int n) { return record(0x0127, {n}); }

    WmfWriter& createPen(int style, int width, QColor c);
    WmfWriter& createBrush(int style, QColor c, int hatch = 0);
    // `pitchAndFamily` as in the font record: 0x20 is a proportional sans face.
    WmfWriter& createFont(int height, int weight = 400, bool italic = false, int escapement = 0,
                          const QString& face = "DejaVu Sans", int charset = 0,
                          int pitchAndFamily = 0x20);
    WmfWriter& createPalette(const std::vector<QColor>& colors);
    WmfWriter& createPatternBrush(const QByteArray& dib);
    WmfWriter& selectObject(int index) { return record(0x012D, {index}); }
    WmfWriter& deleteObject(int index) { return record(0x01F0, {index}); }
    WmfWriter& selectPalette(int index) { return record(0x0234, {index}); }

    WmfWriter& setBkMode(int mode) { return record(0x0102, {mode}); }
    WmfWriter& setBkColor(QColor c);
    WmfWriter& setTextColor(QColor c);
    WmfWriter& setTextAlign(int align) { return record(0x012E, {align}); }
    WmfWriter& setPolyFillMode(int mode) { return record(0x0106, {mode}); }
    WmfWriter& setRop2(int rop) { return record(0x0104, {rop}); }

    WmfWriter& moveTo(int x, int y) { return record(0x0214, {y, x}); }
    WmfWriter& lineTo(int x, int y) { return record(0x0213, {y, x}); }
    WmfWriter& polyline(const std::vector<QPoint>& pts);
    WmfWriter& polygon(const std::vector<QPoint>& pts);
    WmfWriter& polyPolygon(const std::vector<std::vector<QPoint>>& polygons);
    WmfWriter& rectangle(int l, int t, int r, int b) { return record(0x041B, {b, r, t, l}); }
    WmfWriter& ellipse(int l, int t, int r, int b) { return record(0x0418, {b, r, t, l}); }
    WmfWriter& roundRect(int l, int t, int r, int b, int w, int h) {
        return record(0x061C, {h, w, b, r, t, l});
    }
    // Arc, pie (0x081A) or chord (0x0830) in box (l, t, r, b) from radial s to radial e.
    WmfWriter& arcLike(std::uint16_t function, QRect box, QPoint s, QPoint e);
    WmfWriter& setPixel(int x, int y, QColor c);
    WmfWriter& intersectClipRect(int l, int t, int r, int b) {
        return record(0x0416, {b, r, t, l});
    }
    WmfWriter& excludeClipRect(int l, int t, int r, int b) { return record(0x0415, {b, r, t, l}); }

    WmfWriter& textOut(int x, int y, const QByteArray& text);
    WmfWriter& extTextOut(int x, int y, int options, std::optional<QRect> rect,
                          const QByteArray& text, const std::vector<int>& dx = {});

    WmfWriter& patBlt(QRect dest, std::uint32_t rop);
    WmfWriter& stretchDib(QRect dest, QRect src, const QByteArray& dib,
                          std::uint32_t rop = 0x00CC0020);
    WmfWriter& dibStretchBlt(QRect dest, QRect src, const QByteArray& dib,
                             std::uint32_t rop = 0x00CC0020);
    WmfWriter& dibBitBlt(QPoint dest, QRect src, const QByteArray& dib,
                         std::uint32_t rop = 0x00CC0020);
    // The form without a bitmap: the brush is the source.
    WmfWriter& dibBitBltNoBitmap(QRect dest, std::uint32_t rop);

    // The header's object count; by default the number of objects created.
    WmfWriter& objectCount(int n) {
        objects_ = n;
        return *this;
    }

    // The finished file, with an end record.
    QByteArray bytes() const;
    // Offsets in bytes() at which records start (the end record included).
    std::vector<int> recordStarts() const;

    // A device-independent bitmap of `image` at `bpp` bits (1, 4, 8, 24, 32);
    // for 4 and 8 bits `rle` compresses the pixels. Colours of 1, 4 and 8-bit
    // bitmaps are those of the first pixels met, at most 2^bpp of them.
    static QByteArray dib(const QImage& image, int bpp, bool rle = false);

private:
    WmfWriter() = default;
    std::optional<QRect> bbox_;
    int inch_ = 1440;
    QByteArray body_;
    std::vector<int> starts_;
    int created_ = 0;
    std::optional<int> objects_;
    std::uint32_t maxRecord_ = 3;
};

inline std::uint32_t colorRef(QColor c) {
    return std::uint32_t(c.red()) | (std::uint32_t(c.green()) << 8) |
           (std::uint32_t(c.blue()) << 16);
}

} // namespace pictolune::test
