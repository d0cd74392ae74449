#include "accounts/AccountsHarness.h"
#include "app/AppDelegate.h"
#include "app/VantorelApp.h"
#include "platform/WakeSource.h"
#include "settings/SettingsScene.h"
#include "uisupport/RenderHarness.h"
#include "windows/EdgePanelCoordinator.h"
#include "windows/PanelDisplaySettings.h"


#include <QTemporaryDir>
#include <QTest>

namespace {

// One journal of what the delegate's parts saw, in order.
struct Journal {
    QStringList entries;
    void add(const QString& entry) { entries << entry; }
};

// One screen's panel as the coordinator drives it.
class RecordingPanel final : public EdgePanelPresenting {
public:
    RecordingPanel(Journal& journal, Harness& h, QString displayId)
        : m_journal(journal), m_h(h), m_displayId(std::move(displayId))
    {
    }
    void show() override
    {
        // What the panel finds when it first appears.
        bool loading = true;
        for (const ProviderProfile& p : m_h.accounts->visibleProfiles())
            loading = loading && m_h.accounts->usage(p).isLoading;
        m_journal.add(QStringLiteral("panel shown on %1%2%3")
                          .arg(m_displayId, m_h.accounts->isStarted() ? " (started)" : "", loading ? " (loading)" : ""));
    }
    void updateFrame() override {}
    void close() override
    {
        m_journal.add(QStringLiteral("panel closed on %1%2").arg(m_displayId, m_h.accounts->isStarted() ? " (started)" : ""));
    }

private:
    Journal& m_journal;
    Harness& m_h;
    QString m_displayId;
};

class RecordingWake final : public WakeSource {
public:
    RecordingWake(Journal& journal, Harness& h) : m_journal(journal), m_h(h)
    {
        m_journal.add(QStringLiteral("wake observed"));
    }
    ~RecordingWake() override
    {
        m_journal.add(QStringLiteral("wake observer removed%1").arg(m_h.accounts->isStarted() ? " (started)" : ""));
    }
    void wake() { emit woke(); }

private:
    Journal& m_journal;
    Harness& m_h;
};

// The delegate over the accounts harness: scripted stores and Copilot
// listing, one screen, recorded panels and wake source.
struct DelegateRig {
    Harness h;
    Journal journal;
    RecordingWake* wake = nullptr;
    std::unique_ptr<AppDelegate> delegate;

    AppDelegate::Services services(ProcessEnvironment environment = {})
    {
        AppDelegate::Services s;
        s.environment = std::move(environment);
        s.makeStore = [this] {
            UsageAccounts::Operations ops = h.operations();
            auto listing = ops.copilotAccounts;
            ops.copilotAccounts = [this, listing](const QString& folder, Completion<AccountList> done) {
                journal.add(QStringLiteral("copilot accounts read"));
                listing(folder, std::move(done));
            };
            auto store = std::make_unique<UsageAccounts>(*h.defaults, h.home.home(), h.environment, h.scheduler,
                                                         AppDistributionChannel::direct, std::move(ops));
            // The harness's helpers read the registry through its pointer; the delegate owns it.
            h.accounts.reset(store.get());
            return store;
        };
        s.makePanelDisplays = [this] {
            const PanelDisplay screen {QStringLiteral("display:one"), QStringLiteral("Screen"), QRect(0, 0, 1440, 900)};
            return std::make_unique<PanelDisplaySettings>(
                *h.defaults, [screen] { return QList<PanelDisplay> {screen}; }, [](Appearance::Forced) {});
        };
        s.makePanel = [this](const QString& displayId, UsageAccounts&, PanelDisplaySettings&) {
            return std::make_unique<RecordingPanel>(journal, h, displayId);
        };
        s.makeWakeSource = [this] {
            auto source = std::make_unique<RecordingWake>(journal, h);
            wake = source.get();
            return source;
        };
        return s;
    }

