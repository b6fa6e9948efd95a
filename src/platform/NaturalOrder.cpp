#include "platform/NaturalOrder.h"

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
    qsizetype i = 0, j = 0;
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

} // namespace

int naturalCompare(QStringView a, QStringView b) {
    if (const int order = compareFolded(a, b))
        return order;
    return a.compare(b, Qt::CaseSensitive);
}

} // namespace pictolune
