#include "WindowFixture.h"

#include "platform/controls/Frame.h"
#include "platform/controls/Label.h"
#include "platform/controls/NumberList.h"
#include "platform/controls/PictureBox.h"
#include "platform/controls/Timer.h"

#include <QApplication>
#include <QMouseEvent>

using namespace pictolune;
using namespace pictolune::testing;

namespace {

// Plain pointer movement, no button held, delivered through the window as
// the window system would: Qt gives it to the widget under the pointer.
void movePointer(QWidget* target, QPoint windowPos) {
    QWidget* window = target->window();
    ASSERT_EQ(window->childAt(windowPos) ? window->childAt(windowPos)->window() : window, window);
    QTest::mouseMove(window, windowPos);
}

class OptionsPanelTest : public WindowTest {
protected:
    void SetUp() override {
        writePictures(dir, 3);
        startAndShow({dir.path()});
        // Stop real ticks: the test ticks by hand to count them exactly.
        form->tmrAni->setShortestPeriod(60000);
    }
    // The window's handler itself, for the cases where the panel would cover
    // the point.
    void moveTo(int y) { form->pointerMovedTo(static_cast<float>(y)); }
    void tick(int times) {
        for (int i = 0; i < times; ++i)
            form->slidePanel();
    }
    float top() const { return form->fraOptions->top(); }
};

TEST_F(OptionsPanelTest, BandStartsTheSlideAndAboveItDrops) {
    moveTo(550);
    EXPECT_TRUE(form->tmrAni->enabled());
    EXPECT_TRUE(form->comImage->visible());
    EXPECT_EQ(top(), 600); // the slide starts from where the panel is

    moveTo(549);
    EXPECT_FALSE(form->comImage->visible());
    EXPECT_EQ(top(), 600);
}

TEST_F(OptionsPanelTest, FiftyTicksBringThePanelIntoFullView) {
    moveTo(599);
    tick(1);
    EXPECT_EQ(top(), 599);
    tick(48);
    EXPECT_EQ(top(), 551);
    EXPECT_TRUE(form->tmrAni->enabled());
    tick(1);
    EXPECT_EQ(top(), 550);
    EXPECT_FALSE(form->tmrAni->enabled());
}

TEST_F(OptionsPanelTest, LeavingTheBandMidSlideDropsThePanelButTheSlideGoesOn) {
    moveTo(580);
    tick(20);
    EXPECT_EQ(top(), 580);
    moveTo(100);
    EXPECT_FALSE(form->comImage->visible());
    EXPECT_EQ(top(), 600);
    EXPECT_TRUE(form->tmrAni->enabled());
    tick(50);
    EXPECT_EQ(top(), 550);
    EXPECT_FALSE(form->comImage->visible());
    EXPECT_FALSE(form->tmrAni->enabled());
}

TEST_F(OptionsPanelTest, BandMovementAtFullViewRunsOneStillTick) {
    moveTo(590);
    tick(50);
    moveTo(300);
    tick(50); // risen again, number list hidden
    moveTo(560);
    EXPECT_TRUE(form->comImage->visible());
    EXPECT_TRUE(form->tmrAni->enabled());
    tick(1);
    EXPECT_EQ(top(), 550);
    EXPECT_FALSE(form->tmrAni->enabled());
}

TEST_F(OptionsPanelTest, MovementInTheBandWhileSlidingChangesNothing) {
    moveTo(590);
    tick(10);
    form->comImage->setVisible(false);
    moveTo(595);
    EXPECT_FALSE(form->comImage->visible());
    EXPECT_EQ(top(), 590);
}

TEST_F(OptionsPanelTest, MovementOverThePictureCountsButOverThePanelNever) {
    // The picture is small and centred; make it reach the band by a tall one.
    QImage tall(100, 600, QImage::Format_RGB32);
    tall.fill(Qt::red);
    ASSERT_TRUE(tall.save(dir.filePath("pic00.bmp"), "BMP"));
    form->showImage();
    settle();
    ASSERT_TRUE(form->image1->visible());
    ASSERT_GE(form->image1->top() + form->image1->height(), 560);

    ASSERT_EQ(form->childAt(400, 570), form->image1);
    movePointer(form->image1, QPoint(400, 570));
    EXPECT_TRUE(form->tmrAni->enabled());

    tick(50);
    ASSERT_EQ(top(), 550);
    // Over the panel, its labels and its list, even above the band's edge.
    ASSERT_EQ(form->childAt(700, 555), form->fraOptions);
    movePointer(form->fraOptions, QPoint(700, 555));
    const QPoint onPlay = form->lblPlay->mapTo(form.get(), QPoint(1, 1));
    ASSERT_EQ(form->childAt(onPlay), form->lblPlay);
    movePointer(form->lblPlay, onPlay);
    EXPECT_EQ(top(), 550);
}

TEST_F(OptionsPanelTest, ShortWindowHasTheBandEverywhere) {
    form->showNormal();
    form->resize(800, 40);
    ASSERT_TRUE(waitFor([this] { return form->height() == 40; }));
    form->tmrAni->setEnabled(false);
    moveTo(0);
    EXPECT_TRUE(form->tmrAni->enabled());
}

TEST_F(OptionsPanelTest, ResizeAtFullViewPutsThePanelOutOfSightAndRefits) {
    moveTo(590);
    tick(50);
    form->comImage->setVisible(true);
    form->showNormal();
    form->resize(1024, 700);
    ASSERT_TRUE(waitFor([this] { return form->width() == 1024 && form->height() == 700; }));
    EXPECT_EQ(form->fraOptions->width(), 1024);
    EXPECT_EQ(top(), 700);
    EXPECT_TRUE(form->comImage->visible());
    EXPECT_FALSE(form->tmrAni->enabled());
    EXPECT_EQ(form->image1->left(), (1024 - 40) / 2.0f);
    EXPECT_EQ(form->image1->top(), (700 - 30) / 2.0f);
}

TEST_F(OptionsPanelTest, ResizeDuringASlideStartsItOverFromTheNewEdge) {
    moveTo(590);
    tick(10);
    form->showNormal();
    form->resize(700, 500);
    ASSERT_TRUE(waitFor([this] { return form->height() == 500; }));
    EXPECT_EQ(top(), 500);
    EXPECT_TRUE(form->tmrAni->enabled());
    tick(50);
    EXPECT_EQ(top(), 450);
}

TEST_F(OptionsPanelTest, ResizeInRandomModeShowsTheSamePicture) {
    form->catalogue.currentIndex = 2;
    form->catalogue.randomMode = true;
    form->showNormal();
    form->resize(640, 480);
    ASSERT_TRUE(waitFor([this] { return form->width() == 640; }));
    EXPECT_EQ(form->catalogue.currentIndex, 2);
    EXPECT_TRUE(form->catalogue.randomMode);
    EXPECT_EQ(form->lblFilename->caption(), pathOf(2));
}

TEST_F(OptionsPanelTest, ResizeToNothingAndBack) {
    form->showNormal();
    form->resize(0, 0);
    ASSERT_TRUE(waitFor([this] { return form->height() == 0; }));
    EXPECT_EQ(form->fraOptions->width(), 0);
    EXPECT_EQ(top(), 0);
    EXPECT_FALSE(form->image1->visible());

    form->resize(800, 600);
    ASSERT_TRUE(waitFor([this] { return form->height() == 600; }));
    EXPECT_EQ(form->fraOptions->width(), 800);
    EXPECT_TRUE(form->image1->visible());
}

} // namespace
