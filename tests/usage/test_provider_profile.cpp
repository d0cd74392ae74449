#include "platform/Paths.h"
#include "platform/StrictJson.h"
#include "usage/ProviderProfile.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using Groups = std::optional<std::set<AntigravityQuotaGroup>>;
Q_DECLARE_METATYPE(Groups)
Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

ProviderProfile profile(UsageProvider provider, const QString& folder, std::optional<QString> account = std::nullopt)
{
    ProviderProfile p;
    p.provider = provider;
    p.configDirectory = folder;
    p.name = QStringLiteral("n");
    p.accountIdentifier = std::move(account);
    return p;
}

QStringList ids(const ProviderUsage& u)
{
    QStringList out;
    for (const auto& w : u.windows)
        out << w.id;
    return out;
}

const QString kBothHidden = QStringLiteral("Группы Gemini и Claude/GPT выключены в настройках этого аккаунта.");

} // namespace

class TestProviderProfile : public QObject {
    Q_OBJECT

private slots:
    void identifier_data()
    {
        QTest::addColumn<int>("provider");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<std::optional<QString>>("account");
        QTest::addColumn<QString>("digest");
        // Digests of the exact bytes, NUL separators included (computed with sha256sum).
        QTest::newRow("codex") << int(UsageProvider::codex) << "/Users/a/.codex" << std::optional<QString>()
                               << "5e51e43e6186d313547454ab70001d056430a7d6b9b04df6acbbd1d48d0cc08c";
        QTest::newRow("trailing slash differs") << int(UsageProvider::codex) << "/Users/a/.codex/" << std::optional<QString>()
                                                << "f624b93196c07900e26e3b2e2473aeeeb8575b4d885e21b862a77a40fb399257";
        QTest::newRow("copilot folder") << int(UsageProvider::copilot) << "/Users/a/.copilot" << std::optional<QString>()
                                        << "e66568b7c5f5f6e86e9bc58d9b21178dfecd290f895b8ff0d1cc2b63baa504a3";
        QTest::newRow("copilot account") << int(UsageProvider::copilot) << "/Users/a/.copilot" << std::optional<QString>(QString::fromUtf16(u"github.com\u0000octo", 15))
                                         << "4aae8e7ccb34510de935b46d9a5148d33a7ad3f2ed9eb39f0d3a18c457bc7c3d";
        QTest::newRow("empty account ends with NUL") << int(UsageProvider::copilot) << "/Users/a/.copilot" << std::optional<QString>(QString())
                                                     << "d148c982429ccd703bc8c832d86caccc6e08f1eecaed6ffc6f3b26a974af37e7";
        QTest::newRow("non-ASCII folder") << int(UsageProvider::claude) << "/home/ю/.claude" << std::optional<QString>()
                                          << "02c41bb506852d39a92500e32e0a1f39e0d954c2e3d519cb5352e3d9c17ab70b";
    }
    void identifier()
    {
        QFETCH(int, provider);
        QFETCH(QString, folder);
        QFETCH(std::optional<QString>, account);
        QFETCH(QString, digest);
        ProviderProfile p = profile(UsageProvider(provider), folder, account);
        QCOMPARE(p.id(), digest);
        // Name, visibility and hidden groups do not take part.
        p.name = QStringLiteral("другое");
        p.isVisible = true;
        p.hiddenAntigravityGroups = std::set {AntigravityQuotaGroup::gemini};
        QCOMPARE(p.id(), digest);
    }

