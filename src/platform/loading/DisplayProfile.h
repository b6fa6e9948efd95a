#pragma once

#include <QByteArray>

struct xcb_connection_t;

namespace pictolune {

// The ICC profile a colour manager has put on the display: the X11 root
// window's _ICC_PROFILE property. Empty when there is none, when it cannot
// be a profile, and on every platform but X11 (Wayland, offscreen): the
// display is then taken as sRGB. Call after the application object exists.
QByteArray displayIccProfile();

// The same from the root window of `screen` on an open X connection.
QByteArray rootWindowIccProfile(xcb_connection_t* connection, int screen);

} // namespace pictolune
