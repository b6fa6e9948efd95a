#include "WindowFixture.h"

#include "platform/controls/Frame.h"
#include "platform/controls/Label.h"
#include "platform/controls/NumberList.h"
#include "platform/controls/PictureBox.h"
#include "platform/controls/Timer.h"

#include <QFile>

using namespace pictolune;
using namespace pictolune::testing;

namespace {

TEST_F(WindowTest, StartupLeavesEveryControlAsTheTablesSay) {
    writePictures(dir, 3);
    start({dir.path()});

    EXPECT_EQ(form->windowTitle(), "Pictolune");
    EXPECT_EQ(form->width(), 568); // the restored size while loading
    EXPECT_EQ(form->height(), 415);
    EXPECT_FALSE(form->catalogue.randomMode);
    EXPECT_EQ(form->catalogue.lastIndex, 2);
    EXPECT_EQ(form->catalogue.currentIndex, 0);
    EXPECT_EQ(form->comImage->count(), 3);

    EXPECT_TRUE(form->fraOptions->visible());
    EXPECT_EQ(form->fraOptions->caption(), "Options");
    EXPECT_EQ(form->fraOptions->height(), 50);
    EXPECT_EQ(form->fraOptions->width(), 568);
    EXPECT_EQ(form->fraOptions->top(), 415); // out of sight
    EXPECT_EQ(form->fraOptions->left(), 0);
    EXPECT_EQ(form->fraOptions->parentWidget(), form.get());

    const struct {
        Label* label;
        const char* caption;
    } labels[] = {{form->lblPlay, "Play"},
                  {form->lblStop, "Stop"},
                  {form->lblPrev, "Previous Image"},
                  {form->lblNext, "Next Image"},
                  {form->lblRandom, "Random Off"},
                  {form->lblAddDir, "Add a Directory"},
                  {form->lblNewDir, "Change Directory"},
                  {form->lblFilename, ""}};
    for (const auto& l : labels) {
        EXPECT_EQ(l.label->caption(), l.caption);
        EXPECT_TRUE(l.label->visible()) << l.caption;
        EXPECT_TRUE(l.label->autoSize()) << l.caption;
        EXPECT_EQ(l.label->top(), 300) << l.caption;
        EXPECT_EQ(l.label->parentWidget(), form->fraOptions) << l.caption;
        EXPECT_EQ(l.label->fontBold(), l.label == form->lblStop) << l.caption;
    }

    EXPECT_FALSE(form->comImage->visible());
    EXPECT_EQ(form->comImage->width(), 1000);
    EXPECT_GT(form->comImage->height(), 0); // as tall as its font makes it
    EXPECT_EQ(form->comImage->top(), 270);
    EXPECT_EQ(form->comImage->parentWidget(), form->fraOptions);

    EXPECT_FALSE(form->tmrSlideshow->enabled());
    EXPECT_EQ(form->tmrSlideshow->interval(), 1500);
    EXPECT_FALSE(form->tmrAni->enabled());
    EXPECT_EQ(form->tmrAni->interval(), 1);

    EXPECT_FALSE(form->image1->visible());
    EXPECT_TRUE(form->image1->picture().isEmpty());
}

TEST_F(WindowTest, PanelPositionsComeFromTheRestoredWidth) {
    writePictures(dir, 1);
    start({dir.path()});
    EXPECT_EQ(form->lblPlay->left(), 100);
    EXPECT_EQ(form->lblStop->left(), 1028.57141f);
    EXPECT_EQ(form->lblPrev->left(), 2057.14282f);
    EXPECT_EQ(form->lblNext->left(), 3585.71436f);
    EXPECT_EQ(form->lblRandom->left(), 5114.28564f);
    EXPECT_EQ(form->lblAddDir->left(), 6642.85693f);
    EXPECT_EQ(form->lblNewDir->left(), 8171.42871f);
    EXPECT_EQ(form->lblFilename->left(), 10200);
    EXPECT_EQ(form->comImage->left(), 17957.1426f);

    // Positions are computed once: a later resize leaves them.
    form->showMaximized();
    ASSERT_TRUE(waitFor([this] { return form->width() == 800; }));
    EXPECT_EQ(form->lblStop->left(), 1028.57141f);
}

TEST(PanelLeft, ForAWindowSevenHundredPixelsWide) {
    const struct {
        double factor, subtrahend;
        float left;
    } cases[] = {{1, 1000, 1500}, {2, 2000, 3000},  {3, 2500, 5000},  {4, 3000, 7000},
                 {5, 3500, 9000}, {6, 4000, 11000}, {7, 4000, 13500}, {9, 300, 22200}};
    for (const auto& c : cases)
        EXPECT_EQ(panelLeft(700, c.factor, c.subtrahend), c.left) << c.factor;
    EXPECT_LT(panelLeft(279, 1, 1000), 0); // cut off at the panel's left edge
}

TEST_F(WindowTest, CancelledDialogStillBuildsTheWholeWindow) {
    start({}); // no folder given: the dialog asks, and the queue cancels
    EXPECT_EQ(chooser.asked, 1);
    EXPECT_EQ(form->catalogue.lastIndex, -1);
    EXPECT_EQ(form->comImage->count(), 0);
    EXPECT_EQ(form->fraOptions->caption(), "Options");
    EXPECT_EQ(form->lblRandom->caption(), "Random Off");
    EXPECT_EQ(form->tmrSlideshow->interval(), 1500);

    form->showMaximized();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    EXPECT_TRUE(waitFor([this] { return form->fraOptions->top() == 600; }));
}

TEST_F(WindowTest, FirstResizeShowsTheFirstPicture) {
    writePictures(dir, 3);
    startAndShow({dir.path()});
    EXPECT_TRUE(form->image1->visible());
    EXPECT_EQ(form->lblFilename->caption(), pathOf(0));
    EXPECT_EQ(form->fraOptions->width(), 800);
    EXPECT_EQ(form->fraOptions->top(), 600);
    EXPECT_EQ(form->image1->left(), (800 - 40) / 2.0f);
    EXPECT_EQ(form->image1->top(), (600 - 30) / 2.0f);

    // Nothing changes by itself afterwards: the slideshow is stopped.
    QTest::qWait(100);
    EXPECT_EQ(form->catalogue.currentIndex, 0);
}

TEST_F(WindowTest, FoldersOnTheCommandLineAreScannedInOrder) {
    QTemporaryDir second;
    writePictures(dir, 2);
    writePictures(second, 3, "more");
    start({dir.path(), second.path()});
    EXPECT_EQ(chooser.asked, 0);
    EXPECT_EQ(form->catalogue.lastIndex, 4);
    EXPECT_EQ(form->catalogue.imagePaths[2], second.filePath("more00.bmp"));
    EXPECT_EQ(form->comImage->count(), 5);
}

TEST_F(WindowTest, StartsAtAPictureNamedOnTheCommandLine) {
    QTemporaryDir second;
    writePictures(dir, 3);
    writePictures(second, 2, "more");
    // A camera's upper-case ending: taken because it was named, at its place
    // in its folder's order, and shown first.
    ASSERT_TRUE(QFile::copy(second.filePath("more00.bmp"), second.filePath("more00a.BMP")));
    form = std::make_unique<Form1>(Form1::Services{chooser, inputBox, listing},
                                   QStringList{dir.path(), second.path()},
                                   QStringList{second.filePath("more00a.BMP"), pathOf(1)});
    form->load();
    EXPECT_EQ(form->catalogue.lastIndex, 5);
    EXPECT_EQ(form->comImage->count(), 6);
    EXPECT_EQ(form->catalogue.imagePaths[4], second.filePath("more00a.BMP"));
    EXPECT_EQ(form->catalogue.currentIndex, 4);

    // A named picture gone from its folder since: the show starts at the first.
    form = std::make_unique<Form1>(Form1::Services{chooser, inputBox, listing},
                                   QStringList{dir.path()}, QStringList{dir.filePath("gone.JPG")});
    form->load();
    EXPECT_EQ(form->catalogue.lastIndex, 2);
    EXPECT_EQ(form->catalogue.currentIndex, 0);
}

} // namespace
