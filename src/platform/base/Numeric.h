#pragma once

#include <QStringView>
#include <cstdint>

namespace pictolune {

// 32-bit signed arithmetic that raises OverflowError instead of wrapping.
std::int32_t checkedAdd(std::int32_t a, std::int32_t b);
std::int32_t checkedSubtract(std::int32_t a, std::int32_t b);

// Nearest 32-bit integer, ties to even. Raises OverflowError when the value
// is not finite or lies outside the 32-bit range.
std::int32_t roundHalfEven(double value);

// A double handed to a single-precision property. Raises ArithmeticError when
// the value is not finite or does not fit in a float.
float toSingle(double value);

// The leading decimal number of a text: leading blanks skipped, an optional
// sign, digits with "." as the decimal point, an optional exponent; reading
// stops at the first character that cannot continue the number. A text
// without a leading number reads as 0.
double leadingNumber(QStringView text);

} // namespace pictolune
