#pragma once

#include <QStringView>

#include <string>

namespace pictolune {

// Appends to `key` the bytes whose plain byte order (memcmp, then length) is
// the order in which a folder's names are listed, as a file manager shows
// them: letters compared case-folded, runs of the digits 0-9 compared by
// their value (img2 before img10, however many digits). Names equal but for
// case or for the leading zeros of their numbers (img02 and IMG2) share a
// key; the listing then orders them by their exact UTF-16 units, so the
// order is total. Sorting a large folder builds each key once instead of
// folding both names in every comparison.
void appendNaturalSortKey(QStringView name, std::string& key);

} // namespace pictolune
