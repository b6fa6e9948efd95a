#include "platform/controls/PictureBox.h"

#include <QMouseEvent>
#include <QPainter>

#include <cmath>

namespace pictolune {

PictureBox::PictureBox(QWidget* parent) : Control<QWidget>(parent) {
    setAttribute(Qt::WA_NoSystemBackground);
    // Pointer movement over the picture belongs to what lies beneath it:
    // tracking lets the move arrive here so that it can be handed on.
    setMouseTracking(true);
}

QSize PictureBox::deviceSize(float width, float height, qreal devicePixelRatio) {
    const auto toDevice = [devicePixelRatio](float length) {
        const double pixels = static_cast<double>(length) * devicePixelRatio;
        return static_cast<int>(std::lround(std::clamp(pixels, 0.0, 1.0e6)));
    };
    return {toDevice(width), toDevice(height)};
}

void PictureBox::setPicture(Picture picture) {
    picture_ = std::move(picture);
    drawn_ = QImage();
    // An opaque picture paints every pixel itself: nothing need be drawn
    // beneath it first, which halves the cost of a repaint.
    setAttribute(Qt::WA_OpaquePaintEvent,
                 !picture_.raster().isNull() && !picture_.raster().hasAlphaChannel());
    if (!stretch_)
        takeOwnSize();
    update();
}

void PictureBox::clearPicture() {
    picture_ = Picture();
    lastDrawn_ = QImage();
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    drawn_ = QImage();
    update();
}

void PictureBox::setStretch(bool stretch) {
    stretch_ = stretch;
    if (!stretch_)
        takeOwnSize();
    update();
}

void PictureBox::takeOwnSize() {
    // Own size in pixels: one picture pixel per device pixel.
    const qreal ratio = devicePixelRatioF();
    const QSize own = picture_.size();
    storeSize(static_cast<float>(own.width() / ratio), static_cast<float>(own.height() / ratio));
    drawn_ = QImage();
}

void PictureBox::sizeChanged() {
    place();
    drawn_ = QImage();
    update();
}

bool PictureBox::pixelsToCome() const {
    return !picture_.isEmpty() && !picture_.isVector() && picture_.raster().isNull();
}

void PictureBox::paintEvent(QPaintEvent*) {
    if (picture_.isEmpty())
        return;
    if (pixelsToCome()) {
        // What was drawn last stands in meanwhile, rather than a flash of
        // black.
        if (!lastDrawn_.isNull()) {
            QPainter painter(this);
            painter.drawImage(QRectF(rect()), lastDrawn_);
        }
        return;
    }
    const qreal ratio = devicePixelRatioF();
    const QSize size = stretch_ ? deviceSize(width(), height(), ratio) : picture_.size();
    if (drawn_.size() != size) {
        drawn_ = picture_.render(size);
        // Keep a format the backing store blits without converting per paint.
        const QImage::Format fast =
            drawn_.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
        if (!drawn_.isNull() && drawn_.format() != fast)
            drawn_ = drawn_.convertToFormat(fast);
        drawn_.setDevicePixelRatio(ratio);
    }
    if (drawn_.isNull())
        return;
    QPainter painter(this);
    // The control sits on whole pixels and may be a pixel larger than the
    // picture; that edge shows what lies beneath.
    const QSizeF drawnSize = drawn_.deviceIndependentSize();
    if (testAttribute(Qt::WA_OpaquePaintEvent) &&
        (drawnSize.width() < QWidget::width() || drawnSize.height() < QWidget::height())) {
        const QWidget* beneath = parentWidget() ? parentWidget() : this;
        painter.fillRect(rect(), beneath->palette().color(QPalette::Window));
    }
    painter.drawImage(QPointF(0, 0), drawn_);
    lastDrawn_ = drawn_;
}

void PictureBox::mouseMoveEvent(QMouseEvent* event) {
    event->ignore();
}

void PictureBox::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void PictureBox::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Q_EMIT clicked();
}

} // namespace pictolune
