#include "display/Fit.h"

#include "platform/base/Errors.h"
#include "platform/base/Numeric.h"

namespace pictolune {

namespace {

double divide(double numerator, double denominator) {
    if (denominator == 0.0)
        throw ArithmeticError("Division by zero");
    return numerator / denominator;
}

} // namespace

Placement fitPicture(float scaleWidth, float scaleHeight, std::int32_t pictureWidth,
                     std::int32_t pictureHeight, float ownWidth, float ownHeight) {
    Placement p;
    p.width = ownWidth;
    p.height = ownHeight;

    if (p.height > scaleHeight) {
        p.height = scaleHeight;
        const double h = p.height;
        p.width = toSingle(divide(pictureWidth, divide(pictureHeight, h)));
    }
    if (p.width > scaleWidth) {
        p.width = scaleWidth;
        const double w = p.width;
        p.height = toSingle(divide(pictureHeight, divide(pictureWidth, w)));
    }
    p.left = toSingle((static_cast<double>(scaleWidth) - p.width) / 2.0);
    p.top = toSingle((static_cast<double>(scaleHeight) - p.height) / 2.0);

    if (static_cast<double>(scaleHeight) == pictureHeight &&
        static_cast<double>(scaleWidth) == pictureWidth) {
        p.top = 0;
        p.left = 0;
        p.stretch = false;
    }
    return p;
}

} // namespace pictolune
