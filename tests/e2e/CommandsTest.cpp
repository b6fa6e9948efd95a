// The commands in the real program: keys, clicks and the two dialogs that
// commands open, each checked on the screen or on the process.

#include "e2e/ViewerTest.h"

#include <QThread>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

namespace pictolune::e2e {
namespace {

using Commands = ViewerTest;

// The width of the title text in a window's title bar: openbox draws the
// title centred in the 19 pixels above the client area. Columns whose pixels
// stand out from the bar's colour (the commonest in each row) are text,
// icon or buttons; the title is the run of them across the middle, with gaps
// no wider than a space.
int titleTextWidth(const QImage& shot, const QRect& client) {
    const QRect bar(client.left(), client.top() - 19, client.width(), 19);
    std::vector<bool> marked(static_cast<size_t>(bar.width()));
    for (int y = bar.top(); y <= bar.bottom(); ++y) {
        std::map<QRgb, int> counts;
        for (int x = bar.left(); x <= bar.right(); ++x) {
            ++counts[shot.pixel(x, y)];
        }
        const QRgb background =
            std::max_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
                return a.second < b.second;
            })->first;
        for (int x = bar.left(); x <= bar.right(); ++x) {
            if (!nearColour(shot.pixel(x, y), background, 60)) {
                marked[static_cast<size_t>(x - bar.left())] = true;
            }
        }
    }
    constexpr int kSpace = 8;
    std::vector<std::pair<int, int>> runs;
    for (int x = 0; x < bar.width(); ++x) {
        if (!marked[static_cast<size_t>(x)]) {
            continue;
        }
        if (!runs.empty() && x - runs.back().second <= kSpace + 1) {
            runs.back().second = x;
        } else {
            runs.emplace_back(x, x);
        }
    }
    const int middle = bar.width() / 2;
    for (const auto& [first, last] : runs) {
        if (first <= middle && middle <= last) {
            return last - first + 1;
        }
    }
    return 0;
}

TEST_F(Commands, ArrowsOneAndZeroMoveThroughThePicturesInNaturalOrder) {
    // a10 sorts after a3 as a person counts, not after a1.
    const QString folder = makeFolder("four", {{"a1.bmp", colours::red},
                                               {"a2.bmp", colours::green},
                                               {"a3.bmp", colours::blue},
                                               {"a10.bmp", colours::yellow}});
    ASSERT_TRUE(startViewer({folder}));
    ASSERT_TRUE(waitForCentreColour(colours::red, kWindowTimeoutMs));

    const std::vector<std::pair<QString, QColor>> steps = {
        {"Right", colours::green}, {"Right", colours::blue},  {"Right", colours::yellow},
        {"Right", colours::red},   {"Left", colours::yellow}, {"1", colours::red},
        {"0", colours::yellow},    {"Left", colours::blue},   {"1", colours::red},
    };
    for (const auto& [key, colour] : steps) {
        ASSERT_TRUE(press(key));
        ASSERT_TRUE(waitForCentreColour(colour)) << "after key " << key.toStdString();
    }
    EXPECT_TRUE(viewerAlive());
}

TEST_F(Commands, PStartsTheSlideshowAndPStopsIt) {
    const QString folder = makeFolder("show", {{"s1.bmp", colours::red},
                                               {"s2.bmp", colours::green},
                                               {"s3.bmp", colours::blue},
                                               {"s4.bmp", colours::yellow}});
    ASSERT_TRUE(startViewer({folder}));
    ASSERT_TRUE(waitForCentreColour(colours::red, kWindowTimeoutMs));

    ASSERT_TRUE(press("p"));
    EXPECT_TRUE(waitForCentreColour(colours::green));
    EXPECT_TRUE(waitForCentreColour(colours::blue)) << "the slideshow went no further";

    ASSERT_TRUE(press("p"));
    QThread::msleep(400);
    const QRgb stoppedAt = colourAt(screenshot(), clientCentre());
    // Well over two intervals of the 1.5 s default without a change.
    const bool changed = pollUntil(
        [&] { return !nearColour(colourAt(screenshot(), clientCentre()), stoppedAt); }, 4000, 200);
    EXPECT_FALSE(changed) << "the picture still changes after the second P";
    EXPECT_TRUE(viewerAlive());
}

