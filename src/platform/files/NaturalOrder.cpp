#include "platform/files/NaturalOrder.h"

#include <QChar>

namespace pictolune {

namespace {

bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// The case-folded code point at `i`, which moves past it (two units for a
// surrogate pair; a lone surrogate stands for itself).
char32_t foldedCodePoint(QStringView s, qsizetype& i) {
    const char16_t unit = s[i].unicode();
    ++i;
    if (unit < 0x80)
        return (unit >= u'A' && unit <= u'Z') ? unit + (u'a' - u'A') : unit;
    char32_t codePoint = unit;
    if (QChar::isHighSurrogate(unit) && i < s.size() && QChar::isLowSurrogate(s[i].unicode())) {
        codePoint = QChar::surrogateToUcs4(unit, s[i].unicode());
        ++i;
    }
    return QChar::toCaseFolded(codePoint);
}

// UTF-8 keeps the order of code points, lone surrogates included, and is
// prefix-free, so a sequence of parts encodes to bytes in the same order.
void appendUtf8(char32_t c, std::string& out) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

} // namespace

void appendNaturalSortKey(QStringView name, std::string& key) {
    qsizetype i = 0;
    while (i < name.size()) {
        if (!isDigit(name[i].unicode())) {
            appendUtf8(foldedCodePoint(name, i), key);
            continue;
        }
        while (i < name.size() && name[i] == u'0')
            ++i;
        const qsizetype start = i;
        while (i < name.size() && isDigit(name[i].unicode()))
            ++i;
        // A digit run is "0", its length, then its digits: it sorts where the
        // digits sort among other characters (no other character encodes as
        // "0"), and between runs the longer number is the larger.
        const qsizetype length = i - start;
        key.push_back('0');
        if (length < 0xFF) {
            key.push_back(static_cast<char>(length));
        } else {
            key.push_back(static_cast<char>(0xFF));
            for (int shift = 56; shift >= 0; shift -= 8)
                key.push_back(static_cast<char>((static_cast<quint64>(length) >> shift) & 0xFF));
        }
        for (qsizetype k = start; k < i; ++k)
            key.push_back(static_cast<char>(name[k].unicode()));
    }
}

} // namespace pictolune
