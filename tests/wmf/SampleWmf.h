#pragma once

#include <QByteArray>

namespace pictolune::test {

// The sample metafile shipped in samples/shapes.wmf: shapes, text and
// bitmaps on a 6 x 4.5 inch page (576 x 432 pixels at 96 per inch).
QByteArray makeSampleWmf();

} // namespace pictolune::test
