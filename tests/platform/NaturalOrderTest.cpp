#include "platform/files/NaturalOrder.h"

#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace pictolune {
namespace {

// Short names built from the parts that make natural ordering awkward: case,
// leading zeros, digits next to punctuation, non-ASCII letters, characters
// outside the BMP, escaped bytes, a character that folds into ASCII, and
// numbers too long for any integer type.
std::vector<QString> awkwardNames() {
    const QStringList parts = {u"a"_qs,           u"A"_qs,
                               u"b"_qs,           u"0"_qs,
                               u"00"_qs,          u"1"_qs,
                               u"01"_qs,          u"10"_qs,
                               u"9"_qs,           u"."_qs,
                               u"_"_qs,           u"\u00e9"_qs,
                               u"\u00c9"_qs,      u"\U0001F319"_qs,
                               u"\xdcff"_qs,      u"99999999999999999999"_qs,
                               u"k"_qs,           u"\u212a"_qs /* Kelvin sign, folds to k */,
                               QString(300, u'7')};
    std::vector<QString> names;
    names.push_back(QString());
    for (const QString& x : parts) {
        names.push_back(x);
        for (const QString& y : parts) {
            names.push_back(x + y);
            names.push_back(x + y + u"1"_qs); // a digit after whatever came before
        }
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

std::string keyOf(const QString& name) {
    std::string key;
    appendNaturalSortKey(name, key);
    return key;
}

// The name as the key should see it: case folded, and each number without
// its leading zeros, bracketed so that its ends stay marked.
QString normalised(const QString& name) {
    const auto digitAt = [&](qsizetype i) {
        return i < name.size() && name[i] >= u'0' && name[i] <= u'9';
    };
    QString out;
    for (qsizetype i = 0; i < name.size();) {
        if (!digitAt(i)) {
            // QString::toCaseFolded turns a trailing lone surrogate into U+FFFD.
            out += name[i].isSurrogate() ? name[i] : name[i].toCaseFolded();
            ++i;
            continue;
        }
        while (name[i] == u'0' && digitAt(i + 1))
            ++i;
        out += u'[';
        while (digitAt(i))
            out += name[i++];
        out += u']';
    }
    return out;
}

// Two names share a key exactly when they differ only in case or in leading
// zeros; the listing leaves those to the exact names.
TEST(NaturalOrder, NamesShareAKeyExactlyWhenEqualButForCaseAndLeadingZeros) {
    const std::vector<QString> names = awkwardNames();
    ASSERT_GT(names.size(), 700u);
    std::vector<std::string> keys;
    std::vector<QString> normal;
    for (const QString& name : names) {
        keys.push_back(keyOf(name));
        normal.push_back(normalised(name));
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        for (std::size_t j = i + 1; j < names.size(); ++j) {
            ASSERT_EQ(keys[i] == keys[j], normal[i] == normal[j])
                << names[i].toStdString() << " vs " << names[j].toStdString();
        }
    }
    EXPECT_EQ(keyOf(u"IMG02.jpg"_qs), keyOf(u"img2.JPG"_qs));
    EXPECT_LT(keyOf(u"img2.jpg"_qs), keyOf(u"img10.jpg"_qs));
}

} // namespace
} // namespace pictolune
