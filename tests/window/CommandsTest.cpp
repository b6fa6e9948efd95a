#include "WindowFixture.h"

#include "platform/controls/Frame.h"
#include "platform/controls/Label.h"
#include "platform/controls/NumberList.h"
#include "platform/controls/PictureBox.h"
#include "platform/controls/Timer.h"
#include "support/Processes.h"
#include "support/TestPictures.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QKeyEvent>

#include <vector>

using namespace pictolune;
using namespace pictolune::testing;

namespace {

class CommandsTest : public WindowTest {
protected:
    void SetUp() override {
        writePictures(dir, 10);
        startAndShow({dir.path()});
    }
    void key(Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(form.get(), k, modifiers);
        settle();
    }
    void click(QWidget* widget) {
        QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(2, 2));
        settle();
    }
    std::int32_t index() const { return form->catalogue.currentIndex; }
    bool random() const { return form->catalogue.randomMode; }
};

TEST_F(CommandsTest, PlaySwitchesTheSlideshowAndTheBoldLabel) {
    key(Qt::Key_P);
    EXPECT_TRUE(form->tmrSlideshow->enabled());
    EXPECT_TRUE(form->lblPlay->fontBold());
    EXPECT_FALSE(form->lblStop->fontBold());
    key(Qt::Key_P);
    EXPECT_FALSE(form->tmrSlideshow->enabled());
    EXPECT_FALSE(form->lblPlay->fontBold());
    EXPECT_TRUE(form->lblStop->fontBold());
}

TEST_F(CommandsTest, StopLabelWhileStoppedStartsTheShow) {
    click(form->lblStop);
    EXPECT_TRUE(form->tmrSlideshow->enabled());
    EXPECT_EQ(index(), 0); // nothing shown anew until the first tick
}

TEST_F(CommandsTest, RSwitchesRandomModeWithoutTheLabel) {
    key(Qt::Key_R);
    EXPECT_TRUE(random());
    EXPECT_EQ(form->lblRandom->caption(), "Random Off");
    EXPECT_FALSE(form->lblRandom->fontBold());
    EXPECT_EQ(index(), 0);
    key(Qt::Key_R, Qt::ShiftModifier);
    EXPECT_FALSE(random());
}

TEST_F(CommandsTest, RandomLabelOnlySwitchesOn) {
    click(form->lblRandom);
    click(form->lblRandom);
    EXPECT_TRUE(random());
    EXPECT_EQ(form->lblRandom->caption(), "Random On");
    EXPECT_TRUE(form->lblRandom->fontBold());
    EXPECT_EQ(form->lblFilename->caption(), pathOf(index()));
}

TEST_F(CommandsTest, ArrowsStepInOrderAndKeepRandomMode) {
    form->catalogue.randomMode = true;
    form->catalogue.currentIndex = 4;
    key(Qt::Key_Right);
    EXPECT_EQ(index(), 5);
    EXPECT_EQ(form->lblFilename->caption(), pathOf(5));
    EXPECT_TRUE(random());
    key(Qt::Key_Left);
    key(Qt::Key_Left);
    EXPECT_EQ(index(), 3);
    EXPECT_TRUE(random());
}

TEST_F(CommandsTest, NextAndPreviousLabelsEndRandomMode) {
    click(form->lblRandom);
    form->catalogue.currentIndex = 9;
    click(form->lblNext);
    EXPECT_FALSE(random());
    EXPECT_EQ(form->lblRandom->caption(), "Random Off");
    EXPECT_FALSE(form->lblRandom->fontBold());
    EXPECT_EQ(index(), 0); // wrapped
    EXPECT_EQ(form->lblFilename->caption(), pathOf(0));
    click(form->lblPrev);
    EXPECT_EQ(index(), 9);
}

TEST_F(CommandsTest, ZeroAndOneGoToTheEndsAndEndRandomMode) {
    click(form->lblRandom);
    key(Qt::Key_0);
    EXPECT_EQ(index(), 9);
    EXPECT_FALSE(random());
    EXPECT_EQ(form->lblFilename->caption(), pathOf(9));
    click(form->lblRandom);
    key(Qt::Key_1);
    EXPECT_EQ(index(), 0);
    EXPECT_FALSE(random());
}

