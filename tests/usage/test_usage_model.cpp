#include "platform/StrictJson.h"
#include "usage/ProviderUsage.h"
#include "usage/UsageProvider.h"
#include "usage/UsageWindow.h"

#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>
#include <functional>
#include <limits>

using UsageChange = std::function<void(ProviderUsage&)>;
Q_DECLARE_METATYPE(UsageChange)

using testsupport::limitWindow;

namespace {

QJsonObject object(const char* text)
{
    return json::parseObject(QByteArray(text));
}

QStringList sortedKeys(const QJsonObject& o)
{
    QStringList keys = o.keys();
    keys.sort();
    return keys;
}

// Every one of the 19 fields set.
ProviderUsage fullUsage()
{
    ProviderUsage u;
    u.provider = UsageProvider::codex;
    u.planName = QStringLiteral("Pro");
    UsageWindow w = limitWindow(QStringLiteral("codex-primary"), 42.5);
    w.resetsAt = Timestamp::fromSinceReference(800000000.5);
    w.durationMinutes = 300;
    w.observedAt = Timestamp::fromSinceReference(799999000);
    u.windows = {w, limitWindow(QStringLiteral("codex-secondary"), 100)};
    u.updatedAt = Timestamp::fromSinceReference(799999999.25);
    u.errorMessage = QStringLiteral("Ошибка");
    u.isLoading = true;
    u.errorCode = QStringLiteral("TIMEOUT");
    u.nextRetryAt = Timestamp::fromSinceReference(800000030);
    u.failureCount = 3;
    u.sourceNote = QStringLiteral("note");
    u.isStale = true;
    u.unlimitedCategories = QStringList {QStringLiteral("chat"), QStringLiteral("completions")};
    u.waitingForObservation = false;
    u.codexAccountID = QStringLiteral("acct-1");
    CodexResetCredits credits;
    credits.availableCount = 2;
    CodexResetCredits::Credit credit;
    credit.id = QStringLiteral("c1");
    credit.resetType = QStringLiteral("rate_limit");
    credit.status = QStringLiteral("available");
    credit.grantedAt = 1760000000;
    credit.expiresAt = 1770000000;
    credit.title = QStringLiteral("t");
    credit.description = QStringLiteral("d");
    credits.credits = QList<CodexResetCredits::Credit> {credit};
    u.codexResetCredits = credits;
    u.codexOrdinaryUsageAllowed = false;
    u.codexSpendControlReached = false;
    u.codexReachedType = QStringLiteral("rate_limit_reached");
    u.isSimulation = false;
    return u;
}

} // namespace

class TestUsageModel : public QObject {
    Q_OBJECT

private slots:
    void providers_data()
    {
        QTest::addColumn<UsageProvider>("provider");
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("statusLine");
        QTest::newRow("codex") << UsageProvider::codex << "codex" << "Codex" << false;
        QTest::newRow("claude") << UsageProvider::claude << "claude" << "Claude Code" << true;
        QTest::newRow("copilot") << UsageProvider::copilot << "copilot" << "Copilot" << false;
        QTest::newRow("antigravity") << UsageProvider::antigravity << "antigravity" << "Antigravity" << true;
    }
    void providers()
    {
        QFETCH(UsageProvider, provider);
        QFETCH(QString, raw);
        QFETCH(QString, name);
        QFETCH(bool, statusLine);
        QCOMPARE(rawValue(provider), raw);
        QCOMPARE(displayName(provider), name);
        QCOMPARE(usesStatusLine(provider), statusLine);
        QCOMPARE(usageProviderFromRawValue(raw), std::optional(provider));
        QCOMPARE(usageProviderFromJson(QJsonValue(raw)), provider);
    }

