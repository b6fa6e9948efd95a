#pragma once

#include "platform/wmf/WmfDib.h"
#include "platform/wmf/WmfReader.h"
#include "platform/wmf/WmfRecords.h"

#include <QByteArray>

#include <vector>

namespace pictolune::wmf {

inline constexpr std::uint32_t kPlaceableKey = 0x9AC6CDD7;

// True when the bytes start with a placeable header or a plain metafile
// header.
bool hasMetafileHeader(const QByteArray& bytes);

// Reads and checks a whole metafile: headers, every record, the object
// table's use and the limits. Raises LoadError for anything malformed.
//
// A plain metafile whose records never set a window extent comes back with
// an empty frame; its extent can only be found by playing it.
Document parseDocument(const QByteArray& bytes);

// The own size of a plain metafile whose frame is `frame`.
QSize plainOwnSize(QSize frame);

// What reading one record may need beyond its own parameters: the checks
// that span records (the object table's slots, the points over all polygons,
// the bitmap budget).
class Parser {
public:
    explicit Parser(int objectCount);

    // A new object takes the lowest free slot of the table.
    Payload create(ObjectDef def);
    // Reads an object index and checks it against the table.
    int objectIndex(Reader& p);
    void release(int index);
    // Reads `n` points (x before y) and counts them against the limit.
    std::vector<QPoint> readPoints(Reader& p, std::int64_t n);
    PixelBudget& pixels() { return budget_; }

private:
    std::vector<bool> slots_;
    std::int64_t points_ = 0;
    PixelBudget budget_;
};

// The parameter layouts that many records share. Records store their
// parameters last to first, so a box reads bottom, right, top, left.
Box readBox(Reader& p);
QPoint readPointYX(Reader& p);
Payload parseNothing(Parser& parser, Reader& p);
Payload parseU16(Parser& parser, Reader& p);
Payload parseI16(Parser& parser, Reader& p);
Payload parseU32(Parser& parser, Reader& p);
Payload parsePoint(Parser& parser, Reader& p);
Payload parseBox(Parser& parser, Reader& p);
Payload parseObjectIndex(Parser& parser, Reader& p);

} // namespace pictolune::wmf
