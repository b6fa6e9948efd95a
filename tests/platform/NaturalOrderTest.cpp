#include "platform/NaturalOrder.h"

#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace pictolune {
namespace {

int sign(int value) {
    return (value > 0) - (value < 0);
}

TEST(NaturalOrder, OrdersPairsAsAFileManagerWould) {
    struct Case {
        const char16_t* before;
        const char16_t* after;
    };
    const Case cases[] = {
        {u"img2.jpg", u"img10.jpg"},
        {u"IMG2.jpg", u"img10.jpg"},
        {u"img9.jpg", u"IMG10.JPG"},
        {u"a.jpg", u"B.jpg"},
        {u"B.jpg", u"c.jpg"},
        {u"x9y", u"x10a"},
        {u"img", u"img1"},
        {u"img1", u"img1a"},
        {u"1", u"a"},
        {u"a.jpg", u"a1.jpg"}, // "." sorts before the digits
        {u"a1", u"a_"},        // "_" sorts after them
        {u"99999999999999999999", u"100000000000000000000"},
        {u"18446744073709551615", u"18446744073709551616"},
        {u"v1.9", u"v1.10"},
        {u"0", u"1"},
        {u"\u00e9tude", u"\u00c9tuis"}, // É folds to é
        {u"\u03c3a", u"\u03a3b"},       // Σ folds to σ
        // Equal but for case or leading zeros: the exact name decides.
        {u"A.jpg", u"a.jpg"},
        {u"IMG.jpg", u"img.jpg"},
        {u"img002.jpg", u"img02.jpg"},
        {u"img02.jpg", u"img2.jpg"},
        {u"img2.jpg", u"img02b.jpg"}, // the value comes before the zeros
        {u"\u00c9.jpg", u"\u00e9.jpg"},
    };
    for (const Case& c : cases) {
        const QString before = QString::fromUtf16(c.before);
        const QString after = QString::fromUtf16(c.after);
        EXPECT_LT(naturalCompare(before, after), 0)
            << before.toStdString() << " < " << after.toStdString();
        EXPECT_GT(naturalCompare(after, before), 0)
            << after.toStdString() << " > " << before.toStdString();
    }
}

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

// A relation that is complete and asymmetric over a set (a tournament) is a
// strict total order exactly when no two elements beat the same number of
// others; checked here over every pair of a generated set of awkward names.
TEST(NaturalOrder, IsAStrictTotalOrderOverAwkwardNames) {
    const std::vector<QString> names = awkwardNames();
    ASSERT_GT(names.size(), 700u);

    std::vector<std::size_t> wins(names.size(), 0);
    for (std::size_t i = 0; i < names.size(); ++i) {
        for (std::size_t j = 0; j < names.size(); ++j) {
            const int ij = sign(naturalCompare(names[i], names[j]));
            if (i == j) {
                ASSERT_EQ(ij, 0);
                continue;
            }
            ASSERT_NE(ij, 0) << names[i].toStdString() << " vs " << names[j].toStdString();
            ASSERT_EQ(ij, -sign(naturalCompare(names[j], names[i])));
            if (ij < 0)
                ++wins[i];
        }
    }
    std::sort(wins.begin(), wins.end());
    for (std::size_t k = 0; k < wins.size(); ++k)
        ASSERT_EQ(wins[k], k) << "the order is not transitive";
}

std::string keyOf(const QString& name) {
    std::string key;
    appendNaturalSortKey(name, key);
    return key;
}

// The listing sorts by keys and falls back on the exact names only when the
// keys are equal; that must give the comparison's order.
TEST(NaturalOrder, SortKeysOrderAsTheComparisonDoes) {
    const std::vector<QString> names = awkwardNames();
    std::vector<std::string> keys;
    for (const QString& name : names)
        keys.push_back(keyOf(name));
    for (std::size_t i = 0; i < names.size(); ++i) {
        for (std::size_t j = 0; j < names.size(); ++j) {
            const int byKey = sign(keys[i].compare(keys[j]));
            const int expected = sign(naturalCompare(names[i], names[j]));
            const int byName = sign(names[i].compare(names[j]));
            ASSERT_EQ(byKey != 0 ? byKey : byName, expected)
                << names[i].toStdString() << " vs " << names[j].toStdString();
        }
    }
    // Names the comparison holds equal but for their exact text share a key.
    EXPECT_EQ(keyOf(u"IMG02.jpg"_qs), keyOf(u"img2.JPG"_qs));
    EXPECT_LT(keyOf(u"img2.jpg"_qs), keyOf(u"img10.jpg"_qs));
}

} // namespace
} // namespace pictolune
