#pragma once

#include "platform/wmf/WmfRecords.h"

#include <QFont>
#include <QString>

namespace pictolune::wmf {

// The text of a text record, decoded by the character set of its font.
QString decodeText(const QByteArray& bytes, std::uint8_t charset);

// A font like `def` whose characters are `emPixels` high on a device of
// `dpi` dots per inch, before any width adjustment.
QFont makeFont(const FontDef& def, double emPixels, double dpi);

// Cell height (ascent plus descent) of a font divided by its character
// height, for turning a cell height into a character height.
double cellToEmRatio(const QFont& font);

} // namespace pictolune::wmf
