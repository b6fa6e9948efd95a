#pragma once

#include <cstdint>

namespace pictolune {

// Where the picture control goes once the picture is fitted into the inner
// area: scaled down (never up) with its proportions kept, the height limited
// first and then the width, centred; drawn unscaled from the top left when
// picture and area agree exactly.
struct Placement {
    float left = 0;
    float top = 0;
    float width = 0;
    float height = 0;
    bool stretch = true;
};

// `ownWidth` and `ownHeight` are the size the control reports with the
// picture at its own size; `pictureWidth` and `pictureHeight` the same
// rounded to integers. The arithmetic is done in double precision in the
// order of the fit rules and each result handed over as a float. Raises
// ArithmeticError on a division by zero, an overflow or an invalid result.
Placement fitPicture(float scaleWidth, float scaleHeight, std::int32_t pictureWidth,
                     std::int32_t pictureHeight, float ownWidth, float ownHeight);

} // namespace pictolune