    AppDelegate& make(ProcessEnvironment environment = {})
    {
        delegate = std::make_unique<AppDelegate>(services(std::move(environment)));
        return *delegate;
    }

    ~DelegateRig()
    {
        // The delegate owns the registry the harness points at.
        delegate.reset();
        [[maybe_unused]] UsageAccounts* released = h.accounts.release();
    }

    // Runs the launch and what it posts, noting the fetches that started.
    void launch()
    {
        delegate->applicationDidFinishLaunching();
        h.scheduler.advance(0);
        for (const QString& fetch : std::as_const(h.fetchLog))
            journal.add(QStringLiteral("fetch ") + fetch);
        h.fetchLog.clear();
    }
};

} // namespace

class AppDelegateTest : public QObject {
    Q_OBJECT

private slots:
    // Panels first, while every profile still loads; then the registry, the
    // Copilot accounts and, last, the wake.
    void launchOrder()
    {
        DelegateRig rig;
        rig.h.saveList({rig.h.profile(UsageProvider::codex, ".codex", "A", true),
                        rig.h.profile(UsageProvider::copilot, ".copilot", "B", true)});
        AppDelegate& delegate = rig.make();
        QVERIFY(!delegate.edgePanelController());
        QCOMPARE(rig.journal.entries, QStringList {});
        QCOMPARE(delegate.store().stores().size(), 2);
        QVERIFY(!delegate.store().isStarted());

        rig.launch();
        QCOMPARE(rig.journal.entries, (QStringList {"panel shown on display:one (loading)", "copilot accounts read", "wake observed",
                                                    "fetch A", "fetch B"}));
        QVERIFY(delegate.edgePanelController());
        QVERIFY(delegate.store().isStarted());
        QVERIFY(delegate.isObservingWake());
    }

