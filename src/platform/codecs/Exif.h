#pragma once

#include <QImageIOHandler>

#include <cstddef>
#include <cstdint>

namespace pictolune {

// The turn that makes a picture upright whose orientation tag (in a TIFF or
// an Exif block) has `value`; none for 1 and for values out of range.
QImageIOHandler::Transformations orientationTurn(unsigned value);

// The orientation tag (0x0112) of an Exif block, the payload of a JPEG APP1
// segment ("Exif\0\0" and a TIFF structure), as the turn that makes the
// stored picture upright. Anything missing, malformed or out of range is no
// turn at all.
QImageIOHandler::Transformations exifOrientation(const std::uint8_t* data, std::size_t size);

} // namespace pictolune
