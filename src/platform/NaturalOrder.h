#pragma once

#include <QStringView>

namespace pictolune {

// The order in which a folder's names are listed, as a file manager shows
// them: letters compared case-folded, runs of the digits 0-9 compared by
// their value (img2 before img10, however many digits), and names that are
// still equal (by case, or by leading zeros: img02 and img2) ordered by their
// exact UTF-16 units. Returns a negative number, zero or a positive number as
// `a` sorts before, with or after `b`; zero only for identical names, so the
// order is total.
int naturalCompare(QStringView a, QStringView b);

struct NaturalLess {
    bool operator()(QStringView a, QStringView b) const { return naturalCompare(a, b) < 0; }
};

} // namespace pictolune
