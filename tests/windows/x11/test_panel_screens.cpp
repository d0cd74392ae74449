#include "PanelDesktop.h"
#include "uisupport/RenderHarness.h"
#include "windows/ScreenParameters.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

using namespace x11test;

namespace {

using Screens = PanelDesktop;

QString idOf(int screen)
{
    return PanelDisplaySettings::currentScreens().at(screen).id;
}

// The panel of `id` is on the X server at `frame` on X screen `screen`.
bool shownAt(const EdgePanelController* panel, const QRect& frame, int screen)
{
    if (!panel || !isMapped(panel->panel()) || panel->panel().geometry() != frame)
        return false;
    const Placement p = placement(panel->panel());
    return p.frame == frame && p.screen == screen;
}

const QRect kFirst(1424, 241, 16, 418);
const QRect kSecond(1264, 191, 16, 418);

} // namespace

class PanelScreensTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(prepare());
    }

    // Two X screens are two screens, each with its own id, named after its connector.
    void listsTheScreens()
    {
        const QList<QScreen*> screens = QGuiApplication::screens();
        QCOMPARE(screens.size(), 2);
        const QList<PanelDisplay> displays = PanelDisplaySettings::currentScreens();
        QCOMPARE(displays.size(), 2);
        QCOMPARE(displays.at(0).visibleFrame, QRect(0, 0, 1440, 900));
        QCOMPARE(displays.at(1).visibleFrame, QRect(0, 0, 1280, 800));
        QVERIFY(displays.at(0).id != displays.at(1).id);
        QCOMPARE(displays.at(0).name, screens.at(0)->name());
        QCOMPARE(PanelDisplaySettings::screenWithId(displays.at(0).id), screens.at(0));
        QCOMPARE(PanelDisplaySettings::screenWithId(displays.at(1).id), screens.at(1));
        QCOMPARE(PanelDisplaySettings::screenWithId(QStringLiteral("display-id:1")), nullptr);
    }

    // "All" puts one panel on each screen; choosing one screen keeps that
    // screen's panel and closes the other; choosing the other moves it there.
    void onePanelPerChosenScreen()
    {
        Screens s(QStringLiteral("all"));
        s.coordinator->show();
        QCOMPARE(s.coordinator->panels().size(), std::size_t(2));
        EdgePanelController* first = s.panel(idOf(0));
        EdgePanelController* second = s.panel(idOf(1));
        QVERIFY(QTest::qWaitFor([&] { return shownAt(first, kFirst, 0); }, 10000));
        QVERIFY(QTest::qWaitFor([&] { return shownAt(second, kSecond, 1); }, 10000));
        QCOMPARE(second->panel().screen(), QGuiApplication::screens().at(1));
        QVERIFY(QTest::qWaitFor([&] { return hasPanelStates(first->panel()); }, 10000));

        s.settings->selectDisplay(idOf(1));
        QCoreApplication::processEvents();
        QCOMPARE(s.coordinator->panels().size(), std::size_t(1));
        QCOMPARE(s.panel(idOf(1)), second);
        QVERIFY(QTest::qWaitFor([&] { return !first->panel().isVisible(); }, 10000));
        QVERIFY(shownAt(second, kSecond, 1));

        s.settings->selectDisplay(PanelDisplaySettings::kPrimary);
        QCoreApplication::processEvents();
        QCOMPARE(s.coordinator->panels().size(), std::size_t(1));
        EdgePanelController* moved = s.panel(idOf(0));
        QVERIFY(moved);
        QVERIFY(QTest::qWaitFor([&] { return shownAt(moved, kFirst, 0); }, 10000));
    }

    // A screen that goes away closes its panel and leaves the other one alone;
    // when it comes back it gets a panel again.
    void aScreenThatGoesClosesItsPanel()
    {
        Screens s(QStringLiteral("all"));
        s.coordinator->show();
        EdgePanelController* first = s.panel(idOf(0));
        EdgePanelController* second = s.panel(idOf(1));
        QVERIFY(QTest::qWaitFor([&] { return shownAt(second, kSecond, 1); }, 10000));
        QVERIFY(QTest::qWaitFor([&] { return shownAt(first, kFirst, 0); }, 10000));
        const quint64 firstWindow = first->panel().winId();

        s.unplugged = true;
        ScreenParameters::shared().post();
        QCoreApplication::processEvents(); // the notification, then the coordinator's sync
        QCoreApplication::processEvents();
        QCOMPARE(s.coordinator->panels().size(), std::size_t(1));
        QCOMPARE(s.panel(idOf(0)), first);
        QCOMPARE(first->panel().winId(), firstWindow);
        QVERIFY(shownAt(first, kFirst, 0));

        s.unplugged = false;
        ScreenParameters::shared().post();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QCOMPARE(s.coordinator->panels().size(), std::size_t(2));
        QVERIFY(QTest::qWaitFor([&] { return shownAt(s.panel(idOf(1)), kSecond, 1); }, 10000));
    }
};

VANTOREL_UI_TEST_MAIN(PanelScreensTest)
#include "test_panel_screens.moc"
