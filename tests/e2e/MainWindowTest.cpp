// The main window as a person sees it on a real X display: maximised, black,
// the picture fitted and centred, the options panel rising from the bottom
// edge, and the folder dialog at start.

#include "e2e/ViewerTest.h"
#include "support/TestPictures.h"

#include <QDir>
#include <QFileInfo>

#include <cmath>

namespace pictolune::e2e {
namespace {

using MainWindow = ViewerTest;

// The rectangle of non-black pixels in the client area, which is where the
// picture is drawn when the panel is out of sight.
QRect pictureOnScreen(const QImage& shot, const QRect& client) {
    return boundingBox(shot, client, [](QRgb c) { return !isBlack(c); });
}

::testing::AssertionResult sameRect(const QRect& found, const QRectF& expected, int tolerance) {
    const bool close = std::abs(found.left() - expected.left()) <= tolerance &&
                       std::abs(found.top() - expected.top()) <= tolerance &&
                       std::abs(found.x() + found.width() - expected.right()) <= tolerance &&
                       std::abs(found.y() + found.height() - expected.bottom()) <= tolerance;
    if (close) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "picture on screen at x " << found.x() << " y " << found.y() << " size "
           << found.width() << "x" << found.height() << "; expected x " << expected.x() << " y "
           << expected.y() << " size " << expected.width() << "x" << expected.height();
}

// The options panel draws white text on black: count its light pixels in
// the bottom band of the client area.
int lightPixelsInBand(const QImage& shot, const QRect& client) {
    const QRect band(client.left(), client.bottom() - 49, client.width(), 50);
    return countPixels(shot, band, isLight);
}

TEST_F(MainWindow, OpensMaximisedAndBlackWithTheFirstPictureFittedAndCentred) {
    // Larger than the screen in both directions, so the fit has to scale it
    // down; a border of another colour shows that nothing is cut off.
    const QSize big(1600, 1000);
    const QString folder = pictures_.filePath("fit");
    QDir().mkpath(folder);
    ASSERT_TRUE(writePicture(folder + "/a1.bmp", big, colours::magenta, colours::yellow, 40));
    // Smaller than the window: shown at its own size, never enlarged.
    const QSize small(300, 200);
    ASSERT_TRUE(writePicture(folder + "/a2.bmp", small, colours::cyan, colours::orange, 10));

    ASSERT_TRUE(startViewer({folder}));

    const bool maximised = pollUntil(
        [&] {
            const QStringList state = x_->windowState(window_);
            return state.contains("_NET_WM_STATE_MAXIMIZED_VERT") &&
                   state.contains("_NET_WM_STATE_MAXIMIZED_HORZ");
        },
        kChangeTimeoutMs);
    EXPECT_TRUE(maximised) << "window state: " << x_->windowState(window_).join(' ').toStdString();
    const QRect client = clientArea();
    // openbox keeps its title bar above a maximised window; the rest of the
    // screen is the client area.
    EXPECT_EQ(client.width(), XSession::kScreenWidth);
    EXPECT_GE(client.height(), XSession::kScreenHeight - 40);
    EXPECT_EQ(client.bottom(), XSession::kScreenHeight - 1);

    ASSERT_TRUE(waitForCentreColour(colours::magenta, kWindowTimeoutMs));
    const QRectF expectedBig = expectedPictureRect(big, client.size()).translated(client.topLeft());
    QRect found;
    const bool placed = pollUntil(
        [&] {
            found = pictureOnScreen(screenshot(), client);
            return sameRect(found, expectedBig, 2);
        },
        kChangeTimeoutMs);
    EXPECT_TRUE(placed) << sameRect(found, expectedBig, 2).message();

    // The border is visible on all four sides, the inside is the fill, and
    // the margins beside the picture are the window's black.
    const QImage shot = lastShot_;
    const QPoint mid = found.center();
    const int inset = 8;
    EXPECT_TRUE(nearColour(shot.pixel(mid), colours::magenta.rgb()));
    for (const QPoint edge :
         {QPoint(found.left() + inset, mid.y()), QPoint(found.right() - inset, mid.y()),
          QPoint(mid.x(), found.top() + inset), QPoint(mid.x(), found.bottom() - inset)}) {
        EXPECT_TRUE(nearColour(shot.pixel(edge), colours::yellow.rgb()))
            << "border at " << edge.x() << "," << edge.y() << " is "
            << describe(shot.pixel(edge)).toStdString();
    }
    ASSERT_GT(found.left() - client.left(), 4) << "expected black margins left and right";
    for (const QPoint margin :
         {QPoint(client.left() + 2, client.top() + 2), QPoint(client.left() + 2, mid.y()),
          QPoint(client.right() - 2, mid.y()), QPoint(client.right() - 2, client.bottom() - 2)}) {
        EXPECT_TRUE(isBlack(shot.pixel(margin)))
            << "background at " << margin.x() << "," << margin.y() << " is "
            << describe(shot.pixel(margin)).toStdString();
    }

    // The second picture is smaller than the window: own size, centred.
    ASSERT_TRUE(press("Right"));
    ASSERT_TRUE(waitForCentreColour(colours::cyan));
    const QRectF expectedSmall =
        expectedPictureRect(small, client.size()).translated(client.topLeft());
    ASSERT_EQ(expectedSmall.size(), QSizeF(small));
    const bool placedSmall = pollUntil(
        [&] {
            found = pictureOnScreen(screenshot(), client);
            return sameRect(found, expectedSmall, 1);
        },
        kChangeTimeoutMs);
    EXPECT_TRUE(placedSmall) << sameRect(found, expectedSmall, 1).message();
    EXPECT_TRUE(
        nearColour(lastShot_.pixel(found.left() + 3, found.center().y()), colours::orange.rgb()));
    EXPECT_TRUE(viewerAlive());
}

// A metafile is a picture like any other: fitted and centred. Its frame is
// 1440 units across; at 60 units to the inch it is 24 inches, 2304 pixels,
// square, and so larger than the screen.
TEST_F(MainWindow, MetafileIsFittedAndCentredLikeAnyPicture) {
    QByteArray metafile = testing::smallMetafile();
    const int unitsPerInch = 60;
    metafile[14] = char(unitsPerInch & 0xff);
    metafile[15] = char(unitsPerInch >> 8);
    quint16 checksum = 0;
    for (int i = 0; i < 20; i += 2)
        checksum ^= quint16(quint8(metafile[i]) | quint8(metafile[i + 1]) << 8);
    metafile[20] = char(checksum & 0xff);
    metafile[21] = char(checksum >> 8);
    const QString folder = pictures_.filePath("metafile");
    QDir().mkpath(folder);
    ASSERT_TRUE(testing::writeBytes(folder + "/drawing.wmf", metafile));

    ASSERT_TRUE(startViewer({folder}));
    const QRect client = clientArea();
    const QRectF expected =
        expectedPictureRect(QSizeF(2304, 2304), client.size()).translated(client.topLeft());
    QRect found;
    const bool placed = pollUntil(
        [&] {
            found = pictureOnScreen(screenshot(), client);
            return sameRect(found, expected, 2);
        },
        kChangeTimeoutMs);
    EXPECT_TRUE(placed) << sameRect(found, expected, 2).message();
}

TEST_F(MainWindow, PanelRisesAtTheBottomEdgeAndDropsWhenThePointerMovesUp) {
    // A wide picture leaves the bottom band of the window black.
    const QString folder = makeFolder("wide", {{"wide.bmp", colours::green, QSize(1600, 400)}});
    ASSERT_TRUE(startViewer({folder}));
    ASSERT_TRUE(waitForCentreColour(colours::green, kWindowTimeoutMs));
    const QRect client = clientArea();
    const QRect band(client.left(), client.bottom() - 49, client.width(), 50);

    // Out of sight at first: the band is plain black.
    EXPECT_EQ(countPixels(screenshot(), band, [](QRgb c) { return !isBlack(c); }), 0);

    // Pointer into the band, over the black below the picture.
    ASSERT_TRUE(x_->mouseMove(client.center().x(), client.bottom() - 10));
    const bool rose =
        pollUntil([&] { return lightPixelsInBand(screenshot(), client) > 100; }, kChangeTimeoutMs);
    ASSERT_TRUE(rose) << "the options panel did not appear at the bottom edge";

    // Once the slide is over the panel stands still, entirely inside the
    // band: nothing of it above the band, its text clear of the bottom edge.
    QImage previous;
    const bool settled = pollUntil(
        [&] {
            const QImage shot = screenshot();
            const bool same = !previous.isNull() && shot.copy(band) == previous.copy(band);
            previous = shot;
            return same;
        },
        kChangeTimeoutMs, 100);
    ASSERT_TRUE(settled) << "the panel kept moving";
    const QRect text = boundingBox(lastShot_, client, isLight);
    EXPECT_GE(text.top(), band.top()) << "panel text reaches above the band, at y " << text.top();
    EXPECT_LT(text.bottom(), client.bottom() - 2) << "panel text is cut off at the bottom edge";
    EXPECT_LT(text.left(), client.left() + 40) << "the first command sits at the left edge";
    EXPECT_TRUE(nearColour(lastShot_.pixel(clientCentre()), colours::green.rgb()));

    // Pointer up, out of the band: the panel drops out of sight at once.
    ASSERT_TRUE(x_->mouseMove(client.center().x(), client.center().y()));
    const bool dropped =
        pollUntil([&] { return lightPixelsInBand(screenshot(), client) == 0; }, kChangeTimeoutMs);
    EXPECT_TRUE(dropped) << "the options panel stayed in view";
    EXPECT_EQ(countPixels(lastShot_, band, [](QRgb c) { return !isBlack(c); }), 0);
    EXPECT_TRUE(viewerAlive());
}

TEST_F(MainWindow, RisenPanelShowsTheNumberList) {
    const QString folder = makeFolder("list", {{"one.bmp", colours::green, QSize(1600, 400)},
                                               {"two.bmp", colours::blue, QSize(1600, 400)}});
    ASSERT_TRUE(startViewer({folder}));
    ASSERT_TRUE(waitForCentreColour(colours::green, kWindowTimeoutMs));
    const QRect client = clientArea();
    ASSERT_TRUE(x_->mouseMove(client.center().x(), client.bottom() - 10));
    ASSERT_TRUE(
        pollUntil([&] { return lightPixelsInBand(screenshot(), client) > 100; }, kChangeTimeoutMs));

    // The list's place is fixed when the window is built, from its restored
    // width of 568 pixels: 17957 twips, about 1197 pixels, from the panel's
    // left edge, 18 pixels below its top, about 67 pixels wide. At full view
    // the panel's top is 50 pixels above the bottom of the client area.
    const QRect list(client.left() + 1190, client.bottom() - 49 + 14, 82, 32);
    int drawn = 0;
    const bool shown = pollUntil(
        [&] {
            drawn = countPixels(screenshot(), list, [](QRgb c) { return !isBlack(c); });
            return drawn > 40;
        },
        kChangeTimeoutMs);
    EXPECT_TRUE(shown) << "nothing of the number list is drawn at the right of the panel (" << drawn
                       << " pixels)";
    EXPECT_TRUE(viewerAlive());
}

TEST_F(MainWindow, PanelRisesWithThePointerOverAPictureThatCoversTheBand) {
    // Taller than the window: fitted to the full height, so the picture
    // covers the bottom band where the pointer goes.
    const QString folder = makeFolder("tall", {{"tall.bmp", colours::orange, QSize(900, 1200)}});
    ASSERT_TRUE(startViewer({folder}));
    ASSERT_TRUE(waitForCentreColour(colours::orange, kWindowTimeoutMs));
    const QRect client = clientArea();
    const QPoint inBand(client.center().x(), client.bottom() - 10);
    ASSERT_TRUE(nearColour(screenshot().pixel(inBand), colours::orange.rgb()))
        << "the picture should cover the band under the pointer";

    ASSERT_TRUE(x_->mouseMove(inBand.x(), inBand.y()));
    const bool rose =
        pollUntil([&] { return lightPixelsInBand(screenshot(), client) > 100; }, kChangeTimeoutMs);
    ASSERT_TRUE(rose) << "the options panel did not rise over the picture";
    // In front of the picture: the panel's black hides it across the band.
    const bool covered = pollUntil(
        [&] {
            const QImage shot = screenshot();
            return isBlack(shot.pixel(client.center().x(), client.bottom() - 2)) &&
                   isBlack(shot.pixel(client.center().x(), client.bottom() - 47));
        },
        kChangeTimeoutMs);
    EXPECT_TRUE(covered) << "the panel does not cover the picture at the bottom";

    ASSERT_TRUE(x_->mouseMove(client.center().x(), client.top() + 100));
    const bool dropped = pollUntil(
        [&] {
            const QImage shot = screenshot();
            return lightPixelsInBand(shot, client) == 0 &&
                   nearColour(shot.pixel(inBand), colours::orange.rgb());
        },
        kChangeTimeoutMs);
    EXPECT_TRUE(dropped) << "the picture did not come back when the panel dropped";
    EXPECT_TRUE(viewerAlive());
}

TEST_F(MainWindow, CarriesItsSixteenPixelIcon) {
    // The icon as the window manager receives it: _NET_WM_ICON holds width,
    // height, then one non-premultiplied ARGB value per pixel.
    const QString source = QFileInfo(QStringLiteral(__FILE__))
                               .absoluteDir()
                               .filePath("../../data/icons/pictolune.png");
    const QImage icon = QImage(source).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(icon.size(), QSize(16, 16)) << source.toStdString();

    const QString folder = makeFolder("icon", {{"i1.bmp", colours::green}});
    ASSERT_TRUE(startViewer({folder}));
    const ToolResult result =
        x_->run("xprop", {"-id", QString::number(window_), "-notype", "32c", "_NET_WM_ICON"});
    ASSERT_TRUE(result.ok()) << result.err.toStdString();
    const QByteArray text = result.out.mid(result.out.indexOf('=') + 1);
    std::vector<quint32> values;
    for (const QByteArray& value : text.split(',')) {
        values.push_back(value.trimmed().toUInt());
    }
    ASSERT_GE(values.size(), 2u);
    ASSERT_EQ(values[0], 16u);
    ASSERT_EQ(values[1], 16u);
    ASSERT_GE(values.size(), 2u + 256u);
    int differing = 0;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const QRgb expected = icon.pixel(x, y);
            const quint32 actual = values[2 + y * 16 + x];
            const bool same = qAlpha(expected) == 0 ? qAlpha(actual) == 0 : actual == expected;
            differing += same ? 0 : 1;
        }
    }
    EXPECT_EQ(differing, 0) << "pixels of the window's icon differ from " << source.toStdString();
    EXPECT_TRUE(viewerAlive());
}

