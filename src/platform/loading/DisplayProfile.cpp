#include "platform/loading/DisplayProfile.h"

#include "platform/codecs/EmbeddedProfile.h"

#include <QGuiApplication>

#include <cstdlib>
#include <memory>

#include <xcb/xcb.h>

namespace pictolune {

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

} // namespace

QByteArray rootWindowIccProfile(xcb_connection_t* connection, int screen) {
    if (!connection || xcb_connection_has_error(connection) != 0)
        return {};
    xcb_screen_iterator_t roots = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screen && roots.rem > 0; ++i)
        xcb_screen_next(&roots);
    if (roots.rem <= 0)
        return {};

    static constexpr char kAtom[] = "_ICC_PROFILE";
    const std::unique_ptr<xcb_intern_atom_reply_t, FreeDeleter> atom(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, sizeof kAtom - 1, kAtom), nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return {};

    // One read of at most the largest profile taken: the length is counted
    // in 32-bit units. A property longer than that is no profile.
    const auto longest = quint32(kMaxIccProfileBytes / 4);
    const std::unique_ptr<xcb_get_property_reply_t, FreeDeleter> property(
        xcb_get_property_reply(connection,
                               xcb_get_property(connection, 0, roots.data->root, atom->atom,
                                                XCB_GET_PROPERTY_TYPE_ANY, 0, longest),
                               nullptr));
    if (!property || property->format != 8 || property->bytes_after != 0)
        return {};
    const int length = xcb_get_property_value_length(property.get());
    const auto* value = static_cast<const char*>(xcb_get_property_value(property.get()));
    return checkedIccProfile(QByteArray(value, length));
}

QByteArray displayIccProfile() {
    const auto* x11 =
        qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11)
        return {};
    // The screen named in DISPLAY (":0.1" is screen 1); the first otherwise.
    char* host = nullptr;
    int display = 0;
    int screen = 0;
    if (xcb_parse_display(nullptr, &host, &display, &screen) == 0)
        screen = 0;
    std::free(host);
    return rootWindowIccProfile(x11->connection(), screen);
}

} // namespace pictolune
