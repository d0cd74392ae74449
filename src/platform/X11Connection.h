#pragma once

// The application's own connection to the X server, shared by the X11 sources
// of this folder. Include only where xcb is built in (VANTOREL_HAVE_XCB).

#include <xcb/xcb.h>

namespace x11 {

// The xcb platform's connection; none when the application does not run on X.
xcb_connection_t* connection();

// The root window of the screen `window` is on; XCB_WINDOW_NONE when the server does not answer.
xcb_window_t rootOf(xcb_connection_t* c, xcb_window_t window);

// The atom of `name`, interned when missing; XCB_ATOM_NONE when the server does not answer.
xcb_atom_t atom(xcb_connection_t* c, const char* name);

} // namespace x11