TEST_F(MainWindow, WithoutArgumentsTheFolderComesFromTheDialog) {
    const QString folder =
        makeFolder("chosen", {{"first.jpeg", colours::blue}, {"second.tiff", colours::yellow}});
    launchViewer({});
    const qulonglong dialog =
        x_->findWindow("^Select Directory$", viewer_->processId(), kWindowTimeoutMs);
    ASSERT_NE(dialog, 0u) << "no folder dialog at start";
    // The dialog comes before the main window is on screen.
    EXPECT_EQ(x_->findWindow("^Pictolune$", viewer_->processId(), 0), 0u);

    ASSERT_TRUE(answerDialog("Select Directory", folder, false));
    ASSERT_TRUE(waitForMainWindow());
    EXPECT_TRUE(waitForCentreColour(colours::blue, kWindowTimeoutMs));
    ASSERT_TRUE(press("Right"));
    EXPECT_TRUE(waitForCentreColour(colours::yellow));
    EXPECT_TRUE(viewerAlive());
}

// "Open With" in a file manager names one picture, and cameras write
// upper-case endings, which a folder's own scan leaves out.
TEST_F(MainWindow, APictureNamedOnTheCommandLineIsShownFirstWhateverItsEndingsCase) {
    const QString folder = makeFolder("camera", {{"a.jpg", colours::red},
                                                 {"IMG_0002.JPG", colours::green},
                                                 {"c.jpg", colours::blue},
                                                 {"b-kite.png", colours::yellow}});

    // A picture Pictolune does not show is refused by name, before any window.
    launchViewer({folder + "/b-kite.png"});
    ASSERT_TRUE(viewer_->waitForFinished(kWindowTimeoutMs));
    EXPECT_EQ(viewer_->exitCode(), 2);
    EXPECT_TRUE(x_->programLog(viewer_).contains(folder + "/b-kite.png: not a picture"))
        << x_->programLog(viewer_).toStdString();
    EXPECT_EQ(x_->findWindow("Pictolune", viewer_->processId(), 0), 0u);

    // The named picture first, then on in the folder's order, where it has
    // its place: a.jpg, c.jpg, IMG_0002.JPG.
    ASSERT_TRUE(startViewer({folder + "/IMG_0002.JPG"}));
    ASSERT_TRUE(waitForCentreColour(colours::green, kWindowTimeoutMs));
    for (const QColor& colour : {colours::red, colours::blue, colours::green}) {
        ASSERT_TRUE(press("Right"));
        ASSERT_TRUE(waitForCentreColour(colour));
    }
    ASSERT_TRUE(press("Escape"));
    ASSERT_TRUE(viewer_->waitForFinished(kChangeTimeoutMs));

    // The folder alone lists the two exact endings only.
    ASSERT_TRUE(startViewer({folder}));
    ASSERT_TRUE(waitForCentreColour(colours::red, kWindowTimeoutMs));
    for (const QColor& colour : {colours::blue, colours::red}) {
        ASSERT_TRUE(press("Right"));
        ASSERT_TRUE(waitForCentreColour(colour));
    }
    EXPECT_TRUE(viewerAlive());
}

} // namespace
} // namespace pictolune::e2e
