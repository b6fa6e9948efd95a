#pragma once

// The player's parts, shared by the files that play each concern's records.

#include "platform/wmf/WmfPlayer.h"
#include "platform/wmf/WmfRecords.h"

#include <QBrush>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QRegion>
#include <QTransform>

#include <optional>
#include <tuple>
#include <vector>

namespace pictolune::wmf {

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
enum BrushStyle { BsSolid = 0, BsNull, BsHatched, BsPattern, BsDibPattern = 5, BsDibPatternPt };
// The two-operand codes that exclusive-or gradients use.
enum Rop2Code { R2XorPen = 7, R2CopyPen = 13 };

// Geometry that reaches this far from the output is not drawn: no real
// picture puts anything there and the rasteriser would only lose time on it.
inline constexpr double kFarAway = 1 << 24;

bool near(const QRectF& r);
QRectF boxRect(const Box& b);

// A payload of the wrong kind or an object index past the table could only
// come from a parser fault; either ends the playback.
struct Inconsistent {};

template <class T> const T& arg(const Record& rec) {
    if (const T* payload = std::get_if<T>(&rec.payload))
        return *payload;
    throw Inconsistent{};
}

template <class T> const T& boxed(const Record& rec) {
    const auto& payload = arg<std::shared_ptr<const T>>(rec);
    if (!payload)
        throw Inconsistent{};
    return *payload;
}

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
    int rop2 = R2CopyPen;
    int stretchMode = 1;
    std::optional<QRegion> clip;
};

// Device context and mapping: the state that records set, the transform
// from logical units to the output's pixels, and the clip region.
class DeviceContext {
public:
    DeviceContext(const Mapping& start, const Output& out, double unitsPerInch);

    DcState s;

    // Logical units to output pixels; call updateTransform() after changing
    // the mapping in `s`.
    const QTransform& transform() const { return t_; }
    void updateTransform();
    double scaleX() const;
    double scaleY() const;

    void save();
    void restore(int n);

    void setClip(std::optional<QRegion> clip);
    void clipRect(const Box& b, bool exclude);
    void offsetClip(QPoint by);
    QRegion regionPixels(const RegionDef& region) const;
    // Brings the painter's clip up to date with the device context.
    void applyClip(QPainter& painter);
    // The painter's clip was changed behind the device context's back.
    void clipChanged() { clipDirty_ = true; }

    // A colour reference, through the selected palette where it says so.
    QColor color(std::uint32_t ref) const;

private:
    Output out_;
    double unitsPerInch_;
    std::vector<DcState> saved_;
    QTransform t_;
    bool clipDirty_ = true;
};

// The object table, and the pens and brushes that Qt draws with made from
// its objects.
class Objects {
public:
    explicit Objects(int count) : slots_(std::size_t(count)) {}

    std::shared_ptr<const ObjectDef>& at(int index);
    // A new object takes the lowest free slot.
    void add(std::shared_ptr<const ObjectDef> object);

    QPen pen(const DeviceContext& dc, double pixelScale, double maxWidth) const;
    QBrush brush(const DeviceContext& dc, double pixelScale, const BrushDef& def) const;

private:
    QBrush hatchBrush(const DeviceContext& dc, double pixelScale, int hatch, const QColor& c) const;
    QBrush patternBrush(double pixelScale, const QImage& pattern) const;

    std::vector<std::shared_ptr<const ObjectDef>> slots_;
    // Fills in a row mostly share one hatch or pattern; its tile is made once.
    using HatchKey = std::tuple<int, QRgb, QRgb>;
    mutable std::optional<std::pair<HatchKey, QBrush>> hatchCache_;
    mutable std::optional<std::pair<qint64, QBrush>> patternCache_;
};

// One shape as the device context draws it: the path in output pixels, the
// brush that fills it and the pen that outlines it, and where the pen's
// dashes leave gaps, the pen that fills them.
struct Shape {
    QPainterPath path;
    QBrush brush;
    QPen pen;
    QPen gap;
    std::optional<QRegion> clip;
    int rop2 = R2CopyPen;
    bool operator==(const Shape& o) const {
        return path == o.path && brush == o.brush && pen == o.pen && clip == o.clip &&
               rop2 == o.rop2;
    }
};

// Some writers draw a gradient as bands XORed onto the picture, the shape
// filled black, and the same bands XORed again: each pixel inside the shape
// ends as its band's colour, each outside as it was. Drawn literally with
// smoothing the thin bands do not cancel, so the bands are held back until
// the sequence is complete and then drawn once, clipped to the shape.
struct XorGradient {
    std::vector<Shape> first;
    std::optional<Shape> shape; // the black fill between the two passes
    std::vector<Shape> second;
    bool empty() const { return first.empty(); }
};

// Plays a document's records onto a painter. Each record kind's play
// function reaches into the part it concerns.
struct Player {
    Player(const Document& doc, QPainter& painter, const Mapping& start, const Output& out);
    void run();

    // Drawing (WmfDrawing.cpp): a path filled with the brush and outlined
    // with the pen, as the raster operation says.
    void draw(const QPainterPath& path, bool fill, bool stroke);
    void fillWith(const QPainterPath& path, const QBrush& brush);
    // Every record that puts something on the output calls this first: it
    // draws what an exclusive-or gradient held back and brings the clip up
    // to date.
    void beginOutput();
    // Draws what an exclusive-or gradient held back.
    void flushXor();

    QPen pen() const { return objects.pen(dc, out.pixelScale, maxPenWidth); }
    QBrush brush(const BrushDef& def) const { return objects.brush(dc, out.pixelScale, def); }

    const Document& doc;
    QPainter& painter;
    const Output out;
    DeviceContext dc;
    Objects objects;
    XorGradient xorGradient;
    double maxPenWidth = 1;
    double maxFontPixels = 1;
    double dpi = 96;

private:
    void paint(const Shape& shape);
    void useClip(const std::optional<QRegion>& clip);
    bool holdForXor(const Shape& shape);
    bool paintGradient(const XorGradient& g);
};

} // namespace pictolune::wmf
