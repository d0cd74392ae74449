#include "HomeFixture.h"

#include "accounts/ProfileDiscovery.h"
#include "platform/StrictJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

namespace {

const QList<UsageProvider> kAllOffered {UsageProvider::claude, UsageProvider::codex, UsageProvider::copilot,
                                        UsageProvider::antigravity};

ProviderProfile profile(UsageProvider provider, const QString& folder, const QString& name, bool visible = false)
{
    return ProviderProfile {provider, folder, name, visible, std::nullopt, std::nullopt};
}

} // namespace

class ProfileDiscoveryTest : public QObject {
    Q_OBJECT

private slots:
    void offeredProvidersFollowTheChannelInDisplayOrder()
    {
        QCOMPARE(ProfileDiscovery::offeredProviders(AppDistributionChannel::direct), kAllOffered);
        QVERIFY(ProfileDiscovery::offeredProviders(AppDistributionChannel::appStore).isEmpty());
    }

    void scanFindsMarkedFolders_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("empty home") << QStringList {} << QStringList {} << QStringList {};
        QTest::newRow("codex default folder")
            << QStringList {"f:.codex/auth.json"} << QStringList {}
            << QStringList {"codex|{home}/.codex|По умолчанию"};
        QTest::newRow("codex folder without marker") << QStringList {"d:.codex", "f:.codex/other.json"}
                                                     << QStringList {} << QStringList {};
        QTest::newRow("no dash after the base name is no candidate")
            << QStringList {"f:.codexold/auth.json", "f:.codex-old/config.toml", "f:.codex-bare/notes.txt"}
            << QStringList {} << QStringList {"codex|{home}/.codex-old|old"};
        QTest::newRow("candidates sorted by path")
            << QStringList {"f:.codex-work/auth.json", "f:.codex-personal/auth.json", "f:.codex/auth.json",
                            "f:.codex-/auth.json"}
            << QStringList {}
            << QStringList {"codex|{home}/.codex|По умолчанию", "codex|{home}/.codex-|",
                            "codex|{home}/.codex-personal|Личный", "codex|{home}/.codex-work|Рабочий"};
        QTest::newRow("CODEX_HOME at the default folder gives one profile")
            << QStringList {"f:.codex/auth.json"} << QStringList {"CODEX_HOME={home}/.codex/"}
            << QStringList {"codex|{home}/.codex|По умолчанию"};
        QTest::newRow("CODEX_HOME relative is ignored")
            << QStringList {"f:{root}/codex-home/auth.json"} << QStringList {"CODEX_HOME=codex-home"}
            << QStringList {};
        QTest::newRow("CODEX_HOME outside home, named by its folder")
            << QStringList {"f:{root}/elsewhere/.codex-team/config.toml"}
            << QStringList {"CODEX_HOME={root}/elsewhere/.codex-team"}
            << QStringList {"codex|{root}/elsewhere/.codex-team|team"};
        QTest::newRow("claude default folder marked by home's .claude.json")
            << QStringList {"d:.claude", "f:.claude.json"} << QStringList {}
            << QStringList {"claude|{home}/.claude|По умолчанию"};
        QTest::newRow("other claude folder is not marked by home's .claude.json")
            << QStringList {"d:.claude-work", "f:.claude.json", "f:.claude-team/.claude.json",
                            "f:.claude-personal/settings.json"}
            << QStringList {}
            << QStringList {"claude|{home}/.claude-personal|Личный", "claude|{home}/.claude-team|team"};
        QTest::newRow("CLAUDE_CONFIG_DIR adds a folder")
            << QStringList {"f:{root}/cc/settings.json"} << QStringList {"CLAUDE_CONFIG_DIR={root}/cc"}
            << QStringList {"claude|{root}/cc|cc"};
        QTest::newRow("copilot folders")
            << QStringList {"f:.copilot/config.json", "f:.copilot-work/settings.json"} << QStringList {}
            << QStringList {"copilot|{home}/.copilot|По умолчанию", "copilot|{home}/.copilot-work|Рабочий"};
        QTest::newRow("antigravity only inside .gemini")
            << QStringList {"f:antigravity-cli/settings.json", "f:.gemini/antigravity-cli/settings.json",
                            "f:.gemini/antigravity-cli-beta/settings.json", "f:.gemini/other/settings.json"}
            << QStringList {}
            << QStringList {"antigravity|{home}/.gemini/antigravity-cli|По умолчанию",
                            "antigravity|{home}/.gemini/antigravity-cli-beta|beta"};
        QTest::newRow("VANTOREL_ANTIGRAVITY_CONFIG_DIR adds a folder")
            << QStringList {"f:{root}/ag/settings.json"}
            << QStringList {"VANTOREL_ANTIGRAVITY_CONFIG_DIR={root}/ag"}
            << QStringList {"antigravity|{root}/ag|ag"};
        QTest::newRow("grouped by provider in display order")
            << QStringList {"f:.gemini/antigravity-cli/settings.json", "f:.copilot/config.json",
                            "f:.codex/auth.json", "f:.claude-work/settings.json"}
            << QStringList {}
            << QStringList {"claude|{home}/.claude-work|Рабочий", "codex|{home}/.codex|По умолчанию",
                            "copilot|{home}/.copilot|По умолчанию",
                            "antigravity|{home}/.gemini/antigravity-cli|По умолчанию"};
        QTest::newRow("a plain file named like a folder")
            << QStringList {"f:.codex-file", "f:.codex/auth.json"} << QStringList {}
            << QStringList {"codex|{home}/.codex|По умолчанию"};
        // A link is judged as the link: a link to a marked folder is no candidate.
        QTest::newRow("symbolic link to a folder in home")
            << QStringList {"f:{root}/real/auth.json", "l:.codex-link=>{root}/real"} << QStringList {}
            << QStringList {};
        QTest::newRow("symbolic link given by the environment")
            << QStringList {"f:{root}/real/auth.json", "l:{root}/link=>{root}/real"}
            << QStringList {"CODEX_HOME={root}/link"} << QStringList {};
        QTest::newRow("dangling symbolic link") << QStringList {"l:.codex=>{root}/missing"} << QStringList {}
                                                << QStringList {};
        // A link above the folder is followed and resolved in the stored path.
        QTest::newRow("folder reached through a linked parent")
            << QStringList {"f:{root}/real/.codex-x/auth.json", "l:{root}/via=>{root}/real"}
            << QStringList {"CODEX_HOME={root}/via/.codex-x"} << QStringList {"codex|{root}/real/.codex-x|x"};
        QTest::newRow("linked antigravity parent folder is listed")
            << QStringList {"f:{root}/gem/antigravity-cli/settings.json", "l:.gemini=>{root}/gem"}
            << QStringList {} << QStringList {"antigravity|{root}/gem/antigravity-cli|По умолчанию"};
    }

    void scanFindsMarkedFolders()
    {
        QFETCH(QStringList, entries);
        QFETCH(QStringList, environment);
        QFETCH(QStringList, expected);
        HomeFixture home;
        QVERIFY(home.build(entries));
        const QList<ProviderProfile> found
            = ProfileDiscovery::scanHome(home.home(), home.environment(environment), kAllOffered, {});
        QCOMPARE(home.describe(found), expected);
        for (const ProviderProfile& p : found) {
            QVERIFY(!p.isVisible);
            QVERIFY(!p.accountIdentifier);
            QVERIFY(!p.hiddenAntigravityGroups);
        }
    }

    void scanCoversOnlyTheGivenProviders()
    {
        HomeFixture home;
        QVERIFY(home.build({"f:.codex/auth.json", "f:.claude-work/settings.json"}));
        QCOMPARE(home.describe(ProfileDiscovery::scanHome(home.home(), {}, {UsageProvider::codex}, {})),
                 QStringList {"codex|{home}/.codex|По умолчанию"});
        QVERIFY(ProfileDiscovery::scanHome(home.home(), {}, {}, {}).isEmpty());
        QVERIFY(ProfileDiscovery::scanHome(home.path("missing"), {}, kAllOffered, {}).isEmpty());
    }

    void scanSkipsCopilotFoldersThatHaveAccountProfiles()
    {
        HomeFixture home;
        QVERIFY(home.build({"f:.copilot/config.json", "f:.copilot-work/config.json"}));
        ProviderProfile account = profile(UsageProvider::copilot, home.path(".copilot"), "octocat");
        account.accountIdentifier = QStringLiteral("github.com") + QChar(u'\0') + QStringLiteral("octocat");
        // A folder profile without an account does not hide the folder.
        const ProviderProfile folderOnly = profile(UsageProvider::copilot, home.path(".copilot-work"), "w");
        QCOMPARE(home.describe(ProfileDiscovery::scanHome(home.home(), {}, kAllOffered, {account, folderOnly})),
                 QStringList {"copilot|{home}/.copilot-work|Рабочий"});
    }

    void seedingShowsOneClaudeAndOneCodexProfile_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("selectedAccount"); // "-" for none
        QTest::addColumn<QStringList>("visible");

        const QStringList mixed {"f:.claude.json", "d:.claude", "f:.claude-work/settings.json",
                                 "f:.claude-personal/settings.json", "f:.codex/auth.json",
                                 "f:.codex-personal/auth.json", "f:.codex-umbo/auth.json",
                                 "f:.copilot/config.json", "f:.gemini/antigravity-cli/settings.json"};
        QTest::newRow("work") << mixed << "work"
                              << QStringList {"claude|{home}/.claude-work|Рабочий|visible",
                                              "codex|{home}/.codex-umbo|Рабочий|visible"};
        QTest::newRow("personal") << mixed << "personal"
                                  << QStringList {"claude|{home}/.claude-personal|Личный|visible",
                                                  "codex|{home}/.codex-personal|Личный|visible"};
        QTest::newRow("absent means personal") << mixed << "-"
                                               << QStringList {"claude|{home}/.claude-personal|Личный|visible",
                                                               "codex|{home}/.codex-personal|Личный|visible"};
        QTest::newRow("other value means personal") << mixed << "team"
                                                    << QStringList {"claude|{home}/.claude-personal|Личный|visible",
                                                                    "codex|{home}/.codex-personal|Личный|visible"};
        QTest::newRow("legacy folder missing: first found")
            << QStringList {"d:.claude", "f:.claude.json", "f:.claude-work/settings.json", "f:.codex/auth.json"}
            << "work"
            << QStringList {"claude|{home}/.claude-work|Рабочий|visible", "codex|{home}/.codex|По умолчанию|visible"};
        QTest::newRow("no claude folder")
            << QStringList {"f:.codex-b/auth.json", "f:.codex-a/auth.json"} << "-"
            << QStringList {"codex|{home}/.codex-a|a|visible"};
        QTest::newRow("copilot and antigravity stay hidden")
            << QStringList {"f:.copilot/config.json", "f:.gemini/antigravity-cli/settings.json"} << "-"
            << QStringList {};
    }

    void seedingShowsOneClaudeAndOneCodexProfile()
    {
        QFETCH(QStringList, entries);
        QFETCH(QString, selectedAccount);
        QFETCH(QStringList, visible);
        HomeFixture home;
        QVERIFY(home.build(entries));
        QList<ProviderProfile> profiles = ProfileDiscovery::scanHome(home.home(), {}, kAllOffered, {});
        const qsizetype count = profiles.size();
        ProfileDiscovery::seedVisibility(profiles, kAllOffered, home.home(),
                                         selectedAccount == "-" ? std::nullopt : std::optional(selectedAccount));
        QCOMPARE(profiles.size(), count);
        QStringList shown;
        for (const ProviderProfile& p : profiles) {
            if (p.isVisible)
                shown.append(home.describe(p));
        }
        QCOMPARE(shown, visible);
    }

    void seedingLeavesProvidersNotOffered()
    {
        HomeFixture home;
        QVERIFY(home.build({"f:.codex/auth.json", "f:.claude-work/settings.json"}));
        QList<ProviderProfile> profiles = ProfileDiscovery::scanHome(home.home(), {}, kAllOffered, {});
        ProfileDiscovery::seedVisibility(profiles, {UsageProvider::codex}, home.home(), std::nullopt);
        QCOMPARE(home.describe(profiles),
                 (QStringList {"claude|{home}/.claude-work|Рабочий", "codex|{home}/.codex|По умолчанию|visible"}));
    }

    void savedListRoundTripsWithSortedKeys()
    {
        ProviderProfile codex = profile(UsageProvider::codex, "/h/.codex", "По умолчанию", true);
        ProviderProfile agy = profile(UsageProvider::antigravity, "/h/.gemini/antigravity-cli", "", false);
        agy.hiddenAntigravityGroups = std::set<AntigravityQuotaGroup> {};
        ProviderProfile account = profile(UsageProvider::copilot, "/h/.copilot", "octocat");
        account.accountIdentifier = QStringLiteral("github.com") + QChar(u'\0') + QStringLiteral("octocat");
        const QList<ProviderProfile> list {codex, agy, account};

        const QByteArray data = ProfileDiscovery::encodeProfileList(list);
        QCOMPARE(ProfileDiscovery::decodeProfileList(data), list);
        QVERIFY(!data.contains('\n'));
        QVERIFY(data.startsWith(R"([{"configDirectory":"/h/.codex","isVisible":true,"name":)"));
        QVERIFY(data.contains(R"("hiddenAntigravityGroups":[])"));
        QVERIFY(data.contains(R"("accountIdentifier":"github.com\u0000octocat")"));
        // Absent optionals are left out.
        QCOMPARE(QJsonDocument::fromJson(data).array().at(0).toObject().keys(),
                 (QStringList {"configDirectory", "isVisible", "name", "provider"}));
        QCOMPARE(ProfileDiscovery::encodeProfileList({}), QByteArray("[]"));
    }

    void savedListFailsAsAWhole_data()
    {
        QTest::addColumn<QByteArray>("data");
        const QByteArray good = R"({"provider":"codex","configDirectory":"/h/.codex","name":"a","isVisible":true})";
        QTest::newRow("not JSON") << QByteArray("[{");
        QTest::newRow("an object") << good;
        QTest::newRow("a provider from a newer version")
            << "[" + good + R"(,{"provider":"gemini","configDirectory":"/h","name":"b","isVisible":false}])";
        QTest::newRow("one entry without a name")
            << "[" + good + R"(,{"provider":"codex","configDirectory":"/h/x","isVisible":false}])";
        QTest::newRow("visibility as a string")
            << QByteArray(R"([{"provider":"codex","configDirectory":"/h","name":"a","isVisible":"yes"}])");
        QTest::newRow("unknown quota group")
            << QByteArray(R"([{"provider":"antigravity","configDirectory":"/h","name":"a","isVisible":true,)"
                          R"("hiddenAntigravityGroups":["gemini","openai"]}])");
        QTest::newRow("an entry that is no object") << "[" + good + ",3]";
    }

    void savedListFailsAsAWhole()
    {
        QFETCH(QByteArray, data);
        QVERIFY_THROWS_EXCEPTION(json::DecodeError, ProfileDiscovery::decodeProfileList(data));
    }

    void savedListIgnoresUnknownKeys()
    {
        const QList<ProviderProfile> list = ProfileDiscovery::decodeProfileList(
            R"([{"provider":"claude","configDirectory":"/h/.claude","name":"x","isVisible":false,"color":"red",)"
            R"("accountIdentifier":null}])");
        QCOMPARE(list, (QList<ProviderProfile> {profile(UsageProvider::claude, "/h/.claude", "x")}));
    }
};

QTEST_GUILESS_MAIN(ProfileDiscoveryTest)
#include "test_profile_discovery.moc"
