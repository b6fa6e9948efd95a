#pragma once

#include <QByteArray>
#include <QString>

#include <string_view>

namespace pictolune {

// File names on Linux are bytes, usually but not always UTF-8. A name is
// decoded as UTF-8, and each byte of a sequence that is not valid UTF-8
// becomes the lone surrogate U+DC80 + (byte - 0x80), so that no name is
// lost and encodeFileName gives back the very bytes the system returned.
QString decodeFileName(std::string_view bytes);

// decodeFileName into a caller's buffer, which must have room for
// bytes.size() units (no name decodes to more units than it has bytes).
// Returns the number of units written.
qsizetype decodeFileNameInto(std::string_view bytes, char16_t* out);

// The inverse of decodeFileName: the lone surrogates U+DC80..U+DCFF go back
// to the bytes 0x80..0xFF, everything else is written as UTF-8. A lone
// surrogate outside that range cannot come from a decoded name; it is written
// as U+FFFD.
QByteArray encodeFileName(QStringView name);

} // namespace pictolune
