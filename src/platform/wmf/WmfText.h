#pragma once

#include "platform/wmf/WmfRecords.h"

#include <QFont>
#include <QString>

#include <span>

namespace pictolune::wmf {

// The text of a text record, decoded by the character set of its font.
QString decodeText(const QByteArray& bytes, std::uint8_t charset);

// Fonts whose characters are pictures rather than letters. Few systems have
// them, so their bytes become the Unicode characters of the same pictures,
// drawn with a font that has those.
enum class SymbolFont { None, Wingdings, Wingdings2, Wingdings3, Webdings, MtExtra };
SymbolFont symbolFont(const QString& face);
// One character for each byte; a byte without an equivalent is a space.
QString symbolText(const QByteArray& bytes, SymbolFont font);

// A font like `def` whose characters are `emPixels` high on a device of
// `dpi` dots per inch, before any width adjustment. For a picture font it is
// one that has the characters symbolText() gives.
QFont makeFont(const FontDef& def, double emPixels, double dpi);

// The families metafile text relies on, as fontconfig names them: the
// generic ones that stand in for faces a system lacks, the faces metafiles
// name most, the Symbol face and the font of the picture fonts' characters.
std::span<const char* const> familiesTextReliesOn();

// Cell height (ascent plus descent) of a font divided by its character
// height, for turning a cell height into a character height.
double cellToEmRatio(const QFont& font);

} // namespace pictolune::wmf
