#pragma once

#include <QtGlobal>

// Window-manager hints of the X Window System, for the edge panel.
namespace x11 {

// True when the application talks to an X server (the xcb platform).
bool available();

// Puts the top-level `window` on every desktop (_NET_WM_DESKTOP 0xFFFFFFFF) and
// marks it sticky and off the taskbar and pager (_NET_WM_STATE). Sets the
// properties, which a window manager reads when it maps the window, and asks
// the window manager through the root window for a window it already manages.
// Qt rewrites the state when it maps a window, so call it after every show.
// False when there is no X server.
bool keepOnAllDesktops(quintptr window);

} // namespace x11
