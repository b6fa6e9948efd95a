#pragma once

#include "platform/controls/Control.h"

#include <QGroupBox>

#include <cstdint>

namespace pictolune {

// A titled panel placed in pixels on the window; its children are placed in
// twips. The panel's surface is its own: clicks and pointer movement over it
// never travel on to the window behind.
class Frame : public Control<QGroupBox> {
    Q_OBJECT
public:
    explicit Frame(QWidget* parent = nullptr);

    QString caption() const { return title(); }
    void setCaption(const QString& caption) { setTitle(caption); }
    void setBackColor(std::uint32_t colour);
    void setForeColor(std::uint32_t colour);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
};

} // namespace pictolune
