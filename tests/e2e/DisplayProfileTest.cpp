#include "platform/DisplayProfile.h"
#include "e2e/XSession.h"
#include "support/TestProfiles.h"

#include <QStandardPaths>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <xcb/xcb.h>

namespace pictolune::e2e {
namespace {

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
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, 12, "_ICC_PROFILE"), nullptr);
    ASSERT_NE(atom, nullptr);

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
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, root, atom->atom, XCB_ATOM_CARDINAL,
                            quint8(c.format), quint32(c.value.size() * 8 / c.format),
                            c.value.constData());
        EXPECT_EQ(rootWindowIccProfile(connection, screen), c.taken);
    }
    EXPECT_TRUE(rootWindowIccProfile(connection, screen + 1).isEmpty()) << "no such screen";
    std::free(atom);
    xcb_disconnect(connection);
}

} // namespace
} // namespace pictolune::e2e