// The digit keys of the main row count by the key, whatever Shift or the
// layout make of it; the keypad's never count.
TEST_F(CommandsTest, DigitsAreTheMainRowKeys) {
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        quint32 keycode;
        std::int32_t index;
    } cases[] = {
        {Qt::Key_0, Qt::KeypadModifier, 90, 4},         {Qt::Key_1, Qt::KeypadModifier, 87, 4},
        {Qt::Key_Exclam, Qt::ShiftModifier, 10, 0},     // Shift+1
        {Qt::Key_ParenRight, Qt::ShiftModifier, 19, 9}, // Shift+0
        {Qt::Key_Ampersand, Qt::NoModifier, 10, 0},     // 1 on a French keyboard
        {Qt::Key_Exclam, Qt::NoModifier, 0, 4},         // ! elsewhere
    };
    for (const auto& c : cases) {
        form->catalogue.currentIndex = 4;
        QKeyEvent press(QEvent::KeyPress, c.key, c.modifiers, c.keycode, 0, 0);
        QApplication::sendEvent(form.get(), &press);
        EXPECT_EQ(index(), c.index) << "key " << c.key << ", keycode " << c.keycode;
    }
}

TEST_F(CommandsTest, SpeedAnswersBecomeIntervals) {
    const struct {
        std::optional<QString> answer;
        int interval;
    } cases[] = {
        {"2.5", 2500},  {"0.0625", 62},    {"0.1875", 188},       {"3 s", 3000},
        {"x2", 0},      {"65.535", 65535}, {std::nullopt, 65535}, // a cancel keeps the interval
        {"70", 65535},                                            // too long: refused
        {"-1", 65535},                                            // negative: refused
        {"1e9", 65535},                                           // far too long: refused
        {"1.5", 1500},
    };
    for (const auto& c : cases) {
        inputBox.reply = c.answer;
        key(Qt::Key_S);
        EXPECT_EQ(form->tmrSlideshow->interval(), c.interval)
            << (c.answer ? c.answer->toStdString() : "cancel");
    }
    EXPECT_EQ(inputBox.lastDefault, "65.535");
    EXPECT_FALSE(form->tmrSlideshow->enabled()); // the prompt never starts the show
}

TEST_F(CommandsTest, SpeedPromptOffersTheCurrentDelay) {
    inputBox.reply = std::nullopt;
    key(Qt::Key_S);
    EXPECT_EQ(inputBox.lastDefault, "1.5");
}

TEST_F(CommandsTest, PickingAnEntryShowsThatPictureInEitherMode) {
    // Nothing is picked before the user picks.
    EXPECT_EQ(form->comImage->currentText(), "");
    for (bool randomMode : {false, true}) {
        form->catalogue.randomMode = randomMode;
        form->comImage->setCurrentIndex(7);
        Q_EMIT form->comImage->activated(7);
        EXPECT_EQ(index(), 7);
        EXPECT_EQ(form->lblFilename->caption(), pathOf(7));
        EXPECT_EQ(random(), randomMode);
        form->catalogue.currentIndex = 0;
    }
    // The list keeps the entry picked while other commands show other
    // pictures; a change of folder empties and refills it, picking nothing.
    key(Qt::Key_Right);
    EXPECT_EQ(form->lblFilename->caption(), pathOf(1));
    EXPECT_EQ(form->comImage->currentText(), "7");
    chooser.answers.push_back(dir.path());
    key(Qt::Key_Return);
    EXPECT_EQ(form->comImage->count(), 10);
    EXPECT_EQ(form->comImage->currentText(), "");
}

// While the number list is open, the entry the keyboard's highlight (or the
// pointer) rests on is decoded ahead: choosing it reads no file.
TEST_F(CommandsTest, TheEntryTheListPointsAtIsDecodedAhead) {
    ASSERT_TRUE(writeBmp(pathOf(5), QSize(400, 300)));
    const auto readBy = [](long long before) { return childrenReadBytes() - before; };
    form->comImage->setVisible(true);
    form->comImage->showPopup();
    QAbstractItemView* view = form->comImage->view();
    const long long beforePointing = childrenReadBytes();
    for (int i = 0; i < 5; ++i)
        QTest::keyClick(view, Qt::Key_Down);
    ASSERT_TRUE(waitFor([&] { return readBy(beforePointing) >= 400 * 300 * 3; }));
    const long long beforeChoice = childrenReadBytes();
    QTest::keyClick(view, Qt::Key_Return);
    EXPECT_EQ(index(), 5);
    EXPECT_FALSE(form->pictureToCome());
    // Its neighbours' small files may be read meanwhile, but not its own.
    EXPECT_LT(readBy(beforeChoice), 400 * 300 * 3 / 2);
    EXPECT_EQ(form->image1->picture().raster().size(), QSize(400, 300));
}

