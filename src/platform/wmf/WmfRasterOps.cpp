#include "platform/wmf/WmfRasterOps.h"

#include <array>

namespace pictolune::wmf {

namespace {

using C = QPainter::CompositionMode;

// The sixteen functions of a source S and destination D, indexed by their
// truth table: bit 3 for S=1 D=1, bit 2 for S=1 D=0, bit 1 for S=0 D=1, bit 0
// for S=0 D=0.
constexpr std::array<RasterOp, 16> kOps = {{
    {false, C::CompositionMode_SourceOver, RasterOp::Black}, // 0
    {false, C::RasterOp_NotSourceAndNotDestination, RasterOp::Keep},
    {false, C::RasterOp_NotSourceAndDestination, RasterOp::Keep},
    {false, C::RasterOp_NotSource, RasterOp::Keep},
    {false, C::RasterOp_SourceAndNotDestination, RasterOp::Keep},
    {false, C::RasterOp_NotDestination, RasterOp::Keep},
    {false, C::RasterOp_SourceXorDestination, RasterOp::Keep},
    {false, C::RasterOp_NotSourceOrNotDestination, RasterOp::Keep},
    {false, C::RasterOp_SourceAndDestination, RasterOp::Keep},
    {false, C::RasterOp_NotSourceXorDestination, RasterOp::Keep},
    {true, C::CompositionMode_SourceOver, RasterOp::Keep}, // D
    {false, C::RasterOp_NotSourceOrDestination, RasterOp::Keep},
    {false, C::CompositionMode_SourceOver, RasterOp::Keep}, // S
    {false, C::RasterOp_SourceOrNotDestination, RasterOp::Keep},
    {false, C::RasterOp_SourceOrDestination, RasterOp::Keep},
    {false, C::CompositionMode_SourceOver, RasterOp::White}, // 1
}};

constexpr int kCopy = 12;

int bit(int code, int n) {
    return (code >> n) & 1;
}

} // namespace

RasterOp rop2Op(int code) {
    return kOps[std::size_t(code >= 1 && code <= 16 ? code - 1 : kCopy)];
}

// The index byte's bit n is the result for pattern (bit 2 of n), source
// (bit 1) and destination (bit 0).
RasterOp patternOp(int code) {
    const int table = bit(code, 5) << 3 | bit(code, 4) << 2 | bit(code, 1) << 1 | bit(code, 0);
    return kOps[std::size_t(table)];
}

RasterOp sourceOp(int code) {
    return kOps[std::size_t(code & 0x0F)];
}

} // namespace pictolune::wmf