TEST_F(Commands, SpeedFromTheInputBoxSetsThePaceOfTheSlideshow) {
    const std::vector<QColor> ring = {colours::red,    colours::green,   colours::blue,
                                      colours::yellow, colours::magenta, colours::cyan,
                                      colours::orange, colours::brown};
    std::vector<TestPicture> pictures;
    for (size_t i = 0; i < ring.size(); ++i) {
        pictures.push_back({QString("p%1.bmp").arg(i + 1), ring[i]});
    }
    const QString folder = makeFolder("pace", pictures);
    ASSERT_TRUE(startViewer({folder}));
    ASSERT_TRUE(waitForCentreColour(colours::red, kWindowTimeoutMs));

    ASSERT_TRUE(press("s"));
    // The prompt's title, with the " — Pictolune" the desktop sees, is drawn
    // whole: as wide as when the prompt is widened to leave room to spare.
    const qulonglong prompt =
        x_->findWindow("^Slideshow Speed$", viewer_->processId(), kWindowTimeoutMs);
    ASSERT_NE(prompt, 0u);
    auto settledTitleWidth = [&](int promptWidth) {
        int width = 0;
        int previous = -1;
        pollUntil(
            [&] {
                const auto geometry = x_->geometry(prompt);
                if (!geometry || (promptWidth > 0 && geometry->client.width() != promptWidth)) {
                    return false;
                }
                previous = std::exchange(width, titleTextWidth(screenshot(), geometry->client));
                return width > 0 && width == previous;
            },
            kChangeTimeoutMs, 100);
        return width;
    };
    const int shown = settledTitleWidth(0);
    const int height = x_->geometry(prompt)->client.height();
    ASSERT_TRUE(
        x_->run("xdotool", {"windowsize", QString::number(prompt), "1000", QString::number(height)})
            .ok());
    const int whole = settledTitleWidth(1000);
    EXPECT_GT(whole, 150) << "the title text was not found in the title bar";
    EXPECT_EQ(shown, whole) << "the prompt's title is cut to " << shown << " of " << whole
                            << " pixels";
    ASSERT_TRUE(answerDialog("Slideshow Speed", "0.2", true));
    ASSERT_TRUE(press("p"));

    // Count the pictures the show moves on by, from the colours seen. At the
    // 1.5 s default, ten steps would take fifteen seconds; at 0.2 s they take
    // two, so nine seconds leave a slow machine plenty of room.
    auto indexOf = [&](QRgb colour) {
        for (size_t i = 0; i < ring.size(); ++i) {
            if (nearColour(colour, ring[i].rgb())) {
                return static_cast<int>(i);
            }
        }
        return -1;
    };
    int last = 0;
    int advanced = 0;
    const bool fast = pollUntil(
        [&] {
            const int index = indexOf(colourAt(screenshot(), clientCentre()));
            if (index >= 0 && index != last) {
                advanced +=
                    (index - last + static_cast<int>(ring.size())) % static_cast<int>(ring.size());
                last = index;
            }
            return advanced >= 10;
        },
        9000, 20);
    EXPECT_TRUE(fast) << "only " << advanced << " pictures in nine seconds after speed 0.2";
    EXPECT_TRUE(viewerAlive());
}

TEST_F(Commands, EnterReplacesTheFolderAndAAddsOneAfterIt) {
    const QString first =
        makeFolder("first", {{"a1.bmp", colours::red}, {"a2.bmp", colours::green}});
    const QString second = makeFolder(
        "second",
        {{"b1.bmp", colours::blue}, {"b2.bmp", colours::yellow}, {"b3.bmp", colours::magenta}});
    const QString added =
        makeFolder("added", {{"c1.jpg", colours::cyan}, {"c2.jpg", colours::orange}});
    ASSERT_TRUE(startViewer({first}));
    ASSERT_TRUE(waitForCentreColour(colours::red, kWindowTimeoutMs));
    ASSERT_TRUE(press("Right"));
    ASSERT_TRUE(waitForCentreColour(colours::green));

    // Enter: the new folder replaces the list and shows from its first picture.
    ASSERT_TRUE(press("Return"));
    ASSERT_TRUE(answerDialog("Select Directory", second, false));
    ASSERT_TRUE(waitForCentreColour(colours::blue));
    for (const QColor& colour : {colours::yellow, colours::magenta, colours::blue}) {
        ASSERT_TRUE(press("Right"));
        ASSERT_TRUE(waitForCentreColour(colour)) << "the old folder's pictures are still listed";
    }

    // A: the added folder's pictures come after the others; the picture on
    // show stays.
    ASSERT_TRUE(press("a"));
    ASSERT_TRUE(answerDialog("Select Directory", added, false));
    ASSERT_TRUE(waitForCentreColour(colours::blue));
    const std::vector<std::pair<QString, QColor>> steps = {{"0", colours::orange},
                                                           {"Left", colours::cyan},
                                                           {"Left", colours::magenta},
                                                           {"1", colours::blue}};
    for (const auto& [key, colour] : steps) {
        ASSERT_TRUE(press(key));
        ASSERT_TRUE(waitForCentreColour(colour)) << "after key " << key.toStdString();
    }
    EXPECT_TRUE(viewerAlive());
}

