// The registry with its default stores and clients, run against the fake tool
// programs found in the home folder's ".local/bin"; and the collector's whole
// road with our installer and the machine's Node.js.

#include "AccountsHarness.h"
#include "HomeFixture.h"
#include "StatusLineCommand.h"
#include "providers/ProviderFixtures.h"
#include "support/TestSupport.h"

#include "accounts/CollectorInstaller.h"
#include "accounts/UsageAccounts.h"
#include "platform/ChildProcess.h"
#include "platform/Defaults.h"
#include "platform/Paths.h"
#include "platform/Scheduler.h"
#include "platform/Workers.h"
#include "providers/claude/ClaudeStatusLineClient.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTest>

namespace {

using fixtures::bytes;

// The first record of a fake program's log: the whole file, or its first line.
QJsonObject readLog(const QString& path, bool firstLine)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(firstLine ? f.readLine() : f.readAll()).object();
}

// Runs Qt events (the folder watcher) and the work posted to `scheduler`
// until `done` or the real time limit.
bool pumpUntil(VirtualScheduler& scheduler, const std::function<bool()>& done, int realMillis = 30000)
{
    const QDeadlineTimer deadline(realMillis);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        scheduler.waitForPosted(10);
    }
    return true;
}

} // namespace

class UsageAccountsWiringTest : public QObject {
    Q_OBJECT

    HomeFixture m_home;
    QByteArray m_savedHome;

private slots:
    void initTestCase()
    {
        // The clients look for their programs in the user's home folder.
        m_savedHome = qgetenv("HOME");
        qputenv("HOME", m_home.home().toUtf8());
        for (const char* tool : {"codex", "claude", "copilot"}) {
            QVERIFY(m_home.build({QStringLiteral("l:.local/bin/%1=>%2")
                                      .arg(tool, testsupport::fakeProgram(QStringLiteral("fake_") + tool))}));
        }
    }

    void cleanupTestCase() { qputenv("HOME", m_savedHome); }

