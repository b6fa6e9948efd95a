#pragma once

#include <QWidget>

namespace pictolune {

// A top-level window measured in pixels: ScaleWidth and ScaleHeight are the
// width and height of its inner area.
class FormWindow : public QWidget {
    Q_OBJECT
public:
    explicit FormWindow(QWidget* parent = nullptr) : QWidget(parent) {}

    float scaleWidth() const { return static_cast<float>(QWidget::width()); }
    float scaleHeight() const { return static_cast<float>(QWidget::height()); }
};

} // namespace pictolune
