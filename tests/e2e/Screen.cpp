#include "e2e/Screen.h"

#include <QPainter>

#include <algorithm>
#include <cstdlib>

namespace pictolune::e2e {

bool nearColour(QRgb actual, QRgb expected, int tolerance) {
    return std::abs(qRed(actual) - qRed(expected)) <= tolerance &&
           std::abs(qGreen(actual) - qGreen(expected)) <= tolerance &&
           std::abs(qBlue(actual) - qBlue(expected)) <= tolerance;
}

bool isBlack(QRgb colour, int tolerance) {
    return qRed(colour) <= tolerance && qGreen(colour) <= tolerance && qBlue(colour) <= tolerance;
}

bool isLight(QRgb colour) {
    return qRed(colour) >= 150 && qGreen(colour) >= 150 && qBlue(colour) >= 150;
}

QString describe(QRgb colour) {
    return QString("rgb(%1, %2, %3)").arg(qRed(colour)).arg(qGreen(colour)).arg(qBlue(colour));
}

QRect boundingBox(const QImage& image, const QRect& within,
                  const std::function<bool(QRgb)>& matches) {
    const QRect area = within.intersected(image.rect());
    int left = area.right() + 1, right = area.left() - 1;
    int top = area.bottom() + 1, bottom = area.top() - 1;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = area.left(); x <= area.right(); ++x) {
            if (matches(line[x])) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    if (left > right) {
        return {};
    }
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

int countPixels(const QImage& image, const QRect& within,
                const std::function<bool(QRgb)>& matches) {
    const QRect area = within.intersected(image.rect());
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = area.left(); x <= area.right(); ++x) {
            count += matches(line[x]) ? 1 : 0;
        }
    }
    return count;
}

QRectF expectedPictureRect(QSizeF picture, QSizeF area) {
    const double scale =
        std::min({1.0, area.width() / picture.width(), area.height() / picture.height()});
    const QSizeF shown = picture * scale;
    return QRectF(QPointF((area.width() - shown.width()) / 2, (area.height() - shown.height()) / 2),
                  shown);
}

bool writePicture(const QString& path, QSize size, QColor fill, QColor border, int borderWidth) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(border.isValid() ? border : fill);
    if (borderWidth > 0) {
        QPainter painter(&image);
        painter.fillRect(QRect(QPoint(0, 0), size)
                             .adjusted(borderWidth, borderWidth, -borderWidth, -borderWidth),
                         fill);
    }
    return image.save(path);
}

} // namespace pictolune::e2e
