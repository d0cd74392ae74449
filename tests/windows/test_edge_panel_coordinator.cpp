#include "accounts/AccountsHarness.h"
#include "platform/Defaults.h"
#include "uisupport/RenderHarness.h"
#include "windows/EdgePanelCoordinator.h"
#include "windows/PanelDisplaySettings.h"

#include <QApplication>
#include <QTest>

namespace {

PanelDisplay display(const QString& id, QRect frame = QRect(0, 0, 1440, 875))
{
    return PanelDisplay {id, QStringLiteral("Screen ") + id, frame};
}

// A panel that writes what is asked of it into a shared log, as
// "<display>#<serial> <operation>", the serial telling panels of one display apart.
class LoggingPanel final : public EdgePanelPresenting {
public:
    LoggingPanel(QStringList& log, QString name) : m_log(log), m_name(std::move(name)) {}
    void show() override { m_log << m_name + QStringLiteral(" show"); }
    void updateFrame() override { m_log << m_name + QStringLiteral(" update"); }
    void close() override { m_log << m_name + QStringLiteral(" close"); }

private:
    QStringList& m_log;
    QString m_name;
};

struct Fixture {
    MemoryDefaults defaults;
    QList<PanelDisplay> screens;
    PanelDisplaySettings settings;
    QStringList log;
    QMap<QString, int> made;
    EdgePanelCoordinator coordinator;

    explicit Fixture(QList<PanelDisplay> initial, const QString& selection = QStringLiteral("primary"))
        : defaults(QVariantMap {{PanelDisplaySettings::kSelectionKey, selection}})
        , screens(std::move(initial))
        , settings(defaults, [this] { return screens; }, [](Appearance::Forced) {})
        , coordinator(settings, [this](const QString& id) {
            const QString name = id + QLatin1Char('#') + QString::number(++made[id]);
            log << name + QStringLiteral(" made");
            return std::make_unique<LoggingPanel>(log, name);
        })
    {
    }

    // The screens change and the change is announced; returns what the panels were asked.
    QStringList replug(QList<PanelDisplay> now)
    {
        screens = std::move(now);
        settings.refreshDisplays();
        return settle();
    }
    QStringList settle()
    {
        QCoreApplication::processEvents();
        return take();
    }
    QStringList take()
    {
        QStringList taken = log;
        log.clear();
        return taken;
    }
};

} // namespace

class EdgePanelCoordinatorTest : public QObject {
    Q_OBJECT
private slots:
    // Nothing exists before `show`; a sync while hidden does nothing.
    void showsOnlyWhenShown()
    {
        Fixture f({display("A"), display("B")});
        f.coordinator.sync();
        QVERIFY(f.take().isEmpty());
        QVERIFY(!f.coordinator.isObservationArmed());
        f.settings.selectDisplay("B");
        QVERIFY(f.settle().isEmpty());

        f.coordinator.show();
        QCOMPARE(f.take(), (QStringList {"B#1 made", "B#1 update", "B#1 show"}));
        QVERIFY(f.coordinator.isObservationArmed());
        // A second sync while armed lays out again and arms nothing new.
        f.coordinator.sync();
        QCOMPARE(f.take(), QStringList {"B#1 update"});
        QVERIFY(f.settle().isEmpty());
    }

    // "All" on two screens: unplugging one closes exactly that panel; the other
    // is laid out again, not remade.
    void allScreens()
    {
        Fixture f({display("A"), display("B")}, "all");
        f.coordinator.show();
        QCOMPARE(f.take(), (QStringList {"A#1 made", "A#1 update", "A#1 show", "B#1 made", "B#1 update", "B#1 show"}));
        QCOMPARE(f.replug({display("A")}), (QStringList {"B#1 close", "A#1 update"}));
        QCOMPARE(f.coordinator.panels().size(), std::size_t(1));
        QCOMPARE(f.replug({display("A"), display("B")}), (QStringList {"A#1 update", "B#2 made", "B#2 update", "B#2 show"}));
        // A changed visible frame re-lays out every panel.
        QCOMPARE(f.replug({display("A", QRect(0, 0, 1440, 850)), display("B")}),
                 (QStringList {"A#1 update", "B#2 update"}));
    }

