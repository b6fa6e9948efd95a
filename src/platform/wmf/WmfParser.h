#pragma once

#include "platform/wmf/WmfRecords.h"

#include <QByteArray>

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

} // namespace pictolune::wmf
