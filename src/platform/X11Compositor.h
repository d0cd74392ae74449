#pragma once

#include <QObject>

#include <memory>

// Whether a compositing manager draws the windows of an X screen, that is
// whether some client owns the screen's _NET_WM_CM_S<n> selection. Owners
// coming and going arrive as XFixes selection events on the application's own
// X connection; nothing is polled. Main thread only.
class X11Compositor final : public QObject {
    Q_OBJECT
public:
    // The application's one; it starts following the X server when first used.
    static X11Compositor& shared();

    // True when a compositing manager draws the X screen the native window
    // `window` is on, and wherever the application does not run on X, whose
    // systems draw translucent windows themselves. A window the server does
    // not know counts as composited.
    bool composites(quintptr window) const;

signals:
    // A compositing manager started or ended on one of the X screens.
    void changed();

private:
    X11Compositor();
    ~X11Compositor() override;

    struct Watch;
    std::unique_ptr<Watch> m_watch;
};
