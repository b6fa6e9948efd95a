#include "display/Fit.h"
#include "platform/base/Errors.h"

#include <gtest/gtest.h>

using namespace pictolune;

namespace {

struct FitCase {
    const char* name;
    float scaleWidth, scaleHeight;
    int pictureWidth, pictureHeight;
    Placement expected;
};

// Single-precision results written with enough digits to name one float.
const FitCase kFitCases[] = {
    {"SmallerPictureKeepsItsSize", 800, 600, 640, 480, {80, 60, 640, 480, true}},
    {"ExactFitDrawsUnscaled", 800, 600, 800, 600, {0, 0, 800, 600, false}},
    {"EqualHeightIsNotFitted", 800, 600, 1000, 600, {0, 60, 800, 480, true}},
    {"WidePicture", 800, 600, 2000, 500, {0, 200, 800, 200, true}},
    {"HeightFitThenWidthFit", 800, 600, 3000, 2000, {0, 33.3333435f, 800, 533.333313f, true}},
    {"TallerArea", 800, 500, 1600, 1200, {66.6666565f, 0, 666.666687f, 500, true}},
    {"OneRowTooTall", 800, 600, 800, 601, {0.665557861f, 0, 798.668884f, 600, true}},
};

class FitCases : public ::testing::TestWithParam<FitCase> {};

TEST_P(FitCases, PlacesThePictureExactly) {
    const FitCase& c = GetParam();
    const Placement p =
        fitPicture(c.scaleWidth, c.scaleHeight, c.pictureWidth, c.pictureHeight,
                   static_cast<float>(c.pictureWidth), static_cast<float>(c.pictureHeight));
    EXPECT_EQ(p.left, c.expected.left);
    EXPECT_EQ(p.top, c.expected.top);
    EXPECT_EQ(p.width, c.expected.width);
    EXPECT_EQ(p.height, c.expected.height);
    EXPECT_EQ(p.stretch, c.expected.stretch);
}

INSTANTIATE_TEST_SUITE_P(Fit, FitCases, ::testing::ValuesIn(kFitCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Fit, ZeroHeightAreaIsAnArithmeticError) {
    EXPECT_THROW(fitPicture(800, 0, 640, 480, 640, 480), ArithmeticError);
}

TEST(Fit, ZeroWidthAreaIsAnArithmeticError) {
    EXPECT_THROW(fitPicture(0, 600, 640, 480, 640, 480), ArithmeticError);
}

TEST(Fit, EmptyPictureIsCentredWithoutError) {
    const Placement p = fitPicture(800, 600, 0, 0, 0, 0);
    EXPECT_EQ(p.left, 400);
    EXPECT_EQ(p.top, 300);
    EXPECT_TRUE(p.stretch);
}

TEST(Fit, ZeroByZeroAreaWithEmptyPictureIsAnExactFit) {
    const Placement p = fitPicture(0, 0, 0, 0, 0, 0);
    EXPECT_FALSE(p.stretch);
}

} // namespace