// Notes the caption each time a show puts the picture on screen.
class ShowRecorder : public QObject {
public:
    ShowRecorder(PictureBox& image1, const Label& caption) : caption_(caption) {
        image1.installEventFilter(this);
    }
    std::vector<QString> shown;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show)
            shown.push_back(caption_.caption());
        return false;
    }

private:
    const Label& caption_;
};

TEST_F(CommandsTest, RunningSlideshowAdvancesInOrderAndWraps) {
    form->catalogue.currentIndex = 7;
    form->tmrSlideshow->setInterval(20);
    ShowRecorder recorder(*form->image1, *form->lblFilename);
    const std::vector<QString>& shown = recorder.shown;
    key(Qt::Key_P);
    ASSERT_TRUE(waitFor([&] { return shown.size() >= 4; }));
    key(Qt::Key_P);
    EXPECT_EQ(shown[0], pathOf(8));
    EXPECT_EQ(shown[1], pathOf(9));
    EXPECT_EQ(shown[2], pathOf(0));
    EXPECT_EQ(shown[3], pathOf(1));
}

TEST_F(CommandsTest, SlideshowGoesOnWhileTheSpeedPromptIsOpen) {
    form->tmrSlideshow->setInterval(20);
    key(Qt::Key_P);
    std::int32_t before = -1;
    bool advanced = false;
    inputBox.whileOpen = [&] {
        before = index();
        advanced = waitFor([&] { return index() != before; }, 3000);
    };
    inputBox.reply = "2";
    key(Qt::Key_S);
    EXPECT_TRUE(advanced);
    EXPECT_EQ(form->tmrSlideshow->interval(), 2000);
    EXPECT_TRUE(form->tmrSlideshow->enabled());
}

TEST_F(CommandsTest, KeysWorkWhileTheNumberListHasTheFocus) {
    form->comImage->setVisible(true);
    form->activateWindow();
    form->comImage->setFocus();
    QTest::keyClick(form->comImage, Qt::Key_Right);
    EXPECT_EQ(index(), 1);
    QTest::keyClick(form->comImage, Qt::Key_P);
    EXPECT_TRUE(form->tmrSlideshow->enabled());
}

TEST_F(CommandsTest, ClicksOnThePanelBackgroundAndTheCaptionDoNothing) {
    form->fraOptions->setTop(550);
    click(form->fraOptions);
    click(form->lblFilename);
    EXPECT_EQ(index(), 0);
}

