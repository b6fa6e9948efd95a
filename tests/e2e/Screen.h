#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QString>

#include <functional>

namespace pictolune::e2e {

// Colour comparisons with room for scaling and dithering: every channel
// within tolerance.
bool nearColour(QRgb actual, QRgb expected, int tolerance = 40);
bool isBlack(QRgb colour, int tolerance = 24);
// Light grey to white, as text on the black options panel is drawn.
bool isLight(QRgb colour);
QString describe(QRgb colour);

// The smallest rectangle within `within` holding every pixel that matches;
// an empty rectangle if none does.
QRect boundingBox(const QImage& image, const QRect& within,
                  const std::function<bool(QRgb)>& matches);
int countPixels(const QImage& image, const QRect& within, const std::function<bool(QRgb)>& matches);

// Where the viewer should draw a picture of the given size in an inner area
// of the given size: scaled down, proportions kept, to the largest size that
// fits (never enlarged), centred. Computed here independently of the
// program's own code.
QRectF expectedPictureRect(QSizeF picture, QSizeF area);

// Writes a picture of one colour with a border of another; the format
// follows the file name's ending.
bool writePicture(const QString& path, QSize size, QColor fill, QColor border = QColor(),
                  int borderWidth = 0);

} // namespace pictolune::e2e