    void defaultName_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("provider");
        QTest::addColumn<QString>("name");
        QTest::newRow(".codex") << ".codex" << int(UsageProvider::codex) << "По умолчанию";
        QTest::newRow(".codex-personal") << ".codex-personal" << int(UsageProvider::codex) << "Личный";
        QTest::newRow(".codex-umbo") << ".codex-umbo" << int(UsageProvider::codex) << "Рабочий";
        QTest::newRow(".claude-work") << ".claude-work" << int(UsageProvider::claude) << "Рабочий";
        QTest::newRow(".claude-team") << ".claude-team" << int(UsageProvider::claude) << "team";
        QTest::newRow("antigravity-cli") << "antigravity-cli" << int(UsageProvider::antigravity) << "По умолчанию";
        QTest::newRow("antigravity-cli-personal") << "antigravity-cli-personal" << int(UsageProvider::antigravity) << "Личный";
        QTest::newRow("other provider's folder") << ".claude-work" << int(UsageProvider::codex) << ".claude-work";
        QTest::newRow("base and hyphen only") << ".codex-" << int(UsageProvider::codex) << "";
        QTest::newRow("case-sensitive") << ".codex-Personal" << int(UsageProvider::codex) << "Personal";
        QTest::newRow("rest equal to base") << ".copilot-.copilot" << int(UsageProvider::copilot) << "По умолчанию";
        QTest::newRow("plain work") << "work" << int(UsageProvider::copilot) << "Рабочий";
        QTest::newRow("no hyphen") << ".codexold" << int(UsageProvider::codex) << ".codexold";
    }
    void defaultName()
    {
        QFETCH(QString, folder);
        QFETCH(int, provider);
        QFETCH(QString, name);
        QCOMPARE(ProviderProfile::defaultName(folder, UsageProvider(provider)), name);
    }

    void jsonMinimal()
    {
        const ProviderProfile p = profile(UsageProvider::codex, "/Users/a/.codex");
        const QJsonObject o = p.toJson();
        QStringList keys = o.keys();
        QCOMPARE(keys, (QStringList {"configDirectory", "isVisible", "name", "provider"}));
        QCOMPARE(ProviderProfile::fromJson(o), p);

        const auto decoded = ProviderProfile::fromJson(json::parseObject(
            R"({"provider":"copilot","configDirectory":"/c","name":"","isVisible":true,"accountIdentifier":null,"hiddenAntigravityGroups":null,"extra":1})"));
        QVERIFY(!decoded.accountIdentifier && !decoded.hiddenAntigravityGroups);
        QCOMPARE(decoded.name, QString());
        QVERIFY(decoded.isVisible);
    }

    void jsonHiddenGroupsAreStable_data()
    {
        QTest::addColumn<Groups>("groups");
        QTest::addColumn<QByteArray>("encoded");
        QTest::newRow("empty set is written") << Groups(std::set<AntigravityQuotaGroup>()) << QByteArray("[]");
        QTest::newRow("one") << Groups(std::set {AntigravityQuotaGroup::claudeAndGPT}) << QByteArray(R"(["claudeAndGPT"])");
        QTest::newRow("both, enumeration order") << Groups(std::set {AntigravityQuotaGroup::claudeAndGPT, AntigravityQuotaGroup::gemini})
                                                 << QByteArray(R"(["gemini","claudeAndGPT"])");
    }
    void jsonHiddenGroupsAreStable()
    {
        QFETCH(Groups, groups);
        QFETCH(QByteArray, encoded);
        ProviderProfile p = profile(UsageProvider::antigravity, "/h/.gemini/antigravity-cli", QString::fromUtf16(u"h\u0000l", 3));
        p.hiddenAntigravityGroups = groups;
        const QByteArray bytes = json::serialize(p.toJson());
        QVERIFY2(bytes.contains("\"hiddenAntigravityGroups\":" + encoded), bytes.constData());
        const ProviderProfile back = ProviderProfile::fromJson(json::parse(bytes));
        QCOMPARE(back, p);
        QCOMPARE(back.accountIdentifier->size(), 3);
    }

    void jsonDecodeFailures_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("unknown provider") << QByteArray(R"({"provider":"gemini","configDirectory":"/c","name":"n","isVisible":true})");
        QTest::newRow("no name") << QByteArray(R"({"provider":"codex","configDirectory":"/c","isVisible":true})");
        QTest::newRow("no folder") << QByteArray(R"({"provider":"codex","name":"n","isVisible":true})");
        QTest::newRow("visible as text") << QByteArray(R"({"provider":"codex","configDirectory":"/c","name":"n","isVisible":"yes"})");
        QTest::newRow("numeric account") << QByteArray(R"({"provider":"codex","configDirectory":"/c","name":"n","isVisible":true,"accountIdentifier":5})");
        QTest::newRow("unknown group") << QByteArray(R"({"provider":"antigravity","configDirectory":"/c","name":"n","isVisible":true,"hiddenAntigravityGroups":["gemini","other"]})");
        QTest::newRow("groups not a list") << QByteArray(R"({"provider":"antigravity","configDirectory":"/c","name":"n","isVisible":true,"hiddenAntigravityGroups":"gemini"})");
    }
    void jsonDecodeFailures()
    {
        QFETCH(QByteArray, text);
        QVERIFY_THROWS_EXCEPTION(json::DecodeError, ProviderProfile::fromJson(json::parse(text)));
    }

    void equality()
    {
        const ProviderProfile a = profile(UsageProvider::copilot, "/c");
        ProviderProfile b = a;
        QCOMPARE(a, b);
        b.accountIdentifier = QString();
        QVERIFY(!(a == b));
        b = a;
        b.hiddenAntigravityGroups = std::set<AntigravityQuotaGroup>();
        QVERIFY(!(a == b)); // absent equals only absent
        ProviderProfile c = a, d = a;
        c.hiddenAntigravityGroups = std::set {AntigravityQuotaGroup::gemini, AntigravityQuotaGroup::claudeAndGPT};
        d.hiddenAntigravityGroups = std::set {AntigravityQuotaGroup::claudeAndGPT, AntigravityQuotaGroup::gemini};
        QCOMPARE(c, d);
    }

    void claudeFolders()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString home = paths::standardizedResolvedPath(tmp.path() + "/home");
        QVERIFY(QDir().mkpath(home + "/real-claude"));
        QVERIFY(QDir().mkpath(home + "/.claude-work"));
        QVERIFY(QFile::link(home + "/real-claude", home + "/.claude"));

        // Home's own ".claude", reached through a link and stored by its resolved path.
        const ProviderProfile byDefault = profile(UsageProvider::claude, home + "/real-claude");
        QVERIFY(!byDefault.claudeDirectoryOverride(home));
        QCOMPARE(byDefault.claudeConfigFileURL(home), home + "/.claude.json");
        QCOMPARE(byDefault.claudeDirectoryTag(home), byDefault.id());

        const ProviderProfile work = profile(UsageProvider::claude, home + "/.claude-work");
        QCOMPARE(work.claudeDirectoryOverride(home), std::optional(home + "/.claude-work"));
        QCOMPARE(work.claudeConfigFileURL(home), home + "/.claude-work/.claude.json");
        QCOMPARE(work.claudeDirectoryTag(home), QStringLiteral("work"));

        // Folders that do not exist are compared by their standardised paths all the same.
        const ProviderProfile personal = profile(UsageProvider::claude, home + "/.claude-personal");
        QCOMPARE(personal.claudeDirectoryTag(home), QStringLiteral("personal"));
        QCOMPARE(personal.claudeDirectoryTag(home + "/"), QStringLiteral("personal"));
        const QString bare = home + "/bare";
        QVERIFY(QDir().mkpath(bare));
        const ProviderProfile missingDefault = profile(UsageProvider::claude, bare + "/.claude");
        QVERIFY(!missingDefault.claudeDirectoryOverride(bare));
        QCOMPARE(missingDefault.claudeConfigFileURL(bare), bare + "/.claude.json");
    }

    void hiddenGroups_data()
    {
        QTest::addColumn<int>("profileProvider");
        QTest::addColumn<int>("usageProvider");
        QTest::addColumn<Groups>("hidden");
        QTest::addColumn<QStringList>("kept");
        QTest::addColumn<QString>("note");
        const int ag = int(UsageProvider::antigravity);
        const QStringList all {"gemini-pro-5h", "3p-claude-weekly", "other", "gemini", "Gemini-x", "3p-gpt-5h"};
        QTest::newRow("absent") << ag << ag << Groups() << all << "old";
        QTest::newRow("empty") << ag << ag << Groups(std::set<AntigravityQuotaGroup>()) << all << "old";
        QTest::newRow("gemini") << ag << ag << Groups(std::set {AntigravityQuotaGroup::gemini})
                                << QStringList {"3p-claude-weekly", "other", "gemini", "Gemini-x", "3p-gpt-5h"} << "old";
        QTest::newRow("claudeAndGPT") << ag << ag << Groups(std::set {AntigravityQuotaGroup::claudeAndGPT})
                                      << QStringList {"gemini-pro-5h", "other", "gemini", "Gemini-x"} << "old";
        QTest::newRow("both") << ag << ag << Groups(std::set {AntigravityQuotaGroup::gemini, AntigravityQuotaGroup::claudeAndGPT})
                              << QStringList {"other", "gemini", "Gemini-x"} << kBothHidden;
        const Groups both(std::set {AntigravityQuotaGroup::gemini, AntigravityQuotaGroup::claudeAndGPT});
        QTest::newRow("codex profile") << int(UsageProvider::codex) << ag << both << all << "old";
        QTest::newRow("claude usage") << ag << int(UsageProvider::claude) << both << all << "old";
    }
    void hiddenGroups()
    {
        QFETCH(int, profileProvider);
        QFETCH(int, usageProvider);
        QFETCH(Groups, hidden);
        QFETCH(QStringList, kept);
        QFETCH(QString, note);
        ProviderProfile p = profile(UsageProvider(profileProvider), "/x");
        p.hiddenAntigravityGroups = hidden;
        ProviderUsage u = ProviderUsage::placeholder(UsageProvider(usageProvider));
        for (const char* id : {"gemini-pro-5h", "3p-claude-weekly", "other", "gemini", "Gemini-x", "3p-gpt-5h"})
            u.windows.append(testsupport::limitWindow(QString::fromLatin1(id), 10));
        u.sourceNote = QStringLiteral("old");
        u.planName = QStringLiteral("plan");
        const ProviderUsage out = p.removingHiddenAntigravityGroups(u);
        QCOMPARE(ids(out), kept);
        QCOMPARE(out.sourceNote, std::optional(note));
        QCOMPARE(out.planName, u.planName);
        QCOMPARE(out.isLoading, u.isLoading);
    }

    void bothHiddenSetsNoteWithoutWindows()
    {
        ProviderProfile p = profile(UsageProvider::antigravity, "/x");
        p.hiddenAntigravityGroups = std::set {AntigravityQuotaGroup::gemini, AntigravityQuotaGroup::claudeAndGPT};
        const ProviderUsage out = p.removingHiddenAntigravityGroups(ProviderUsage::placeholder(UsageProvider::antigravity));
        QCOMPARE(out.sourceNote, std::optional(kBothHidden));
    }
};

QTEST_GUILESS_MAIN(TestProviderProfile)
#include "test_provider_profile.moc"