TEST_F(CommandsTest, ClickOnThePictureOrTheWindowShowsTheNext) {
    form->catalogue.randomMode = true;
    click(form->image1);
    EXPECT_EQ(index(), 1);
    QTest::mouseClick(form.get(), Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ(index(), 2);
    EXPECT_TRUE(random());
}

TEST_F(CommandsTest, EnterChangesAndAAddsFolders) {
    QTemporaryDir other;
    writePictures(other, 2, "other");
    chooser.answers = {other.path()};
    key(Qt::Key_Return);
    EXPECT_EQ(form->catalogue.lastIndex, 1);
    EXPECT_EQ(index(), 0);
    EXPECT_EQ(form->lblFilename->caption(), other.filePath("other00.bmp"));

    chooser.answers = {dir.path()};
    key(Qt::Key_A, Qt::ShiftModifier);
    EXPECT_EQ(form->catalogue.lastIndex, 11);
    EXPECT_EQ(form->comImage->count(), 12);

    key(Qt::Key_Enter, Qt::KeypadModifier); // cancelled: nothing changes
    EXPECT_EQ(form->catalogue.lastIndex, 11);
}

TEST_F(CommandsTest, EscapeEndsAndMMinimises) {
    key(Qt::Key_Escape);
    EXPECT_EQ(endRequests, 1);
    key(Qt::Key_M);
    EXPECT_TRUE(waitFor([this] { return form->isMinimized(); }));
}

TEST_F(CommandsTest, OtherKeysDoNothing) {
    for (Qt::Key k : {Qt::Key_X, Qt::Key_2, Qt::Key_F1, Qt::Key_Up, Qt::Key_Tab})
        key(k);
    EXPECT_EQ(index(), 0);
    EXPECT_FALSE(random());
    EXPECT_FALSE(form->tmrSlideshow->enabled());
}

// A key held down repeats faster than large pictures decode: each press
// still steps and shows at once, with the picture's own size, and its
// pixels follow unless the next press came first; pixels that cannot be
// decoded fail that show as a load failing at once would have.
// Pictures whose decoders are slow, fail late or never answer: every
// command is taken at once, and a picture that comes late is drawn when it
// comes, unless another show came first.
class SlowPictureTest : public WindowTest {
protected:
    void SetUp() override {
        QImage red(80, 60, QImage::Format_RGB32);
        red.fill(Qt::red);
        ASSERT_TRUE(red.save(dir.filePath("a.bmp")) && red.save(dir.filePath("d.bmp")));
        ASSERT_TRUE(writeBytes(dir.filePath("b.bmp"), "pictolune-test-fault:slow:1500\n"));
        ASSERT_TRUE(writeBytes(dir.filePath("c.bmp"), "pictolune-test-fault:slow-failure\n"));
        startAndShow({dir.path()});
    }
    // How long the window took to take `key`.
    qint64 press(Qt::Key key) {
        QElapsedTimer clock;
        clock.start();
        QTest::keyClick(form.get(), key);
        return clock.elapsed();
    }
    QString caption() const { return form->lblFilename->caption(); }
    const QImage& raster() const { return form->image1->picture().raster(); }
};

TEST_F(SlowPictureTest, AShowIsLaidOutAtOnceAndItsPixelsFollow) {
    press(Qt::Key_Right);
    EXPECT_EQ(form->catalogue.currentIndex, 1);
    EXPECT_EQ(caption(), dir.filePath("b.bmp"));
    ASSERT_TRUE(waitFor([this] { return form->image1->visible(); }));
    EXPECT_EQ(form->image1->width(), 64);
    EXPECT_TRUE(raster().isNull()) << "the pixels follow";
    ASSERT_TRUE(waitFor([this] { return !raster().isNull(); }));
    EXPECT_EQ(raster().pixel(0, 0), qRgb(255, 0, 255));
    EXPECT_EQ(caption(), dir.filePath("b.bmp"));
}

TEST_F(SlowPictureTest, PixelsThatFailLateFailTheirShow) {
    press(Qt::Key_Right); // b, whose pixels do not land before c's show
    press(Qt::Key_Right); // c, whose pixels fail
    EXPECT_EQ(form->catalogue.currentIndex, 2);
    EXPECT_EQ(caption(), dir.filePath("c.bmp"));
    ASSERT_TRUE(waitFor([this] { return !form->pictureToCome(); }));
    EXPECT_FALSE(form->image1->visible());
    EXPECT_TRUE(form->image1->picture().isEmpty());
    EXPECT_EQ(caption(), dir.filePath("b.bmp"));
    QTest::qWait(1600);
    EXPECT_FALSE(form->image1->visible()) << "b's pixels came after c's show";
    press(Qt::Key_Right);
    settle();
    EXPECT_EQ(caption(), dir.filePath("d.bmp"));
    EXPECT_EQ(raster().pixel(0, 0), qRgb(255, 0, 0));
}

// A decoder that never answers holds up nothing: the show of its picture
// and the keys after it are taken at once (well within a second, even on a
// busy machine).
TEST_F(SlowPictureTest, KeysAreTakenAtOnceWhileADecoderIsSilent) {
    const QString silent = dir.filePath("s.bmp");
    ASSERT_TRUE(writeBytes(silent, "pictolune-test-fault:silent\n"));
    form->catalogue.imagePaths[3] = silent;
    form->catalogue.currentIndex = 2;
    EXPECT_LT(press(Qt::Key_Right), 1000);
    EXPECT_EQ(caption(), silent);
    EXPECT_TRUE(form->pictureToCome());
    EXPECT_LT(press(Qt::Key_Escape), 1000);
    EXPECT_EQ(endRequests, 1);
}

} // namespace
