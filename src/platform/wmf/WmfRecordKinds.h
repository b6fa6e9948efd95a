#pragma once

#include "platform/wmf/WmfRecords.h"

#include <span>
#include <vector>

namespace pictolune::wmf {

// The record kinds, one table per concern of playback. A record whose
// function is in none of them is read past and not kept.
std::span<const RecordKind> deviceContextRecords(); // WmfDeviceContext.cpp
std::span<const RecordKind> objectRecords();        // WmfObjects.cpp
std::span<const RecordKind> drawingRecords();       // WmfDrawing.cpp
std::span<const RecordKind> bitmapRecords();        // WmfBitmaps.cpp
std::span<const RecordKind> textRecords();          // WmfTextOut.cpp

// A mask drawn with SRCPAINT right before a picture drawn with SRCAND over
// the same rectangle is how some writers store a picture with transparency:
// the pair becomes one record of the picture with the mask as its alpha.
void joinMaskedBitmaps(std::vector<Record>& records); // WmfBitmaps.cpp

// The kind of record with this function number, or null when it is not played.
const RecordKind* findRecordKind(std::uint16_t function);

} // namespace pictolune::wmf
