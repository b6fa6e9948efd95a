#pragma once

#include "platform/controls/Control.h"

#include <QLabel>

#include <cstdint>

namespace pictolune {

// A text label placed in twips inside the options panel. Transparent, sized
// to its caption while AutoSize is on, and clickable. A click on a label is
// the label's own: it never travels on to the panel or the window.
class Label : public Control<QLabel> {
    Q_OBJECT
public:
    explicit Label(QWidget* parent = nullptr);

    QString caption() const { return text(); }
    void setCaption(const QString& caption);

    bool fontBold() const { return font().bold(); }
    void setFontBold(bool bold);

    bool autoSize() const { return autoSize_; }
    void setAutoSize(bool autoSize);

    // 0 is transparent: the panel shows behind the text.
    void setBackStyle(int style);
    void setForeColor(std::uint32_t colour);

Q_SIGNALS:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void fitToCaption();

    bool autoSize_ = false;
};

} // namespace pictolune
