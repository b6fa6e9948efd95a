#include "catalogue/ImageCatalogue.h"
#include "platform/base/Errors.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

using namespace pictolune;

namespace {

struct StepCase {
    std::int32_t lastIndex, from, afterNext, afterPrevious;
};

TEST(Navigation, StepsWrapAroundTheCatalogue) {
    const StepCase cases[] = {
        {4, 4, 0, 3},   // the last wraps to the first
        {4, 0, 1, 4},   // the first wraps back to the last
        {0, 0, 0, 0},   // one picture
        {-1, 0, 0, -1}, // no picture
        {4, 9, 0, 8},   // an index left beyond the catalogue by a scan
    };
    for (const StepCase& c : cases) {
        ImageCatalogue next;
        next.lastIndex = c.lastIndex;
        next.currentIndex = c.from;
        stepNext(next);
        EXPECT_EQ(next.currentIndex, c.afterNext) << c.lastIndex << " " << c.from;

        ImageCatalogue previous = next;
        previous.currentIndex = c.from;
        stepPrevious(previous);
        EXPECT_EQ(previous.currentIndex, c.afterPrevious) << c.lastIndex << " " << c.from;
    }
}

TEST(Navigation, StepsBeyondThe32BitRangeOverflow) {
    ImageCatalogue catalogue;
    catalogue.lastIndex = std::numeric_limits<std::int32_t>::max();
    catalogue.currentIndex = std::numeric_limits<std::int32_t>::max();
    EXPECT_THROW(stepNext(catalogue), OverflowError);
    catalogue.currentIndex = std::numeric_limits<std::int32_t>::min();
    EXPECT_THROW(stepPrevious(catalogue), OverflowError);
}

TEST(Navigation, SequentialShowSuspendsRandomModeForOneCall) {
    ImageCatalogue catalogue;
    catalogue.randomMode = true;
    std::vector<bool> modeDuringShow;
    showImageSequential(catalogue, [&] { modeDuringShow.push_back(catalogue.randomMode); });
    EXPECT_EQ(modeDuringShow, std::vector<bool>{false});
    EXPECT_TRUE(catalogue.randomMode);
}

TEST(Navigation, TickAdvancesOnlyInSequentialMode) {
    ImageCatalogue catalogue;
    catalogue.lastIndex = 2;
    catalogue.currentIndex = 2;
    std::vector<std::int32_t> shown;
    const ShowPicture record = [&] { shown.push_back(catalogue.currentIndex); };
    slideshowTick(catalogue, record);
    slideshowTick(catalogue, record);
    catalogue.randomMode = true;
    slideshowTick(catalogue, record);
    EXPECT_EQ(shown, (std::vector<std::int32_t>{0, 1, 1}));
}

TEST(Catalogue, AccessOutsideTheArrayIsASubscriptError) {
    ImageCatalogue catalogue;
    EXPECT_THROW(catalogue.pathAt(0), SubscriptError); // not dimensioned yet
    catalogue.imagePaths.resize(2);
    catalogue.storePath(1, "/x/a.jpg");
    EXPECT_EQ(catalogue.pathAt(1), "/x/a.jpg");
    EXPECT_THROW(catalogue.pathAt(2), SubscriptError);
    EXPECT_THROW(catalogue.pathAt(-1), SubscriptError);
    EXPECT_THROW(catalogue.storePath(2, "/x/b.jpg"), SubscriptError);
}

} // namespace
