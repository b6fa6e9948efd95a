#include "platform/base/Numeric.h"
#include "platform/base/Errors.h"

#include <QString>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace pictolune;

namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

TEST(CheckedArithmetic, AddsAndSubtractsInRange) {
    EXPECT_EQ(checkedAdd(kMax - 1, 1), kMax);
    EXPECT_EQ(checkedSubtract(kMin + 1, 1), kMin);
    EXPECT_EQ(checkedAdd(-1, 1), 0);
}

TEST(CheckedArithmetic, RaisesOverflowInsteadOfWrapping) {
    EXPECT_THROW(checkedAdd(kMax, 1), OverflowError);
    EXPECT_THROW(checkedSubtract(kMin, 1), OverflowError);
    EXPECT_THROW(checkedSubtract(0, kMin), OverflowError);
}

TEST(RoundHalfEven, TiesGoToTheEvenNeighbour) {
    const struct {
        double in;
        std::int32_t out;
    } cases[] = {{0.5, 0},
                 {1.5, 2},
                 {2.5, 2},
                 {3.5, 4},
                 {-0.5, 0},
                 {-1.5, -2},
                 {-2.5, -2},
                 {62.5, 62},
                 {187.5, 188},
                 {2.4, 2},
                 {2.6, 3},
                 {-2.6, -3},
                 {1e9, 1000000000},
                 {2147483647.0, kMax},
                 {-2147483648.0, kMin}};
    for (const auto& c : cases)
        EXPECT_EQ(roundHalfEven(c.in), c.out) << c.in;
}

TEST(RoundHalfEven, OutOfRangeOrNotANumberIsOverflow) {
    EXPECT_THROW(roundHalfEven(2147483647.5), OverflowError);
    EXPECT_THROW(roundHalfEven(-2147483649.0), OverflowError);
    EXPECT_THROW(roundHalfEven(std::nan("")), OverflowError);
    EXPECT_THROW(roundHalfEven(HUGE_VAL), OverflowError);
}

TEST(ToSingle, RejectsValuesNoFloatCanHold) {
    EXPECT_EQ(toSingle(1.5), 1.5f);
    EXPECT_THROW(toSingle(1e39), ArithmeticError);
    EXPECT_THROW(toSingle(std::nan("")), ArithmeticError);
    EXPECT_THROW(toSingle(-HUGE_VAL), ArithmeticError);
}

TEST(LeadingNumber, ReadsTheNumberAtTheStartOfATextOnly) {
    const struct {
        const char16_t* text;
        double value;
    } cases[] = {
        {u"2.5", 2.5},   {u"0.0625", 0.0625}, {u"3 s", 3},     {u"  7", 7},  {u"x3", 0},
        {u"", 0},        {u"-1", -1},         {u"+4", 4},      {u".5", 0.5}, {u"5.", 5},
        {u"1.2.3", 1.2}, {u"1e3", 1000},      {u"2E-1x", 0.2}, {u"3e", 3},   {u"3e+", 3},
        {u"-", 0},       {u".", 0},           {u"1,5", 1},     {u"\t9", 9},  {u"12abc", 12},
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(leadingNumber(QStringView(c.text)), c.value)
            << QString::fromUtf16(c.text).toStdString();
}

TEST(LeadingNumber, HugeExponentSaturatesInsteadOfFailing) {
    EXPECT_TRUE(std::isinf(leadingNumber(u"1e999")));
    EXPECT_THROW(roundHalfEven(leadingNumber(u"1e999") * 1000), OverflowError);
}

// Found by fuzzing: a number too small for a double is as good as zero.
TEST(LeadingNumber, TinyExponentUnderflowsToZeroNotInfinity) {
    EXPECT_EQ(leadingNumber(u"3E-3900"), 0.0);
    EXPECT_FALSE(std::signbit(leadingNumber(u"1e-400")));
    EXPECT_EQ(leadingNumber(u"-1e-400"), 0.0);
    EXPECT_TRUE(std::signbit(leadingNumber(u"-1e-400")));
    EXPECT_EQ(leadingNumber(u"0.0001e-320"), 0.0);
    EXPECT_EQ(leadingNumber(u"4.9e-324"), 4.9e-324); // the smallest subnormal still reads
}

} // namespace
