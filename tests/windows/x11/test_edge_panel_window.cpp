#include "PanelDesktop.h"
#include "panel/PanelPopover.h"
#include "platform/X11WindowStates.h"
#include "uisupport/RenderHarness.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QTest>

using namespace x11test;

namespace {

// A root view that toggles the panel when clicked, as the real one's toggle does.
class ToggleView final : public QWidget {
public:
    explicit ToggleView(std::function<void()> toggle) : m_toggle(std::move(toggle)) {}

protected:
    void mouseReleaseEvent(QMouseEvent*) override { m_toggle(); }

private:
    std::function<void()> m_toggle;
};

// The application's panel on the first screen, toggled by a click.
struct Desktop : PanelDesktop {
    Desktop()
        : PanelDesktop(PanelDisplaySettings::kPrimary, [](UsageAccounts&, EdgePanelState&, std::function<void()> toggle) {
            return new ToggleView(std::move(toggle));
        })
    {
    }
    EdgePanelController& panel() const { return onlyPanel(); }
    QWidget& window() const { return panel().panel(); }
};

const QRect kStrip(1424, 241, 16, 418);
const QRect kRings(1370, 241, 70, 418);
const QRect kCards(1140, 165, 300, 570);

} // namespace

class EdgePanelWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(prepare());
        QCOMPARE(QGuiApplication::primaryScreen()->availableGeometry(), QRect(0, 0, 1440, 900));
    }

    void init() { movePointer(QPoint(100, 100)); }

    // On a window no window manager rewrites, the hints stand as written, next
    // to the state Qt set itself.
    void writesTheHints()
    {
        QVERIFY(x11::available());
        QWidget window(nullptr, Qt::Tool | Qt::BypassWindowManagerHint | Qt::WindowStaysOnTopHint);
        window.setGeometry(10, 10, 30, 30);
        window.show();
        QVERIFY(QTest::qWaitFor([&] { return isMapped(window); }, 10000));
        QVERIFY(x11::keepOnAllDesktops(window.winId()));
        QVERIFY(x11::keepOnAllDesktops(window.winId())); // a second call adds nothing twice
        QStringList states = windowStates(window);
        states.sort();
        QCOMPARE(states, (QStringList {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_PAGER", "_NET_WM_STATE_SKIP_TASKBAR",
                                       "_NET_WM_STATE_STAYS_ON_TOP", "_NET_WM_STATE_STICKY"}));
        QCOMPARE(windowDesktop(window), QStringLiteral("4294967295"));
    }

    // The panel appears at its frame on the right edge, on every desktop, off
    // the taskbar and pager, and takes the keyboard focus neither when shown
    // nor when clicked; a shown-again panel carries its states again.
    void appearsOnTheEdgeWithoutFocus()
    {
        QWidget other;
        other.setWindowTitle(QStringLiteral("other"));
        other.setGeometry(100, 100, 300, 200);
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitFor([&] { return focusedWindow() == other.winId(); }, 10000));

        Desktop d;
        d.coordinator->show();
        QWidget& window = d.window();
        QVERIFY(QTest::qWaitFor([&] { return isMapped(window); }, 10000));
        QCOMPARE(window.objectName(), QStringLiteral("Vantorel.EdgePanel"));
        QCOMPARE(window.geometry(), kStrip);
        QVERIFY(QTest::qWaitFor([&] { return placement(window).frame == kStrip; }, 10000));
        QCOMPARE(placement(window).screen, 0);
        QVERIFY2(QTest::qWaitFor([&] { return hasPanelStates(window); }, 10000),
                 qPrintable(windowStates(window).join(' ') + " desktop " + windowDesktop(window)));
        QCOMPARE(focusedWindow(), other.winId());

        click(kStrip.center());
        QVERIFY(QTest::qWaitFor([&] { return window.geometry() == kCards; }, 10000));
        QVERIFY(QTest::qWaitFor([&] { return placement(window).frame == kCards; }, 10000));
        QCOMPARE(focusedWindow(), other.winId());
        QCOMPARE(QGuiApplication::focusWindow(), other.windowHandle());

        d.coordinator->hide();
        QVERIFY(QTest::qWaitFor([&] { return !window.isVisible(); }, 10000));
        d.coordinator->show();
        QWidget& again = d.window();
        QVERIFY(QTest::qWaitFor([&] { return isMapped(again); }, 10000));
        QVERIFY(QTest::qWaitFor([&] { return hasPanelStates(again); }, 10000));
        QCOMPARE(focusedWindow(), other.winId());
    }

    // The pointer widens the strip into the rings and leaving collapses it; the
    // toggle opens the cards and closes them into the rings under the pointer;
    // a popover under the pointer keeps the panel open until it closes, also
    // when another of its popovers closes meanwhile.
    void followsThePointer()
    {
        Desktop d;
        d.coordinator->show();
        QWidget& window = d.window();
        QVERIFY(QTest::qWaitFor([&] { return isMapped(window); }, 10000));

        movePointer(QPoint(1432, 450));
        QVERIFY(QTest::qWaitFor([&] { return window.geometry() == kRings; }, 10000));
        QCOMPARE(d.panel().state().mode(), EdgePanelMode::rings);
        movePointer(QPoint(300, 450));
        QVERIFY(QTest::qWaitFor([&] { return window.geometry() == kStrip; }, 10000));
        // The server has the strip where the pointer will enter it.
        QVERIFY(QTest::qWaitFor([&] { return placement(window).frame == kStrip; }, 10000));

        movePointer(QPoint(1432, 450));
        QVERIFY(QTest::qWaitFor([&] { return window.geometry() == kRings; }, 10000));
        click(QPoint(1432, 450));
        QVERIFY(QTest::qWaitFor([&] { return window.geometry() == kCards; }, 10000));
        movePointer(QPoint(300, 450)); // leaving the cards leaves them open
        QVERIFY(QTest::qWaitFor([&] { return QCursor::pos() == QPoint(300, 450); }, 10000));
        click(QPoint(1432, 450));
        QVERIFY(QTest::qWaitFor([&] { return window.geometry() == kRings; }, 10000));

        PanelPopover popover(window.findChild<ToggleView*>());
        popover.resize(120, 80);
        popover.popupAt(QPoint(1200, 400));
        QVERIFY(QTest::qWaitFor([&] { return isMapped(popover); }, 10000));
        movePointer(QPoint(1250, 430));
        QVERIFY(QTest::qWaitFor([&] { return QCursor::pos() == QPoint(1250, 430); }, 10000));
        QCoreApplication::processEvents();
        QCOMPARE(d.panel().state().mode(), EdgePanelMode::rings);
        QCOMPARE(window.geometry(), kRings);

        // Another popover of the panel closing while the pointer rests on the first.
        PanelPopover second(window.findChild<ToggleView*>());
        second.resize(60, 60);
        second.popupAt(QPoint(900, 700));
        QVERIFY(QTest::qWaitFor([&] { return isMapped(second); }, 10000));
        second.close();
        QVERIFY(QTest::qWaitFor([&] { return !second.isVisible(); }, 10000));
        QCoreApplication::processEvents();
        QCOMPARE(d.panel().state().mode(), EdgePanelMode::rings);
        QCOMPARE(window.geometry(), kRings);

        popover.close();
        QVERIFY(QTest::qWaitFor([&] { return window.geometry() == kStrip; }, 10000));
        QCOMPARE(d.panel().state().mode(), EdgePanelMode::strip);
    }
};

VANTOREL_UI_TEST_MAIN(EdgePanelWindowTest)
#include "test_edge_panel_window.moc"