    void everyProviderReadsThroughItsClient()
    {
        VirtualScheduler scheduler(SystemClock::shared().now());
        MemoryDefaults defaults;
        QVERIFY(m_home.build({"f:.codex/auth.json", "f:.claude-personal/settings.json", "f:.copilot/config.json",
                              "f:.gemini/antigravity-cli/settings.json"}));

        // Claude Code: a signed-in profile whose program answers the control request.
        const QString resets = QDateTime::currentDateTimeUtc().addSecs(3600).toString(Qt::ISODate);
        QVERIFY(testsupport::writeFile(
            m_home.path(".claude-personal/.claude.json"),
            bytes({{"oauthAccount", QJsonObject {{"accountUuid", "acct-1"}, {"organizationUuid", "org-1"}}}})));
        const QJsonObject claudeUsage {
            {"rate_limits_available", true},
            {"subscription_type", "max"},
            {"rate_limits", QJsonObject {{"five_hour", QJsonObject {{"utilization", 10}, {"resets_at", resets}}},
                                         {"seven_day", QJsonObject {{"utilization", 40}, {"resets_at", resets}}}}}};
        QVERIFY(testsupport::writeFile(
            m_home.path("claude.json"),
            bytes({{"log", m_home.path("claude.log")},
                   {"steps", QJsonArray {QJsonObject {
                                 {"respond", QJsonObject {{"subtype", "success"}, {"response", claudeUsage}}}}}}})));

        const QJsonObject window {{"usedPercent", 25}, {"windowDurationMins", 300}, {"resetsAt", qint64(4'102'444'800)}};
        QVERIFY(testsupport::writeFile(
            m_home.path("codex.json"),
            bytes({{"log", m_home.path("codex.log")},
                   {"methods", QJsonObject {{"initialize", QJsonObject {{"result", QJsonObject {}}}},
                                            {"account/rateLimits/read",
                                             QJsonObject {{"result", QJsonObject {{"accountId", "codex-acct"},
                                                                                  {"rateLimits",
                                                                                   QJsonObject {{"primary", window},
                                                                                                {"planType", "plus"}}}}}}}}}})));

        const QJsonObject user {{"copilot_plan", "individual_pro"}, {"quota_reset_date_utc", "2998-06-01T00:00:00.000Z"}};
        const QJsonObject octo {{"authInfo", QJsonObject {{"host", "https://github.com"}, {"login", "octo"},
                                                          {"type", "user"}, {"copilotUser", user}}},
                                {"selectionId", "sel-1"}};
        const QJsonObject quota {{"quotaSnapshots",
                                  QJsonObject {{"premium_interactions",
                                                QJsonObject {{"isUnlimitedEntitlement", false},
                                                             {"remainingPercentage", 75},
                                                             {"resetDate", "2999-01-01T00:00:00Z"}}}}}};
        QVERIFY(testsupport::writeFile(
            m_home.path("copilot.json"),
            bytes({{"methods", QJsonObject {{"account.getAllUsers", QJsonArray {QJsonObject {{"result", QJsonArray {octo}}}}},
                                            {"account.getQuota", QJsonArray {QJsonObject {{"result", quota}}}}}}})));

        ProcessEnvironment environment = systemEnvironment();
        environment.insert("FAKE_CODEX_SCENARIO", m_home.path("codex.json"));
        environment.insert("FAKE_CLAUDE_SCENARIO", m_home.path("claude.json"));
        environment.insert("FAKE_COPILOT_SCENARIO", m_home.path("copilot.json"));
        environment.insert("XDG_DATA_HOME", m_home.path("xdg"));

        UsageAccounts accounts(defaults, m_home.home(), environment, scheduler);
        QCOMPARE(m_home.describe(accounts.profiles()),
                 (QStringList {"claude|{home}/.claude-personal|Личный|visible", "codex|{home}/.codex|По умолчанию|visible",
                               "copilot|{home}/.copilot|По умолчанию",
                               "antigravity|{home}/.gemini/antigravity-cli|По умолчанию"}));

        // The Copilot program lists one account: it replaces the hidden folder profile.
        bool merged = false;
        accounts.refreshCopilotAccounts([&] { merged = true; });
        QVERIFY(scheduler.waitUntil([&] { return merged; }));
        QCOMPARE(accounts.discoveryError(), std::nullopt);
        const ProviderProfile octoProfile = accounts.profiles().last();
        QCOMPARE(m_home.describe(octoProfile), QStringLiteral("copilot|{home}/.copilot|octo"));
        QCOMPARE(octoProfile.accountIdentifier, QStringLiteral("https://github.com") + QChar(u'\0') + "octo");
        accounts.setVisible(true, octoProfile.id());
        const ProviderProfile antigravity = accounts.profiles().at(2);
        accounts.setVisible(true, antigravity.id());

        accounts.start();
        QVERIFY(accounts.watcher());
        QCOMPARE(accounts.watcher()->folder(), m_home.path("xdg/Vantorel/statusline"));
        scheduler.advance(0);
        const auto settled = [&] {
            for (const ProviderProfile& p : accounts.visibleProfiles()) {
                if (accounts.usage(p).isLoading)
                    return false;
            }
            return true;
        };
        QVERIFY(scheduler.waitUntil(settled));
        QCOMPARE(accounts.visibleProfiles().size(), 4);
        const QList<ProviderProfile> visible = accounts.visibleProfilesByProvider(); // Claude Code, Codex, Copilot, Antigravity

        const ProviderUsage claude = accounts.usage(visible.at(0));
        QCOMPARE(claude.errorMessage, std::nullopt);
        QCOMPARE(claude.planName, std::optional<QString>("max"));
        QCOMPARE(claude.windows.size(), 2);
        const QJsonObject claudeEnv = readLog(m_home.path("claude.log"), false).value("environment").toObject();
        QCOMPARE(claudeEnv.value("CLAUDE_CONFIG_DIR").toString(), m_home.path(".claude-personal"));

        const ProviderUsage codex = accounts.usage(visible.at(1));
        QCOMPARE(codex.errorMessage, std::nullopt);
        QCOMPARE(codex.codexAccountID, std::optional<QString>("codex-acct"));
        QCOMPARE(codex.windows.size(), 1);
        QCOMPARE(codex.windows.first().usedPercent, 25.0);
        const QJsonObject codexStart = readLog(m_home.path("codex.log"), true).value("start").toObject();
        QCOMPARE(codexStart.value("env").toObject().value("CODEX_HOME").toString(), m_home.path(".codex"));
        // The Codex usage is kept for the next start.
        QVERIFY(defaults.contains("usageSnapshot.v3." + visible.at(1).id() + ".codex"));

        const ProviderUsage copilot = accounts.usage(visible.at(2));
        QCOMPARE(copilot.errorMessage, std::nullopt);
        QCOMPARE(copilot.provider, UsageProvider::copilot);
        QCOMPARE(copilot.windows.size(), 1);
        QCOMPARE(copilot.windows.first().usedPercent, 25.0);

        // Antigravity reads the bridge folder of this environment; no collector wrote yet.
        const ProviderUsage agy = accounts.usage(visible.at(3));
        QCOMPARE(agy.errorCode, std::optional<QString>("ANTIGRAVITY_STATUSLINE_WAITING"));

        // The default set-up: our installer with Node.js from the fixed folders, for every profile.
        QVERIFY(scheduler.waitUntil([&] { return !accounts.isSettingUp(); }));
        QCOMPARE(accounts.setupAttempts().size(), accounts.profiles().size());
        if (firstExecutable(paths::nodeProgramCandidates(m_home.home()))) {
            QCOMPARE(accounts.connectionErrors(), UsageAccounts::ConnectionErrors {});
            QFile settings(m_home.path(".claude-personal/settings.json"));
            QVERIFY(settings.open(QIODevice::ReadOnly));
            QVERIFY(QJsonDocument::fromJson(settings.readAll()).object().contains("statusLine"));
        } else {
            QCOMPARE(accounts.connectionErrors().size(), 2); // Node.js missing for Claude Code and Antigravity
        }

        accounts.stop();
        Workers::waitForDone();
        scheduler.drainPosted();
        QCOMPARE(testsupport::childProcessCount(), 0);
    }

    // Stopping ends a Copilot listing that is still running: its program is
    // ended at once, the merge ends and leaves no message.
    void stopEndsARunningCopilotListing()
    {
        VirtualScheduler scheduler(SystemClock::shared().now());
        MemoryDefaults defaults;
        QVERIFY(m_home.build({"f:.copilot/config.json"}));
        const QString log = m_home.path("copilot-hang.log");
        QFile::remove(log);
        QVERIFY(testsupport::writeFile(m_home.path("copilot-hang.json"),
                                       bytes({{"log", log}, {"onStart", QJsonArray {QJsonObject {{"hang", true}}}}})));
        ProcessEnvironment environment = systemEnvironment();
        environment.insert("FAKE_COPILOT_SCENARIO", m_home.path("copilot-hang.json"));
        environment.insert("XDG_DATA_HOME", m_home.path("xdg"));

        UsageAccounts accounts(defaults, m_home.home(), environment, scheduler);
        bool merged = false;
        accounts.refreshCopilotAccounts([&] { merged = true; });
        QVERIFY(pumpUntil(scheduler, [&] { return QFileInfo(log).size() > 0; }));
        accounts.stop();
        // Without the stop this would wait out the listing's 20 s deadline.
        Workers::waitForDone();
        QVERIFY(scheduler.waitUntil([&] { return merged; }, 5000));
        QCOMPARE(accounts.discoveryError(), std::nullopt);
        QCOMPARE(testsupport::childProcessCount(), 0);
    }

    // The set-up pass connects a Claude Code profile with our installer and
    // the machine's Node.js; the tool then runs the installed command, the
    // collector writes the profile's bridge file, and the watcher turns that
    // into exactly one refresh, whose bridge reader takes the file.
    void collectorRunBecomesOneRefresh()
    {
        const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
        if (node.isEmpty())
            QSKIP("no node on this machine");

        HomeFixture e2e;
        const QString folder = e2e.path(".claude-e2e");
        QVERIFY(testsupport::writeFile(folder + "/settings.json", "{}\n"));
        QVERIFY(testsupport::writeFile(folder + "/.claude.json",
                                       R"({"oauthAccount": {"accountUuid": "a-1", "organizationUuid": "o-1"}})"));
        ProcessEnvironment env = systemEnvironment();
        env.insert("HOME", e2e.home());
        env.insert("XDG_DATA_HOME", e2e.path("xdg"));

        VirtualScheduler scheduler(SystemClock::shared().now());
        MemoryDefaults defaults;
        const ProviderProfile profile {UsageProvider::claude, folder, QStringLiteral("e2e"), true, {}, {}};
        defaults.setData(UsageAccounts::kProfilesKey, ProfileDiscovery::encodeProfileList({profile}));

        int reads = 0;
        std::optional<Result<ProviderUsage>> lastRead;
        UsageAccounts::Operations ops;
        ops.makeStore = [&](const ProviderProfile& p) {
            const ClaudeStatusLineClient bridge(p, e2e.home(), env);
            const Clock* clock = &scheduler.clock();
            FetchOperation read = [&, bridge, clock](bool, CancelToken, Completion<ProviderUsage> done) {
                ++reads;
                runOnWorker<ProviderUsage>(scheduler, [bridge, clock] { return bridge.read(*clock); },
                                           [&, done](Result<ProviderUsage> r) {
                                               lastRead = r;
                                               done(r);
                                           });
            };
            return std::make_unique<UsageStore>(p, AccountScope::personal, UsageFetchers {read, read, read, read},
                                                defaults, scheduler, [] { return std::make_unique<QuietMonitor>(); });
        };
        const CollectorInstaller installer(CollectorInstaller::defaultResourcesDirectory(), {node});
        ops.connectProfile = [&, installer](const ProviderProfile& p, CancelToken cancel, Completion<Unit> done) {
            installer.installAsync(scheduler, p, env, cancel, std::move(done));
        };
        ops.copilotAccounts = [](const QString&, Completion<QList<CopilotUsageClient::Account>>) {};

        UsageAccounts accounts(defaults, e2e.home(), env, scheduler, AppDistributionChannel::direct, ops);
        accounts.start();
        QVERIFY(accounts.watcher());
        QCOMPARE(accounts.watcher()->folder(), paths::statusLineFolder(e2e.home(), env));
        scheduler.advance(0);
        const auto idle = [&] {
            const UsageStore* store = accounts.stores().value(profile.id());
            return !accounts.isSettingUp() && store && !store->isRefreshing();
        };
        QVERIFY(pumpUntil(scheduler, idle));
        QVERIFY(accounts.connectionErrors().isEmpty());
        QVERIFY(accounts.setupAttempts().contains(profile.id()));
        QCOMPARE(reads, 2); // the first read, and one once connected
        // Connected: the installation marker is there, no observation yet.
        QVERIFY(lastRead && lastRead->ok());
        QCOMPARE(lastRead->value().waitingForObservation, std::optional(true));

        QFile settings(folder + "/settings.json");
        QVERIFY(settings.open(QIODevice::ReadOnly));
        const QString command =
            QJsonDocument::fromJson(settings.readAll()).object().value("statusLine").toObject().value("command").toString();
        QVERIFY(!command.isEmpty());
        QFile inputFile(QStringLiteral(VANTOREL_TEST_DATA_DIR) + "/resources/fixtures/claude-statusline-input.json");
        QVERIFY(inputFile.open(QIODevice::ReadOnly));
        QVERIFY(runStatusLine(command, inputFile.readAll(), env));

        QVERIFY(pumpUntil(scheduler, [&] { return reads == 3 && idle(); }));
        pumpUntil(scheduler, [] { return false; }, 200); // nothing more comes
        QCOMPARE(reads, 3);
        QVERIFY(lastRead && lastRead->ok());
        const ProviderUsage usage = accounts.usage(profile);
        QCOMPARE(usage.errorMessage, std::nullopt);
        QCOMPARE(usage, lastRead->value());
        QCOMPARE(usage.waitingForObservation.value_or(false), false);
        QVERIFY(!usage.windows.isEmpty());

        accounts.stop();
        Workers::waitForDone();
        scheduler.drainPosted();
        QCOMPARE(testsupport::childProcessCount(), 0);
    }
};

QTEST_GUILESS_MAIN(UsageAccountsWiringTest)
#include "test_usage_accounts_wiring.moc"
