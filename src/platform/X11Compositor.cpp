#include "X11Compositor.h"

#include "MainThread.h"

#include <QGuiApplication>

#if defined(VANTOREL_HAVE_XCB) && QT_CONFIG(xcb)
#include "X11Connection.h"

#include <QAbstractNativeEventFilter>
#include <xcb/xfixes.h>

#include <cstdlib>
#include <vector>

struct X11Compositor::Watch final : QAbstractNativeEventFilter {
    struct Screen {
        xcb_window_t root = XCB_WINDOW_NONE;
        xcb_atom_t selection = XCB_ATOM_NONE;
        bool owned = false;
    };

    Watch(X11Compositor& owner, xcb_connection_t* c) : owner(owner), c(c)
    {
        // XFixes answers requests only after the client told it the version it speaks.
        if (auto* version = xcb_xfixes_query_version_reply(
                c, xcb_xfixes_query_version(c, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION), nullptr)) {
            std::free(version);
            const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_xfixes_id);
            if (extension && extension->present) {
                following = true;
                firstEvent = extension->first_event;
            }
        }
        int number = 0;
        for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem;
             xcb_screen_next(&it), ++number) {
            Screen screen;
            screen.root = it.data->root;
            screen.selection = x11::atom(c, QByteArray("_NET_WM_CM_S" + QByteArray::number(number)).constData());
            if (following)
                xcb_xfixes_select_selection_input(c, screen.root, screen.selection,
                                                  XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER
                                                      | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY
                                                      | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
            screens.push_back(screen);
        }
        // Asked after selecting the events, so no change falls between the two.
        for (Screen& screen : screens)
            screen.owned = ownerOf(screen.selection) != XCB_WINDOW_NONE;
        xcb_flush(c);
        if (following)
            QCoreApplication::instance()->installNativeEventFilter(this);
    }

    xcb_window_t ownerOf(xcb_atom_t selection) const
    {
        xcb_get_selection_owner_reply_t* reply =
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
        if (!reply)
            return XCB_WINDOW_NONE;
        const xcb_window_t result = reply->owner;
        std::free(reply);
        return result;
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != firstEvent + XCB_XFIXES_SELECTION_NOTIFY)
            return false;
        const auto* notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
        for (Screen& screen : screens) {
            if (screen.root != notify->window || screen.selection != notify->selection)
                continue;
            // The server's word on the owner now, whichever way it was lost or taken.
            const bool owned = ownerOf(screen.selection) != XCB_WINDOW_NONE;
            if (owned != screen.owned) {
                screen.owned = owned;
                QMetaObject::invokeMethod(&owner, &X11Compositor::changed, Qt::QueuedConnection);
            }
        }
        return false; // Qt follows the same selection for itself
    }

    X11Compositor& owner;
    xcb_connection_t* c;
    bool following = false;
    quint8 firstEvent = 0;
    std::vector<Screen> screens;
};

X11Compositor::X11Compositor()
{
    if (xcb_connection_t* c = x11::connection())
        m_watch = std::make_unique<Watch>(*this, c);
}

bool X11Compositor::composites(quintptr window) const
{
    ASSERT_MAIN_THREAD();
    if (!m_watch || window == 0)
        return true;
    const xcb_window_t root = x11::rootOf(m_watch->c, xcb_window_t(window));
    for (const Watch::Screen& screen : m_watch->screens)
        if (screen.root == root)
            return screen.owned;
    return true;
}

#else

struct X11Compositor::Watch {};

X11Compositor::X11Compositor() = default;

bool X11Compositor::composites(quintptr) const
{
    return true;
}

#endif

X11Compositor::~X11Compositor() = default;

X11Compositor& X11Compositor::shared()
{
    ASSERT_MAIN_THREAD();
    // Lives as long as the process: the X connection's events may reach it until the very end.
    static X11Compositor* instance = new X11Compositor;
    return *instance;
}