    // With the test variable, whatever its value, launch ends with the panels.
    void testConfigurationStopsAfterThePanels_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("a path") << "/tmp/config.xctestconfiguration";
        QTest::newRow("empty") << "";
    }
    void testConfigurationStopsAfterThePanels()
    {
        QFETCH(QString, value);
        DelegateRig rig;
        rig.h.saveList({rig.h.profile(UsageProvider::codex, ".codex", "A", true)});
        AppDelegate& delegate = rig.make({{AppDelegate::kTestConfigurationVariable, value}});
        rig.launch();
        rig.h.scheduler.advance(600);
        QCOMPARE(rig.journal.entries, QStringList {"panel shown on display:one (loading)"});
        QVERIFY(!delegate.store().isStarted());
        QVERIFY(!delegate.isObservingWake());
        const ProviderProfile a = rig.h.named("A");
        QVERIFY(delegate.store().usage(a).isLoading);

        // Termination still runs: the registry had nothing running.
        delegate.applicationWillTerminate();
        QCOMPARE(rig.journal.entries, (QStringList {"panel shown on display:one (loading)", "panel closed on display:one"}));
    }

    // A wake refreshes the store of every visible profile, forced, a second later.
    void wakeRefreshesTheVisibleProfiles()
    {
        DelegateRig rig;
        rig.h.saveList({rig.h.profile(UsageProvider::codex, ".codex", "A", true),
                        rig.h.profile(UsageProvider::claude, ".claude-x", "hidden", false),
                        rig.h.profile(UsageProvider::copilot, ".copilot", "B", true)});
        rig.make();
        rig.launch();
        rig.h.scheduler.advance(1);
        rig.h.fetchLog.clear();

        rig.wake->wake();
        QCOMPARE(rig.h.fetchLog, QStringList {});
        rig.h.scheduler.advance(1.0);
        QCOMPARE(rig.h.fetchLog, (QStringList {"A!", "B!"}));
    }

    void wakeWithoutVisibleProfilesDoesNothing()
    {
        DelegateRig rig;
        rig.h.saveList({rig.h.profile(UsageProvider::codex, ".codex", "hidden", false)});
        rig.make();
        rig.launch();
        rig.h.scheduler.advance(1);
        const std::size_t scheduled = rig.h.scheduler.scheduledCount();
        rig.wake->wake();
        QCOMPARE(rig.h.scheduler.scheduledCount(), scheduled);
        rig.h.scheduler.advance(5);
        QCOMPARE(rig.h.fetchLog, QStringList {});
    }

    // Termination: the wake observer goes, the registry stops, the panels close.
    void terminationOrder()
    {
        DelegateRig rig;
        rig.h.saveList({rig.h.profile(UsageProvider::codex, ".codex", "A", true)});
        AppDelegate& delegate = rig.make();
        rig.launch();
        rig.journal.entries.clear();

        delegate.applicationWillTerminate();
        QCOMPARE(rig.journal.entries, (QStringList {"wake observer removed (started)", "panel closed on display:one"}));
        QVERIFY(delegate.edgePanelController()->panels().empty());
        QVERIFY(!delegate.isObservingWake());
        QVERIFY(!delegate.store().isStarted());
        // Nothing runs on afterwards.
        rig.h.scheduler.advance(3600);
        QCOMPARE(rig.h.fetchLog, QStringList {});
    }

    // The panels' "Настройки" opens the one settings window over the
    // delegate's registry; pressed again, it keeps that window.
    void panelsOpenTheOneSettingsWindow()
    {
        DelegateRig rig;
        rig.h.saveList({rig.h.profile(UsageProvider::codex, ".codex", "A", true)});
        QTemporaryDir empty;
        std::function<void()> openSettings;
        const VantorelApp app(*rig.h.defaults, {{}, empty.path(), empty.filePath("db")},
                              [&](std::function<void()> action) {
                                  openSettings = std::move(action);
                                  return rig.services();
                              });
        QVERIFY(openSettings);
        QVERIFY(!app.settingsScene().window());
        openSettings();
        QWidget* window = app.settingsScene().window();
        QVERIFY(window);
        QTRY_VERIFY(window->isVisible());
        openSettings();
        QCOMPARE(app.settingsScene().window(), window);
        // Closed, it is gone; the next press makes a new one.
        window->close();
        QTRY_VERIFY(!app.settingsScene().window());
        openSettings();
        QVERIFY(app.settingsScene().window());
    }

    // The process set-up registers the crash default before the delegate is
    // built; a value the user stored wins over it.
    void crashDefaultIsRegisteredFirst_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("value");
        QTest::newRow("nothing stored") << QVariant() << true;
        QTest::newRow("user set false") << QVariant(false) << false;
        QTest::newRow("user set true") << QVariant(true) << true;
    }
    void crashDefaultIsRegisteredFirst()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, value);
        DelegateRig rig;
        if (stored.isValid())
            rig.h.defaults->setBool(VantorelApp::kCrashOnExceptionsKey, stored.toBool());
        std::optional<bool> seenByDelegate;
        QTemporaryDir empty;
        const VantorelApp::Setup setup {{{QStringLiteral("VantorelSentryDSN"), QStringLiteral("https://k@h/1")}},
                                        empty.path(), empty.filePath("db")};
        const VantorelApp app(*rig.h.defaults, setup, [&](std::function<void()>) {
            seenByDelegate = rig.h.defaults->contains(VantorelApp::kCrashOnExceptionsKey);
            return rig.services();
        });
        QCOMPARE(seenByDelegate, std::optional(true));
        QCOMPARE(rig.h.defaults->boolValue(VantorelApp::kCrashOnExceptionsKey), value);
        // A key without the library: no reporting, and nothing else changes.
        QVERIFY(!app.isReportingCrashes());
        QVERIFY(!app.appDelegate().store().isStarted());
    }
};

VANTOREL_UI_TEST_MAIN(AppDelegateTest)
#include "test_app_delegate.moc"
