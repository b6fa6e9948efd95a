#include "platform/controls/Label.h"

#include "platform/controls/Colours.h"

#include <QMouseEvent>

namespace pictolune {

Label::Label(QWidget* parent) : Control<QLabel>(parent) {
    setUnitsPerPixel(kTwips);
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setAutoFillBackground(false);
}

void Label::setCaption(const QString& caption) {
    setText(caption);
    fitToCaption();
}

void Label::setFontBold(bool bold) {
    QFont f = font();
    f.setBold(bold);
    setFont(f);
    fitToCaption();
}

void Label::setAutoSize(bool autoSize) {
    autoSize_ = autoSize;
    fitToCaption();
}

void Label::setBackStyle(int style) {
    setAutoFillBackground(style != 0);
}

void Label::setForeColor(std::uint32_t colour) {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, resolveColour(colour));
    setPalette(p);
}

void Label::fitToCaption() {
    if (!autoSize_)
        return;
    const QSize hint = sizeHint();
    storeSize(static_cast<float>(hint.width()) * unitsPerPixel(),
              static_cast<float>(hint.height()) * unitsPerPixel());
}

void Label::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void Label::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Q_EMIT clicked();
}

} // namespace pictolune
