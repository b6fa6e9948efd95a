#include "platform/controls/Frame.h"

#include "platform/controls/Colours.h"

#include <QMouseEvent>

namespace pictolune {

Frame::Frame(QWidget* parent) : Control<QGroupBox>(parent) {
    // Tracking makes plain pointer movement stop here instead of being
    // handed on to the window.
    setMouseTracking(true);
    setAutoFillBackground(true);
}

void Frame::setBackColor(std::uint32_t colour) {
    QPalette p = palette();
    const QColor c = resolveColour(colour);
    p.setColor(QPalette::Window, c);
    p.setColor(QPalette::Base, c);
    p.setColor(QPalette::Button, c);
    setPalette(p);
}

void Frame::setForeColor(std::uint32_t colour) {
    QPalette p = palette();
    const QColor c = resolveColour(colour);
    p.setColor(QPalette::WindowText, c);
    p.setColor(QPalette::ButtonText, c);
    p.setColor(QPalette::Text, c);
    setPalette(p);
}

void Frame::mousePressEvent(QMouseEvent* event) {
    event->accept();
}
void Frame::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}
void Frame::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
}

} // namespace pictolune
