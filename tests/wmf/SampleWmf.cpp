#include "wmf/SampleWmf.h"

#include "wmf/WmfWriter.h"

#include <QImage>

#include <cmath>

namespace pictolune::test {

namespace {

// A 32 x 32 colour wheel-ish gradient, drawn pixel by pixel so that the
// sample needs no font or paint engine to be made.
QImage gradient() {
    QImage img(32, 32, QImage::Format_RGB32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            img.setPixel(x, y, qRgb(x * 8, y * 8, 255 - x * 4 - y * 4));
    return img;
}

// A 16 x 16 four-colour checker, stored run-length encoded.
QImage checker() {
    QImage img(16, 16, QImage::Format_RGB32);
    const QRgb colors[4] = {qRgb(255, 255, 255), qRgb(0, 0, 0), qRgb(220, 40, 40),
                            qRgb(40, 40, 220)};
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            img.setPixel(x, y, colors[((x / 4) + (y / 4)) % 2 + (y >= 8 ? 2 : 0)]);
    return img;
}

} // namespace

QByteArray makeSampleWmf() {
    // 1440 units per inch, 6 x 4.5 inches.
    auto w = WmfWriter::placeable(QRect(0, 0, 8640, 6480), 1440);
    w.setMapMode(8).setWindowOrg(0, 0).setWindowExt(8640, 6480);
    // Objects: 0 page brush, 1 outline pen, 2 red brush, 3 hatch brush,
    // 4 yellow brush, 5 title font, 6 thick blue pen, 7 slanted font.
    w.createBrush(0, QColor(235, 242, 250))
        .createPen(0, 30, QColor(20, 20, 20))
        .createBrush(0, QColor(210, 40, 40))
        .createBrush(2, QColor(20, 120, 40), 5)
        .createBrush(0, QColor(250, 200, 30))
        .createFont(-600, 700, false, 0, "DejaVu Sans")
        .createPen(0, 120, QColor(30, 60, 200))
        .createFont(-360, 400, true, 150, "DejaVu Serif");

    w.selectObject(0).record(0x0103, {8}); // keep anisotropic
    w.createPen(5, 0, Qt::black).selectObject(8).rectangle(0, 0, 8640, 6480).deleteObject(8);

    // Shapes.
    w.selectObject(1).selectObject(2).ellipse(400, 1200, 2800, 3400);
    w.selectObject(3).setBkMode(1).roundRect(3200, 1200, 5400, 3400, 600, 600);
    w.selectObject(4).setPolyFillMode(2);
    std::vector<QPoint> star;
    for (int i = 0; i < 5; ++i) {
        const double a = -M_PI / 2 + i * 4 * M_PI / 5;
        star.emplace_back(7000 + int(1100 * std::cos(a)), 2300 + int(1100 * std::sin(a)));
    }
    w.polygon(star);
    w.selectObject(2).arcLike(0x081A, QRect(400, 3800, 2000, 2000), QPoint(2400, 4800),
                              QPoint(1400, 3800));
    w.selectObject(6).arcLike(0x0817, QRect(2700, 3800, 2000, 2000), QPoint(4700, 4800),
                              QPoint(2700, 4800));
    w.moveTo(400, 6100).lineTo(4700, 6100);

    // Text.
    w.selectObject(5).setTextColor(QColor(30, 30, 90)).setTextAlign(24);
    w.textOut(400, 900, "Pictolune metafile");
    w.selectObject(7).setTextColor(QColor(120, 30, 30)).setTextAlign(0);
    w.extTextOut(4500, 5900, 0, std::nullopt, "shapes, text, bitmaps");

    // Bitmaps: a 24-bit gradient stretched, and a run-length encoded checker.
    w.stretchDib(QRect(5100, 3600, 1400, 1400), QRect(0, 0, 32, 32),
                 WmfWriter::dib(gradient(), 24));
    w.dibStretchBlt(QRect(6800, 3600, 1400, 1400), QRect(0, 0, 16, 16),
                    WmfWriter::dib(checker(), 4, true));
    return w.bytes();
}

} // namespace pictolune::test
