#pragma once

#include <QObject>

class CoalescedCall;
class QScreen;

// The application's "screen parameters changed" notification: a screen added
// or removed, the primary screen changed, or a screen's geometry or available
// area moved. A burst of such changes is announced once, on the next turn of
// the event loop. Main thread only.
class ScreenParameters final : public QObject {
    Q_OBJECT
public:
    static ScreenParameters& shared();

    // Announces a change on the next turn (what every screen signal calls; also
    // for tests that change an injected screen list).
    void post();
    // Announces a posted change now.
    void flush();

signals:
    void changed();

private:
    ScreenParameters();
    void watch(QScreen* screen);

    CoalescedCall* m_call;
};
