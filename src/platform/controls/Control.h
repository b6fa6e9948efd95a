#pragma once

#include <QWidget>

#include <algorithm>
#include <cmath>

namespace pictolune {

// Position and size of a control as single-precision numbers, read back
// exactly as stored. The widget itself sits on the nearest whole pixels.
// A control on the window is placed in pixels; a control inside a frame is
// placed in twips, 15 to the pixel.
template <class Widget> class Control : public Widget {
public:
    static constexpr float kPixels = 1.0f;
    static constexpr float kTwips = 15.0f;

    using Widget::Widget;

    float left() const { return left_; }
    float top() const { return top_; }
    float width() const { return width_; }
    float height() const { return height_; }

    void setLeft(float value) { left_ = value, place(); }
    void setTop(float value) { top_ = value, place(); }
    void setWidth(float value) { width_ = value, sizeChanged(); }
    void setHeight(float value) { height_ = value, sizeChanged(); }

    // The Visible property: the control's own switch, whether or not its
    // window is on screen.
    bool visible() const { return !this->isHidden(); }

    void setUnitsPerPixel(float units) { unitsPerPixel_ = units, place(); }
    float unitsPerPixel() const { return unitsPerPixel_; }

protected:
    // Sets the size without placing, for controls whose size follows content.
    void storeSize(float width, float height) { width_ = width, height_ = height, place(); }

    virtual void sizeChanged() { place(); }

    void place() {
        const int x0 = toPixel(left_);
        const int y0 = toPixel(top_);
        const int x1 = toPixel(left_ + width_);
        const int y1 = toPixel(top_ + height_);
        this->setGeometry(x0, y0, std::max(0, x1 - x0), std::max(0, y1 - y0));
    }

private:
    int toPixel(float units) const {
        // Far-off values are clamped so that no integer conversion overflows.
        const double pixels =
            std::clamp(static_cast<double>(units) / unitsPerPixel_, -1.0e6, 1.0e6);
        return static_cast<int>(std::lround(pixels));
    }

    float left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    float unitsPerPixel_ = kPixels;
};

} // namespace pictolune