    void providerOrderAndUnknownValues()
    {
        QCOMPARE(kAllUsageProviders[0], UsageProvider::codex);
        QCOMPARE(kAllUsageProviders[3], UsageProvider::antigravity);
        for (const char* raw : {"gemini", "Codex", "", " codex"})
            QVERIFY(!usageProviderFromRawValue(QString::fromUtf8(raw)));
        QVERIFY_THROWS_EXCEPTION(json::DecodeError, usageProviderFromJson(QJsonValue(QStringLiteral("gemini"))));
        QVERIFY_THROWS_EXCEPTION(json::DecodeError, usageProviderFromJson(QJsonValue(1)));
    }

    void accountScopes()
    {
        QCOMPARE(rawValue(AccountScope::personal), QStringLiteral("personal"));
        QCOMPARE(rawValue(AccountScope::work), QStringLiteral("work"));
        QCOMPARE(accountScopeFromRawValue(QStringLiteral("work")), std::optional(AccountScope::work));
        QVERIFY(!accountScopeFromRawValue(QStringLiteral("Work")));
        QCOMPARE(kAllAccountScopes[0], AccountScope::personal);
    }

    void humanized_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("three words") << "team_plus_plan" << "Team Plus Plan";
        QTest::newRow("stray underscores") << "__pro__max_" << "Pro Max";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("only underscores") << "___" << "";
        QTest::newRow("upper case") << "ENTERPRISE_TIER" << "Enterprise Tier";
        QTest::newRow("mixed case") << "chatGPT" << "Chatgpt";
        QTest::newRow("hyphen starts a word") << "pro-lite" << "Pro-Lite";
        QTest::newRow("blank inside a piece") << "free plan_x" << "Free Plan X";
        QTest::newRow("cyrillic") << "личный_ПЛАН" << "Личный План";
        QTest::newRow("digits") << "tier_2" << "Tier 2";
    }
    void humanized()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(humanizedIdentifier(input), expected);
    }

    void windowJson()
    {
        UsageWindow minimal = limitWindow(QStringLiteral("five_hour"), 12.5);
        QCOMPARE(sortedKeys(minimal.toJson()), (QStringList {"id", "title", "usedPercent"}));
        QCOMPARE(UsageWindow::fromJson(minimal.toJson()), minimal);

        UsageWindow full = minimal;
        full.resetsAt = Timestamp::fromSince1970(978307200 + 60);
        full.durationMinutes = 300;
        full.observedAt = Timestamp::fromSinceReference(-5.5);
        const QJsonObject o = full.toJson();
        QCOMPARE(o.value("resetsAt").toDouble(), 60.0); // seconds since 2001
        QCOMPARE(o.value("observedAt").toDouble(), -5.5);
        QCOMPARE(UsageWindow::fromJson(o), full);

        // Null optionals give none; 300.0 is an integer.
        const auto decoded = UsageWindow::fromJson(object(
            R"({"id":"a","title":"b","usedPercent":1,"resetsAt":null,"durationMinutes":300.0,"observedAt":null,"extra":[1]})"));
        QVERIFY(!decoded.resetsAt && !decoded.observedAt);
        QCOMPARE(decoded.durationMinutes, std::optional<qint64>(300));
    }

    void windowDecodeFailures_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("no id") << QByteArray(R"({"title":"b","usedPercent":1})");
        QTest::newRow("null id") << QByteArray(R"({"id":null,"title":"b","usedPercent":1})");
        QTest::newRow("numeric title") << QByteArray(R"({"id":"a","title":3,"usedPercent":1})");
        QTest::newRow("no usedPercent") << QByteArray(R"({"id":"a","title":"b"})");
        QTest::newRow("string usedPercent") << QByteArray(R"({"id":"a","title":"b","usedPercent":"1"})");
        QTest::newRow("fractional minutes") << QByteArray(R"({"id":"a","title":"b","usedPercent":1,"durationMinutes":12.5})");
        QTest::newRow("string date") << QByteArray(R"({"id":"a","title":"b","usedPercent":1,"resetsAt":"2026-01-01T00:00:00Z"})");
        QTest::newRow("not an object") << QByteArray(R"(["a"])");
    }
    void windowDecodeFailures()
    {
        QFETCH(QByteArray, text);
        QVERIFY_THROWS_EXCEPTION(json::DecodeError, UsageWindow::fromJson(json::parse(text)));
    }

    void placeholderEncodesFourKeys()
    {
        const ProviderUsage p = ProviderUsage::placeholder(UsageProvider::copilot);
        QVERIFY(p.isLoading);
        QCOMPARE(p.failureCount, 0);
        const QJsonObject o = p.toJson();
        QCOMPARE(sortedKeys(o), (QStringList {"failureCount", "isLoading", "provider", "windows"}));
        QCOMPARE(o.value("provider").toString(), QStringLiteral("copilot"));
        QCOMPARE(ProviderUsage::fromJson(o), p);
    }

    void fullUsageRoundTrip()
    {
        const ProviderUsage u = fullUsage();
        const QJsonObject o = u.toJson();
        QCOMPARE(o.size(), 19);
        QCOMPARE(o.value("updatedAt").toDouble(), 799999999.25);
        // Through bytes, as the snapshot is stored.
        QCOMPARE(ProviderUsage::fromJson(json::parse(json::serialize(o))), u);
    }

    void usageDecodes_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<UsageChange>("expected"); // applied to a claude placeholder with isLoading false
        QTest::newRow("required keys only") << QByteArray(R"({"provider":"claude","windows":[],"isLoading":false,"failureCount":0})")
                                            << UsageChange([](ProviderUsage&) {});
        QTest::newRow("nulls give none") << QByteArray(R"({"provider":"claude","windows":[],"isLoading":false,"failureCount":0,)"
                                                        R"("planName":null,"codexAccountID":null,"codexResetCredits":null,"unlimitedCategories":null,"isStale":null})")
                                         << UsageChange([](ProviderUsage&) {});
        QTest::newRow("integral double count") << QByteArray(R"({"provider":"claude","windows":[],"isLoading":false,"failureCount":2.0,"future":1})")
                                               << UsageChange([](ProviderUsage& u) { u.failureCount = 2; });
        QTest::newRow("categories") << QByteArray(R"({"provider":"claude","windows":[],"isLoading":false,"failureCount":0,"unlimitedCategories":[]})")
                                    << UsageChange([](ProviderUsage& u) { u.unlimitedCategories = QStringList(); });
    }
    void usageDecodes()
    {
        QFETCH(QByteArray, text);
        QFETCH(UsageChange, expected);
        ProviderUsage want = ProviderUsage::placeholder(UsageProvider::claude);
        want.isLoading = false;
        expected(want);
        QCOMPARE(ProviderUsage::fromJson(json::parse(text)), want);
    }

    void usageDecodeFailures_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("no isLoading") << QByteArray(R"({"provider":"codex","windows":[],"failureCount":0})");
        QTest::newRow("no failureCount") << QByteArray(R"({"provider":"codex","windows":[],"isLoading":false})");
        QTest::newRow("no windows") << QByteArray(R"({"provider":"codex","isLoading":false,"failureCount":0})");
        QTest::newRow("no provider") << QByteArray(R"({"windows":[],"isLoading":false,"failureCount":0})");
        QTest::newRow("unknown provider") << QByteArray(R"({"provider":"gemini","windows":[],"isLoading":false,"failureCount":0})");
        QTest::newRow("fractional count") << QByteArray(R"({"provider":"codex","windows":[],"isLoading":false,"failureCount":1.5})");
        QTest::newRow("count beyond int") << QByteArray(R"({"provider":"codex","windows":[],"isLoading":false,"failureCount":1099511627776})");
        QTest::newRow("bad window") << QByteArray(R"({"provider":"codex","windows":[{"id":"a","title":"b"}],"isLoading":false,"failureCount":0})");
        QTest::newRow("mistyped optional") << QByteArray(R"({"provider":"codex","windows":[],"isLoading":false,"failureCount":0,"isStale":"yes"})");
        QTest::newRow("numeric category") << QByteArray(R"({"provider":"codex","windows":[],"isLoading":false,"failureCount":0,"unlimitedCategories":[1]})");
        QTest::newRow("credits without count") << QByteArray(R"({"provider":"codex","windows":[],"isLoading":false,"failureCount":0,"codexResetCredits":{"credits":[]}})");
        QTest::newRow("date as text") << QByteArray(R"({"provider":"codex","windows":[],"isLoading":false,"failureCount":0,"updatedAt":"now"})");
    }
    void usageDecodeFailures()
    {
        QFETCH(QByteArray, text);
        QVERIFY_THROWS_EXCEPTION(json::DecodeError, ProviderUsage::fromJson(json::parse(text)));
    }

    void usageEquality_data()
    {
        QTest::addColumn<UsageChange>("change");
        QTest::newRow("window observedAt") << UsageChange([](ProviderUsage& u) { u.windows[0].observedAt = u.windows[0].observedAt->adding(0.001); });
        QTest::newRow("window order") << UsageChange([](ProviderUsage& u) { std::swap(u.windows[0], u.windows[1]); });
        QTest::newRow("absent vs false") << UsageChange([](ProviderUsage& u) { u.isSimulation.reset(); });
        QTest::newRow("credit expiry") << UsageChange([](ProviderUsage& u) { (*u.codexResetCredits->credits)[0].expiresAt.reset(); });
        QTest::newRow("categories order") << UsageChange([](ProviderUsage& u) { std::swap((*u.unlimitedCategories)[0], (*u.unlimitedCategories)[1]); });
        QTest::newRow("failure count") << UsageChange([](ProviderUsage& u) { u.failureCount++; });
        QTest::newRow("provider") << UsageChange([](ProviderUsage& u) { u.provider = UsageProvider::copilot; });
    }
    void usageEquality()
    {
        QFETCH(UsageChange, change);
        ProviderUsage changed = fullUsage();
        QCOMPARE(changed, fullUsage());
        change(changed);
        QVERIFY(!(changed == fullUsage()));
    }

    void peakUsedPercent()
    {
        ProviderUsage u = ProviderUsage::placeholder(UsageProvider::codex);
        QVERIFY(!u.peakUsedPercent());
        u.windows = {limitWindow("a", 40), limitWindow("b", 100), limitWindow("c", 100), limitWindow("d", -3)};
        QCOMPARE(u.peakUsedPercent(), std::optional(100.0));
        u.windows = {limitWindow("a", 130.5)};
        QCOMPARE(u.peakUsedPercent(), std::optional(130.5));

        // Non-finite values are ignored wherever they stand.
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        u.windows = {limitWindow("a", nan), limitWindow("b", 40)};
        QCOMPARE(u.peakUsedPercent(), std::optional(40.0));
        u.windows = {limitWindow("b", 40), limitWindow("a", nan)};
        QCOMPARE(u.peakUsedPercent(), std::optional(40.0));
        u.windows = {limitWindow("a", inf), limitWindow("b", 40), limitWindow("c", -inf)};
        QCOMPARE(u.peakUsedPercent(), std::optional(40.0));
        u.windows = {limitWindow("a", nan), limitWindow("b", inf)};
        QVERIFY(!u.peakUsedPercent());
    }

    void nonFiniteNumbersAreNotEncoded()
    {
        ProviderUsage u = ProviderUsage::placeholder(UsageProvider::codex);
        u.windows = {limitWindow("a", std::numeric_limits<double>::quiet_NaN())};
        QVERIFY_THROWS_EXCEPTION(json::EncodeError, u.toJson());
        u.windows = {limitWindow("a", 1)};
        u.updatedAt = Timestamp::fromSinceReference(std::numeric_limits<double>::infinity());
        QVERIFY_THROWS_EXCEPTION(json::EncodeError, u.toJson());
    }
};

QTEST_GUILESS_MAIN(TestUsageModel)
#include "test_usage_model.moc"