    // A chosen screen that goes moves the panel to the first screen and back.
    void chosenScreenComesAndGoes()
    {
        Fixture f({display("A"), display("B")}, "B");
        f.coordinator.show();
        f.take();
        QCOMPARE(f.replug({display("A")}), (QStringList {"B#1 close", "A#1 made", "A#1 update", "A#1 show"}));
        QCOMPARE(f.settings.selection(), QStringLiteral("B"));
        QCOMPARE(f.replug({display("A"), display("B")}), (QStringList {"A#1 close", "B#2 made", "B#2 update", "B#2 show"}));
        // No screen at all closes everything and makes nothing.
        QCOMPARE(f.replug({}), QStringList {"B#2 close"});
        QVERIFY(f.coordinator.panels().empty());
        QCOMPARE(f.replug({display("C")}), (QStringList {"C#1 made", "C#1 update", "C#1 show"}));
    }

    // Choosing the screen that already carries the panel keeps that panel.
    void choosingTheSameScreenKeepsThePanel()
    {
        Fixture f({display("A"), display("B")});
        f.coordinator.show();
        f.take();
        f.settings.selectDisplay("A");
        QCOMPARE(f.settle(), QStringList {"A#1 update"});
        f.settings.selectDisplay("B");
        QCOMPARE(f.settle(), (QStringList {"A#1 close", "B#1 made", "B#1 update", "B#1 show"}));
    }

    // Several changes before the event loop runs end in one sync with the final targets.
    void coalescesChanges()
    {
        Fixture f({display("A"), display("B"), display("C")});
        f.coordinator.show();
        f.take();
        f.settings.selectDisplay("B");
        f.settings.selectDisplay("all");
        f.screens = {display("C"), display("B")};
        f.settings.refreshDisplays();
        f.settings.selectDisplay("C");
        QVERIFY(f.take().isEmpty());
        QCOMPARE(f.settle(), (QStringList {"A#1 close", "C#1 made", "C#1 update", "C#1 show"}));
        QVERIFY(f.settle().isEmpty());
    }

    // Hiding closes every panel; a change meanwhile does nothing; showing again
    // makes new panels and follows changes again.
    void hideAndShowAgain()
    {
        Fixture f({display("A"), display("B")}, "all");
        f.coordinator.show();
        f.take();
        f.coordinator.hide();
        QStringList closed = f.take();
        closed.sort();
        QCOMPARE(closed, (QStringList {"A#1 close", "B#1 close"}));
        QVERIFY(f.coordinator.panels().empty());
        QVERIFY(f.replug({display("A")}).isEmpty());
        QVERIFY(!f.coordinator.isObservationArmed());

        f.coordinator.show();
        QCOMPARE(f.take(), (QStringList {"A#2 made", "A#2 update", "A#2 show"}));
        QCOMPARE(f.replug({display("A"), display("B")}), (QStringList {"A#2 update", "B#2 made", "B#2 update", "B#2 show"}));
    }

    // The application's panel asks the display settings for its screen's
    // visible frame each time: a moved area moves it, a screen that is gone
    // leaves it where it is.
    void defaultPanelFollowsItsDisplay()
    {
        Harness h;
        h.saveList({h.profile(UsageProvider::claude, ".claude", "C", true),
                    h.profile(UsageProvider::codex, ".codex", "X", true)});
        h.make();
        Fixture f({display("A"), display("B", QRect(1440, 0, 1280, 800))}, "B");
        std::unique_ptr<EdgePanelController> panel =
            EdgePanelCoordinator::makeDefaultPanel("B", *h.accounts, f.settings);
        QCOMPARE(panel->screenVisibleFrame(), QRect(1440, 0, 1280, 800));
        QCOMPARE(panel->panel().geometry(), QRect(2704, 191, 16, 418));

        f.screens = {display("A"), display("B", QRect(1440, 0, 1280, 700))};
        f.settings.refreshDisplays();
        panel->updateFrame();
        QCOMPARE(panel->panel().geometry(), QRect(2704, 141, 16, 418));

        f.screens = {display("A")};
        f.settings.refreshDisplays();
        QCOMPARE(panel->screenVisibleFrame(), std::nullopt);
        panel->updateFrame();
        QCOMPARE(panel->panel().geometry(), QRect(2704, 141, 16, 418));
    }
};

VANTOREL_UI_TEST_MAIN(EdgePanelCoordinatorTest)
#include "test_edge_panel_coordinator.moc"
