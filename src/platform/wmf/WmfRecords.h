#pragma once

#include <QByteArray>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QRgb>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

namespace pictolune::wmf {

// Function numbers of the records that are played.
namespace fn {
enum : std::uint16_t {
    Eof = 0x0000,
    SaveDC = 0x001E,
    SetBkMode = 0x0102,
    SetMapMode = 0x0103,
    SetRop2 = 0x0104,
    SetPolyFillMode = 0x0106,
    SetStretchBltMode = 0x0107,
    RestoreDC = 0x0127,
    InvertRegion = 0x012A,
    PaintRegion = 0x012B,
    SelectClipRegion = 0x012C,
    SelectObject = 0x012D,
    SetTextAlign = 0x012E,
    DibCreatePatternBrush = 0x0142,
    DeleteObject = 0x01F0,
    CreatePatternBrush = 0x01F9,
    SetBkColor = 0x0201,
    SetTextColor = 0x0209,
    SetWindowOrg = 0x020B,
    SetWindowExt = 0x020C,
    SetViewportOrg = 0x020D,
    SetViewportExt = 0x020E,
    OffsetWindowOrg = 0x020F,
    OffsetViewportOrg = 0x0211,
    LineTo = 0x0213,
    MoveTo = 0x0214,
    OffsetClipRgn = 0x0220,
    FillRegion = 0x0228,
    SelectPalette = 0x0234,
    CreatePenIndirect = 0x02FA,
    CreateFontIndirect = 0x02FB,
    CreateBrushIndirect = 0x02FC,
    Polygon = 0x0324,
    Polyline = 0x0325,
    ScaleWindowExt = 0x0410,
    ScaleViewportExt = 0x0412,
    ExcludeClipRect = 0x0415,
    IntersectClipRect = 0x0416,
    Ellipse = 0x0418,
    Rectangle = 0x041B,
    SetPixel = 0x041F,
    FrameRegion = 0x0429,
    TextOut = 0x0521,
    PolyPolygon = 0x0538,
    RoundRect = 0x061C,
    PatBlt = 0x061D,
    CreateRegion = 0x06FF,
    Arc = 0x0817,
    Pie = 0x081A,
    Chord = 0x0830,
    BitBlt = 0x0922,
    DibBitBlt = 0x0940,
    ExtTextOut = 0x0A32,
    StretchBlt = 0x0B23,
    DibStretchBlt = 0x0B41,
    SetDibToDev = 0x0D33,
    StretchDib = 0x0F43,
    CreatePalette = 0x00F7,
};
} // namespace fn

// Graphics objects, as created by the records that fill the object table.
struct PenDef {
    std::uint16_t style = 0;
    int width = 0; // logical units; 0 means one pixel
    std::uint32_t color = 0;
};

struct BrushDef {
    std::uint16_t style = 0;
    std::uint32_t color = 0;
    std::uint16_t hatch = 0;
    QImage pattern; // for pattern brushes
};

struct FontDef {
    int height = 0; // logical units; negative gives the character height
    int width = 0;
    int escapement = 0; // tenths of a degree, counter-clockwise
    int weight = 400;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    std::uint8_t charset = 0;
    std::uint8_t pitchAndFamily = 0;
    QString face;
};

struct PaletteDef {
    std::vector<QRgb> colors;
};

struct RegionDef {
    std::vector<QRect> rects; // logical units, right and bottom exclusive
};

using ObjectDef = std::variant<PenDef, BrushDef, FontDef, PaletteDef, RegionDef>;

// Payloads of the records, each shared by the functions that carry the same
// kind of parameters; Record::function tells which one it is.
struct NoArgs {};
struct Value {
    std::int32_t v = 0;
};
struct Point {
    QPoint p;
};
struct Scale {
    int xNum = 1, xDenom = 1, yNum = 1, yDenom = 1;
};
// Rectangle-based shapes and clip rectangles. `a` and `b` are the radials of
// arcs, pies and chords, or the corner size of a rounded rectangle.
struct Box {
    int left = 0, top = 0, right = 0, bottom = 0;
    QPoint a, b;
};
struct Poly {
    std::vector<QPoint> points;
    std::vector<int> counts; // points per polygon of a poly-polygon
};
struct Pixel {
    QPoint p;
    std::uint32_t color = 0;
};
struct Text {
    QPoint p;
    QByteArray bytes;
    std::uint16_t options = 0;
    std::optional<Box> rect;
    std::vector<int> dx;
};
// Block transfers. Without an image the brush is the source, as for PatBlt.
struct Blit {
    std::uint32_t rop = 0;
    int x = 0, y = 0, w = 0, h = 0;             // destination, logical units
    int srcX = 0, srcY = 0, srcW = 0, srcH = 0; // source, bitmap pixels
    QImage image;
};
struct Create {
    std::shared_ptr<const ObjectDef> object;
};
struct RegionUse {
    int region = 0;
    int brush = 0;
    int width = 0, height = 0;
};

// The larger payloads live on the heap so that the many small records stay small.
using Payload = std::variant<NoArgs, Value, Point, Scale, Box, Pixel, Create, RegionUse,
                             std::shared_ptr<const Poly>, std::shared_ptr<const Text>,
                             std::shared_ptr<const Blit>>;

class Parser;
class Reader;
struct Player;
struct Record;

// Everything known about one kind of record: how its parameters are read and
// how it is played. Each kind is listed once, in the table of its concern
// (WmfRecordKinds.h).
struct RecordKind {
    std::uint16_t function = 0;
    bool draws = false; // puts something on the output
    Payload (*parse)(Parser& parser, Reader& params) = nullptr;
    void (*play)(Player& player, const Record& rec) = nullptr;
};

struct Record {
    const RecordKind* kind = nullptr;
    Payload payload;
};

// A whole parsed metafile. The picture's frame is given in "device units":
// the placeable header's units, or for a plain metafile the units of its
// window. Playback starts with the window and viewport both on the frame.
struct Document {
    bool placeable = false;
    QRect frame;
    QPoint windowOrg;
    QSize windowExt;
    double unitsPerInch = 96;
    QSize ownSize;
    int objectCount = 0;
    std::vector<Record> records;
};

} // namespace pictolune::wmf
