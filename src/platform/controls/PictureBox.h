#pragma once

#include "platform/base/Picture.h"
#include "platform/controls/Control.h"

#include <QImage>
#include <QWidget>

namespace pictolune {

// The picture control. With Stretch off it takes the picture's own size (one
// picture pixel to one device pixel); with Stretch on the picture is drawn
// smoothly scaled to the control's size, at device resolution. The scaled
// picture is made once per picture and size, never on a mere repaint.
class PictureBox : public Control<QWidget> {
    Q_OBJECT
public:
    explicit PictureBox(QWidget* parent = nullptr);

    const Picture& picture() const { return picture_; }
    void setPicture(Picture picture);
    void clearPicture();

    bool stretch() const { return stretch_; }
    void setStretch(bool stretch);

    // The size in device pixels at which a control of this size draws.
    static QSize deviceSize(float width, float height, qreal devicePixelRatio);

Q_SIGNALS:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void sizeChanged() override;

private:
    void takeOwnSize();
    bool pixelsToCome() const;

    Picture picture_;
    bool stretch_ = false;
    QImage drawn_;     // the picture as last drawn, at device resolution
    QImage lastDrawn_; // stands in while a picture's pixels are still to come
};

} // namespace pictolune
