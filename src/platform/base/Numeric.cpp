#include "platform/base/Numeric.h"

#include "platform/base/Errors.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include <locale.h>
#include <stdlib.h>

namespace pictolune {

std::int32_t checkedAdd(std::int32_t a, std::int32_t b) {
    std::int32_t result;
    if (__builtin_add_overflow(a, b, &result))
        throw OverflowError();
    return result;
}

std::int32_t checkedSubtract(std::int32_t a, std::int32_t b) {
    std::int32_t result;
    if (__builtin_sub_overflow(a, b, &result))
        throw OverflowError();
    return result;
}

std::int32_t roundHalfEven(double value) {
    if (!std::isfinite(value))
        throw OverflowError();
    // nearbyint follows the current rounding mode, which is to-nearest-even
    // unless someone changed it; do not depend on that.
    double rounded = std::round(value);
    if (std::fabs(value - std::trunc(value)) == 0.5)
        rounded = 2.0 * std::round(value / 2.0);
    if (rounded < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
        rounded > static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        throw OverflowError();
    return static_cast<std::int32_t>(rounded);
}

float toSingle(double value) {
    if (!std::isfinite(value))
        throw ArithmeticError();
    if (std::fabs(value) > static_cast<double>(std::numeric_limits<float>::max()))
        throw ArithmeticError();
    return static_cast<float>(value);
}

namespace {

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}
bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

} // namespace

double leadingNumber(QStringView text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && isBlank(text[i]))
        ++i;

    std::string number;
    if (i < n && (text[i] == u'+' || text[i] == u'-'))
        number += static_cast<char>(text[i++].unicode());

    bool sawDigit = false;
    while (i < n && isDigit(text[i])) {
        number += static_cast<char>(text[i++].unicode());
        sawDigit = true;
    }
    if (i < n && text[i] == u'.') {
        number += '.';
        ++i;
        while (i < n && isDigit(text[i])) {
            number += static_cast<char>(text[i++].unicode());
            sawDigit = true;
        }
    }
    if (!sawDigit)
        return 0.0;

    // An exponent counts only when digits follow it: "3e" reads as 3.
    if (i < n && (text[i] == u'e' || text[i] == u'E')) {
        qsizetype j = i + 1;
        std::string exponent = "e";
        if (j < n && (text[j] == u'+' || text[j] == u'-'))
            exponent += static_cast<char>(text[j++].unicode());
        bool expDigit = false;
        while (j < n && isDigit(text[j])) {
            exponent += static_cast<char>(text[j++].unicode());
            expDigit = true;
        }
        if (expDigit)
            number += exponent;
    }
    // from_chars ignores the locale, so "." is the decimal point whatever
    // locale the application runs in.
    const char* begin = number.data();
    if (*begin == '+')
        ++begin;
    double value = 0.0;
    const auto [end, error] = std::from_chars(begin, number.data() + number.size(), value);
    (void)end;
    if (error == std::errc::result_out_of_range) {
        // from_chars says the same for a number too large and one too small,
        // and leaves the value alone. strtod in the C locale tells them
        // apart: +-inf for the first, which later conversions report as
        // overflow, and zero for the second.
        static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
        if (cLocale == locale_t(nullptr))
            return (number[0] == '-') ? -HUGE_VAL : HUGE_VAL;
        return strtod_l(number.c_str(), nullptr, cLocale);
    }
    return value;
}

} // namespace pictolune
