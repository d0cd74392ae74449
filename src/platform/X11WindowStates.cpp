#include "X11WindowStates.h"

#include <QGuiApplication>

#if defined(VANTOREL_HAVE_XCB) && QT_CONFIG(xcb)
#include "X11Connection.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace x11 {
namespace {

std::vector<xcb_atom_t> currentStates(xcb_connection_t* c, xcb_window_t window, xcb_atom_t stateAtom)
{
    std::vector<xcb_atom_t> states;
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, stateAtom, XCB_ATOM_ATOM, 0, 1024), nullptr);
    if (!reply)
        return states;
    if (reply->type == XCB_ATOM_ATOM && reply->format == 32) {
        const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
        states.assign(values, values + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return states;
}

void sendToRoot(xcb_connection_t* c, xcb_window_t root, xcb_window_t window, xcb_atom_t type,
                std::initializer_list<quint32> data)
{
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    int i = 0;
    for (quint32 value : data)
        event.data.data32[i++] = value;
    xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
}

} // namespace

bool available()
{
    return connection() != nullptr;
}

bool keepOnAllDesktops(quintptr windowId)
{
    xcb_connection_t* c = connection();
    if (!c || windowId == 0)
        return false;
    const auto window = xcb_window_t(windowId);
    const xcb_window_t root = rootOf(c, window);
    const xcb_atom_t desktopAtom = atom(c, "_NET_WM_DESKTOP");
    const xcb_atom_t stateAtom = atom(c, "_NET_WM_STATE");
    const xcb_atom_t wanted[] = {atom(c, "_NET_WM_STATE_STICKY"), atom(c, "_NET_WM_STATE_SKIP_TASKBAR"),
                                 atom(c, "_NET_WM_STATE_SKIP_PAGER")};
    constexpr quint32 kAllDesktops = 0xFFFFFFFF;
    constexpr quint32 kAdd = 1;         // _NET_WM_STATE_ADD
    constexpr quint32 kFromProgram = 1; // source indication: an application

    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, desktopAtom, XCB_ATOM_CARDINAL, 32, 1, &kAllDesktops);
    std::vector<xcb_atom_t> states = currentStates(c, window, stateAtom);
    for (xcb_atom_t a : wanted)
        if (std::find(states.begin(), states.end(), a) == states.end())
            states.push_back(a);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, stateAtom, XCB_ATOM_ATOM, 32, quint32(states.size()),
                        states.data());

    if (root != XCB_WINDOW_NONE) {
        sendToRoot(c, root, window, desktopAtom, {kAllDesktops, kFromProgram});
        sendToRoot(c, root, window, stateAtom, {kAdd, wanted[0], wanted[1], kFromProgram});
        sendToRoot(c, root, window, stateAtom, {kAdd, wanted[2], 0, kFromProgram});
    }
    xcb_flush(c);
    return true;
}

} // namespace x11

#else

namespace x11 {
bool available() { return false; }
bool keepOnAllDesktops(quintptr) { return false; }
} // namespace x11

#endif
