#pragma once

#include <QStringView>

#include <string>

namespace pictolune {

// The order in which a folder's names are listed, as a file manager shows
// them: letters compared case-folded, runs of the digits 0-9 compared by
// their value (img2 before img10, however many digits), and names that are
// still equal (by case, or by leading zeros: img02 and img2) ordered by their
// exact UTF-16 units. Returns a negative number, zero or a positive number as
// `a` sorts before, with or after `b`; zero only for identical names, so the
// order is total.
int naturalCompare(QStringView a, QStringView b);

// Appends to `key` the bytes whose plain byte order (memcmp, then length) is
// the order of naturalCompare before its tie-break: keys compare equal
// exactly when naturalCompare needs the exact names to decide. Sorting a
// large folder builds each key once instead of folding both names in every
// comparison.
void appendNaturalSortKey(QStringView name, std::string& key);

struct NaturalLess {
    bool operator()(QStringView a, QStringView b) const { return naturalCompare(a, b) < 0; }
};

} // namespace pictolune
