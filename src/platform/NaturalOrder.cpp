#include "platform/NaturalOrder.h"

#include <QChar>

#include <algorithm>

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

// Compares the digit runs starting at i and j by value and moves past them.
int compareDigitRuns(QStringView a, qsizetype& i, QStringView b, qsizetype& j) {
    while (i < a.size() && a[i] == u'0')
        ++i;
    while (j < b.size() && b[j] == u'0')
        ++j;
    const qsizetype startA = i, startB = j;
    while (i < a.size() && isDigit(a[i].unicode()))
        ++i;
    while (j < b.size() && isDigit(b[j].unicode()))
        ++j;
    // Without leading zeros, the longer run is the larger number.
    if (i - startA != j - startB)
        return (i - startA < j - startB) ? -1 : 1;
    for (qsizetype k = 0; k < i - startA; ++k) {
        if (a[startA + k] != b[startB + k])
            return (a[startA + k] < b[startB + k]) ? -1 : 1;
    }
    return 0;
}

// Compares the names as sequences of parts, each part a digit run (by value)
// or a single case-folded character. A digit run sorts among the other
// characters where its digits would, so the parts are totally ordered and so
// are the sequences.
int compareFolded(QStringView a, QStringView b) {
    // Names in one folder often share a long prefix (IMG_20240101_...). An
    // identical stretch holds identical parts, so it is skipped unit by unit,
    // back to the start of a digit run or surrogate pair that it cuts.
    const qsizetype common = std::min(a.size(), b.size());
    const QChar* pa = a.data();
    const QChar* pb = b.data();
    qsizetype k = 0;
    while (k < common && pa[k] == pb[k])
        ++k;
    while (k > 0 && isDigit(pa[k - 1].unicode()))
        --k;
    if (k > 0 && pa[k - 1].isHighSurrogate())
        --k;

    qsizetype i = k, j = k;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i].unicode()) && isDigit(b[j].unicode())) {
            if (const int order = compareDigitRuns(a, i, b, j))
                return order;
            continue;
        }
        const char32_t ca = foldedCodePoint(a, i);
        const char32_t cb = foldedCodePoint(b, j);
        if (ca != cb)
            return (ca < cb) ? -1 : 1;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
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

int naturalCompare(QStringView a, QStringView b) {
    if (const int order = compareFolded(a, b))
        return order;
    return a.compare(b, Qt::CaseSensitive);
}

} // namespace pictolune