TEST_F(Commands, AClickOnThePictureOrTheWindowShowsTheNextPicture) {
    const QString folder = makeFolder("click", {{"c1.bmp", colours::red, QSize(400, 300)},
                                                {"c2.bmp", colours::green, QSize(400, 300)},
                                                {"c3.bmp", colours::blue, QSize(400, 300)}});
    ASSERT_TRUE(startViewer({folder}));
    ASSERT_TRUE(waitForCentreColour(colours::red, kWindowTimeoutMs));
    const QRect client = clientArea();

    // On the picture.
    ASSERT_TRUE(x_->mouseMove(client.center().x(), client.center().y()));
    ASSERT_TRUE(x_->click(1));
    ASSERT_TRUE(waitForCentreColour(colours::green));

    // On the black around it, well above the panel's band.
    const QPoint black(client.left() + 40, client.top() + 40);
    ASSERT_TRUE(isBlack(screenshot().pixel(black)));
    ASSERT_TRUE(x_->mouseMove(black.x(), black.y()));
    ASSERT_TRUE(x_->click(1));
    EXPECT_TRUE(waitForCentreColour(colours::blue));
    EXPECT_TRUE(viewerAlive());
}

TEST_F(Commands, PanelLabelsActAndThePanelBackgroundDoesNot) {
    // Wide pictures leave the bottom band black, so the panel rises there.
    const QString folder = makeFolder("labels", {{"l1.bmp", colours::red, QSize(1600, 400)},
                                                 {"l2.bmp", colours::green, QSize(1600, 400)},
                                                 {"l3.bmp", colours::blue, QSize(1600, 400)}});
    ASSERT_TRUE(startViewer({folder}));
    ASSERT_TRUE(waitForCentreColour(colours::red, kWindowTimeoutMs));
    const QRect client = clientArea();
    const QRect band(client.left(), client.bottom() - 49, client.width(), 50);

    // Over an empty stretch of the panel, right of the caption.
    const QPoint background(client.left() + 1100, client.bottom() - 5);
    ASSERT_TRUE(x_->mouseMove(background.x(), background.y()));
    ASSERT_TRUE(pollUntil([&] { return countPixels(screenshot(), band, isLight) > 100; },
                          kChangeTimeoutMs));
    QImage previous;
    ASSERT_TRUE(pollUntil(
        [&] {
            const QImage shot = screenshot();
            const bool same = !previous.isNull() && shot.copy(band) == previous.copy(band);
            previous = shot;
            return same;
        },
        kChangeTimeoutMs, 100));

    // The labels sit 20 pixels below the panel's top; their left edges are
    // fixed from the restored width: "Previous Image" at about 137 pixels,
    // "Next Image" at about 239, the caption at 680.
    const int labelY = band.top() + 20 + 6;
    auto clickAt = [&](int x, int y) { return x_->mouseMove(x, y) && x_->click(1); };

    ASSERT_TRUE(clickAt(background.x(), background.y()));
    ASSERT_TRUE(clickAt(client.left() + 700, labelY));
    // Neither click may reach the window's handler, which would step on.
    EXPECT_FALSE(pollUntil(
        [&] { return !nearColour(colourAt(screenshot(), clientCentre()), colours::red.rgb()); },
        1500, 100))
        << "a click on the panel's background or caption changed the picture";

    ASSERT_TRUE(clickAt(client.left() + 239 + 15, labelY));
    EXPECT_TRUE(waitForCentreColour(colours::green)) << "\"Next Image\" did not step on";
    ASSERT_TRUE(clickAt(client.left() + 137 + 15, labelY));
    EXPECT_TRUE(waitForCentreColour(colours::red)) << "\"Previous Image\" did not step back";
    ASSERT_TRUE(clickAt(client.left() + 137 + 15, labelY));
    EXPECT_TRUE(waitForCentreColour(colours::blue)) << "\"Previous Image\" did not wrap";
    EXPECT_TRUE(viewerAlive());
}

TEST_F(Commands, MMinimisesTheWindow) {
    const QString folder = makeFolder("min", {{"m1.bmp", colours::green}});
    ASSERT_TRUE(startViewer({folder}));
    ASSERT_TRUE(waitForCentreColour(colours::green, kWindowTimeoutMs));

    ASSERT_TRUE(press("m"));
    const bool minimised = pollUntil(
        [&] {
            const auto geometry = x_->geometry(window_);
            return x_->windowState(window_).contains("_NET_WM_STATE_HIDDEN") ||
                   (geometry && geometry->mapState == "IsUnMapped");
        },
        kChangeTimeoutMs);
    EXPECT_TRUE(minimised) << "window state: " << x_->windowState(window_).join(' ').toStdString();
    EXPECT_TRUE(viewerAlive());
}

TEST_F(Commands, EscEndsTheProgramWithStatusZero) {
    const QString folder = makeFolder("esc", {{"e1.bmp", colours::blue}});
    ASSERT_TRUE(startViewer({folder}));
    ASSERT_TRUE(waitForCentreColour(colours::blue, kWindowTimeoutMs));

    ASSERT_TRUE(press("Escape"));
    ASSERT_TRUE(viewer_->waitForFinished(kChangeTimeoutMs)) << "still running after Esc";
    EXPECT_EQ(viewer_->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(viewer_->exitCode(), 0);
}

} // namespace
} // namespace pictolune::e2e
