// Reads the leading number of arbitrary text and checks what must hold
// whatever the text: never NaN, deaf to what follows the number, and over
// the characters that can make a number, equal to the C library's strtod.
#include "platform/base/Numeric.h"

#include <QString>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <clocale>
#include <locale.h>
#include <stdlib.h>

namespace {

bool same(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

[[noreturn]] void finding(const char* what, const std::string& text, double got, double want) {
    std::fprintf(stderr, "%s: \"%s\" read %.17g, expected %.17g\n", what, text.c_str(), got, want);
    std::abort();
}

// Everything a number is made of, the two blanks, and a character that ends
// a number. No letters that strtod would read as hex, infinity or NaN.
constexpr char kAlphabet[] = "0123456789+-.eE \t#";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Any UTF-16, lone surrogates and all: two bytes to a unit.
    QString text(qsizetype(size / 2), Qt::Uninitialized);
    for (std::size_t i = 0; i + 1 < size; i += 2)
        text[qsizetype(i / 2)] = QChar(char16_t(data[i] | data[i + 1] << 8));
    const double value = pictolune::leadingNumber(text);
    const std::string shown = text.toStdString();
    if (std::isnan(value))
        finding("NaN", shown, value, 0);
    const double followed = pictolune::leadingNumber(text + QStringLiteral("#x"));
    if (!same(followed, value))
        finding("changed by what follows", shown, followed, value);

    // The same bytes as text over the number alphabet, where strtod in the
    // C locale reads exactly what leadingNumber should.
    // Bytes of the alphabet stand for themselves, so that text seeds mean
    // what they say.
    std::string ascii(size, ' ');
    for (std::size_t i = 0; i < size; ++i) {
        const char byte = char(data[i]);
        ascii[i] = byte != 0 && std::strchr(kAlphabet, byte)
                       ? byte
                       : kAlphabet[data[i] % (sizeof kAlphabet - 1)];
    }
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    const double expected = strtod_l(ascii.c_str(), nullptr, c);
    const double got = pictolune::leadingNumber(QString::fromLatin1(ascii));
    if (!same(got, expected))
        finding("differs from strtod", ascii, got, expected);
    return 0;
}
