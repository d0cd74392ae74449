// The registry with its default stores and clients, run against the fake tool
// programs found in the home folder's ".local/bin".

#include "HomeFixture.h"
#include "support/TestSupport.h"

#include "platform/Defaults.h"
#include "platform/Scheduler.h"
#include "platform/Workers.h"
#include "usage/UsageAccounts.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

QByteArray bytes(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// The first record of a fake program's log: the whole file, or its first line.
QJsonObject readLog(const QString& path, bool firstLine)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(firstLine ? f.readLine() : f.readAll()).object();
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

        accounts.stop();
        Workers::waitForDone();
        scheduler.drainPosted();
        QCOMPARE(testsupport::childProcessCount(), 0);
    }
};

QTEST_GUILESS_MAIN(UsageAccountsWiringTest)
#include "test_usage_accounts_wiring.moc"
