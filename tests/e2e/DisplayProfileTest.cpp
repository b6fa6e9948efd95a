#include "platform/loading/DisplayProfile.h"
#include "e2e/ViewerTest.h"
#include "e2e/XSession.h"
#include "support/TestPictures.h"
#include "support/TestProfiles.h"

#include <QDir>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <xcb/xcb.h>

namespace pictolune::e2e {
namespace {

xcb_atom_t profileAtom(xcb_connection_t* connection) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, 12, "_ICC_PROFILE"), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// What a colour manager does: `value` in the root window's _ICC_PROFILE, as
// items of `format` bits.
void putOnRoot(xcb_connection_t* connection, const QByteArray& value, int format = 8) {
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, root, profileAtom(connection),
                        XCB_ATOM_CARDINAL, quint8(format), quint32(value.size() * 8 / format),
                        value.constData());
    xcb_flush(connection);
}

// What a colour manager leaves on the root window, and what the viewer makes
// of it: the profile when it is one, sRGB (no profile) otherwise.
TEST(DisplayProfileTest, TakesTheProfileOnTheRootWindowWhenThereIsOne) {
    if (QStandardPaths::findExecutable("Xvfb").isEmpty())
        GTEST_SKIP() << "Xvfb is not installed; scripts/install-deps.sh installs it";
    XSession x;
    QString error;
    ASSERT_TRUE(x.start(&error)) << error.toStdString();
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(x.display().toLocal8Bit().constData(), &screen);
    ASSERT_EQ(xcb_connection_has_error(connection), 0);
    ASSERT_NE(profileAtom(connection), xcb_atom_t(XCB_ATOM_NONE));

    const QByteArray profile = testing::wideGamutProfile();
    EXPECT_TRUE(rootWindowIccProfile(connection, screen).isEmpty()) << "none set yet";
    struct Case {
        std::string name;
        QByteArray value;
        int format;
        QByteArray taken;
    };
    const std::vector<Case> cases = {
        {"a profile", profile, 8, profile},
        {"no profile", QByteArray(600, 'x'), 8, {}},
        {"a truncated profile", profile.left(300), 8, {}},
        {"32-bit items", profile, 32, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        putOnRoot(connection, c.value, c.format);
        EXPECT_EQ(rootWindowIccProfile(connection, screen), c.taken);
    }
    EXPECT_TRUE(rootWindowIccProfile(connection, screen + 1).isEmpty()) << "no such screen";
    xcb_disconnect(connection);
}

using ColourManagedDisplay = ViewerTest;

// Under a colour manager's wide-gamut profile, an sRGB picture is shown
// converted into the display's space, as lcms2 converts its colour.
TEST_F(ColourManagedDisplay, PicturesAreShownInTheDisplaysSpace) {
    const QByteArray wide = testing::wideGamutProfile();
    xcb_connection_t* connection = xcb_connect(x_->display().toLocal8Bit().constData(), nullptr);
    ASSERT_EQ(xcb_connection_has_error(connection), 0);
    putOnRoot(connection, wide);
    // Read back: set, and seen by the server before the viewer asks.
    ASSERT_EQ(rootWindowIccProfile(connection, 0), wide);
    xcb_disconnect(connection);

    QImage picture(640, 480, QImage::Format_RGB32);
    picture.fill(colours::orange);
    const QString folder = pictures_.filePath("tagged");
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(testing::writeBytes(folder + "/srgb.tiff",
                                    testing::tiffWithProfile(picture, testing::srgbProfile())));
    const QRgb expected =
        testing::lcmsReference(picture.copy(0, 0, 1, 1), testing::srgbProfile(), wide).pixel(0, 0);
    ASSERT_FALSE(nearColour(expected, colours::orange.rgb(), 8)) << "a colour that proves nothing";

    ASSERT_TRUE(startViewer({folder}));
    QRgb seen = 0;
    EXPECT_TRUE(pollUntil(
        [&] {
            seen = colourAt(screenshot(), clientCentre());
            return nearColour(seen, expected, 2);
        },
        kChangeTimeoutMs))
        << "the picture shows " << describe(seen).toStdString() << ", not "
        << describe(expected).toStdString();
}

} // namespace
} // namespace pictolune::e2e
