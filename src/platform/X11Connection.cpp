#include <QGuiApplication>

#if defined(VANTOREL_HAVE_XCB) && QT_CONFIG(xcb)
#include "X11Connection.h"

#include <cstdlib>
#include <cstring>

namespace x11 {

xcb_connection_t* connection()
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app)
        return nullptr;
    auto* native = app->nativeInterface<QNativeInterface::QX11Application>();
    return native ? native->connection() : nullptr;
}

xcb_window_t rootOf(xcb_connection_t* c, xcb_window_t window)
{
    xcb_get_geometry_reply_t* reply = xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
    if (!reply)
        return XCB_WINDOW_NONE;
    const xcb_window_t root = reply->root;
    std::free(reply);
    return root;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, quint16(std::strlen(name)), name), nullptr);
    if (!reply)
        return XCB_ATOM_NONE;
    const xcb_atom_t result = reply->atom;
    std::free(reply);
    return result;
}

} // namespace x11
#endif
