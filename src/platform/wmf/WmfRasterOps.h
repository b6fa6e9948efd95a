#pragma once

#include <QColor>
#include <QPainter>

#include <cstdint>

namespace pictolune::wmf {

// How a raster operation of a source (pen, brush or bitmap) and the
// destination is drawn: a composition mode, sometimes with the source
// replaced by a fixed colour, or nothing at all.
struct RasterOp {
    enum Colour { Keep, Black, White };
    bool skip = false; // leaves the destination as it is
    QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
    Colour colour = Keep;

    // Bitwise operations are defined on whole pixels, so they are drawn
    // without smoothing: a partly covered pixel would not combine as the
    // writer meant (exclusive-or twice must give the pixel back).
    bool bitwise() const { return mode != QPainter::CompositionMode_SourceOver; }
    QColor apply(const QColor& c) const {
        return colour == Black ? QColor(Qt::black) : colour == White ? QColor(Qt::white) : c;
    }
};

// The operation of a two-operand code (SetROP2, 1 to 16); anything else
// copies.
RasterOp rop2Op(int code);
// The operation of a three-operand code's index byte that does not use the
// source (a fill with the brush), and of one that does not use the brush (a
// bitmap).
RasterOp patternOp(int code);
RasterOp sourceOp(int code);
// True when the index byte uses the source at all.
inline bool usesSource(int code) {
    return ((code >> 2) & 0x33) != (code & 0x33);
}
// True when the index byte uses the pattern (the brush) at all.
inline bool usesPattern(int code) {
    return ((code >> 4) & 0x0F) != (code & 0x0F);
}

} // namespace pictolune::wmf
