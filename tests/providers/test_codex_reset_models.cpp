#include "support/TestSupport.h"
#include "platform/StrictJson.h"
#include "providers/codex/CodexResetModels.h"

#include <QTest>
#include <functional>

using UsageChange = std::function<void(ProviderUsage&)>;
Q_DECLARE_METATYPE(UsageChange)

namespace {

const Timestamp kNow = Timestamp::fromSinceReference(800000000);

using testsupport::limitWindow;

// A Codex usage that may be offered a reset at kNow.
ProviderUsage eligible()
{
    ProviderUsage u = ProviderUsage::placeholder(UsageProvider::codex);
    u.isLoading = false;
    u.updatedAt = kNow.adding(-10);
    u.codexAccountID = QStringLiteral("acct");
    u.codexResetCredits = CodexResetCredits {1, std::nullopt};
    u.codexOrdinaryUsageAllowed = false;
    u.windows = {limitWindow("codex-primary", 40), limitWindow("codex-secondary", 100.0, kNow.adding(3600))};
    return u;
}

} // namespace

class TestCodexResetModels : public QObject {
    Q_OBJECT

private slots:
    void eligibility_data()
    {
        QTest::addColumn<UsageChange>("change");
        QTest::addColumn<bool>("offered");
        auto add = [](const char* name, UsageChange change, bool offered) { QTest::newRow(name) << change << offered; };
        add("eligible", [](ProviderUsage&) {}, true);
        add("claude usage", [](ProviderUsage& u) { u.provider = UsageProvider::claude; }, false);
        add("loading", [](ProviderUsage& u) { u.isLoading = true; }, false);
        add("error message", [](ProviderUsage& u) { u.errorMessage = QString(); }, false);
        add("stale", [](ProviderUsage& u) { u.isStale = true; }, false);
        add("not stale", [](ProviderUsage& u) { u.isStale = false; }, true);
        add("updated 599 s ago", [](ProviderUsage& u) { u.updatedAt = kNow.adding(-599); }, true);
        add("updated 600 s ago", [](ProviderUsage& u) { u.updatedAt = kNow.adding(-600); }, false);
        add("updated in the future", [](ProviderUsage& u) { u.updatedAt = kNow.adding(5000); }, true);
        add("never updated", [](ProviderUsage& u) { u.updatedAt.reset(); }, false);
        add("no account", [](ProviderUsage& u) { u.codexAccountID.reset(); }, false);
        add("empty account", [](ProviderUsage& u) { u.codexAccountID = QString(); }, false);
        add("no credits", [](ProviderUsage& u) { u.codexResetCredits.reset(); }, false);
        add("zero credits with a list", [](ProviderUsage& u) {
            u.codexResetCredits = CodexResetCredits {0, QList<CodexResetCredits::Credit> {{"c", "t", "available", 1, {}, {}, {}}}};
        }, false);
        add("ordinary usage absent", [](ProviderUsage& u) { u.codexOrdinaryUsageAllowed.reset(); }, false);
        add("ordinary usage allowed", [](ProviderUsage& u) { u.codexOrdinaryUsageAllowed = true; }, false);
        add("spend control reached", [](ProviderUsage& u) { u.codexSpendControlReached = true; }, false);
        add("spend control not reached", [](ProviderUsage& u) { u.codexSpendControlReached = false; }, true);
        add("rate limit reached", [](ProviderUsage& u) { u.codexReachedType = QStringLiteral("rate_limit_reached"); }, true);
        add("other reached type", [](ProviderUsage& u) { u.codexReachedType = QStringLiteral("usage_limit_reached"); }, false);
        add("secondary without reset time", [](ProviderUsage& u) { u.windows = {limitWindow("codex-secondary", 100.0)}; }, true);
        add("window reset in the past", [](ProviderUsage& u) { u.windows = {limitWindow("codex-secondary", 100.0, kNow.adding(-1))}; }, false);
        add("window resets now", [](ProviderUsage& u) { u.windows = {limitWindow("codex-primary", 100.0, kNow)}; }, false);
        add("window below 100", [](ProviderUsage& u) { u.windows = {limitWindow("codex-primary", 99.99)}; }, false);
        add("other limit at 120", [](ProviderUsage& u) { u.windows = {limitWindow("gpt5-primary", 120.0)}; }, false);
        add("no windows", [](ProviderUsage& u) { u.windows.clear(); }, false);
    }
    void eligibility()
    {
        QFETCH(UsageChange, change);
        QFETCH(bool, offered);
        ProviderUsage u = eligible();
        change(u);
        QCOMPARE(u.canOfferCodexReset(kNow), offered);
    }

    void exhaustedWindow_data()
    {
        QTest::addColumn<QList<UsageWindow>>("windows");
        QTest::addColumn<bool>("exhausted");
        QTest::newRow("none") << QList<UsageWindow>() << false;
        QTest::newRow("primary at 100") << QList<UsageWindow> {limitWindow("codex-primary", 100.0)} << true;
        QTest::newRow("secondary past reset") << QList<UsageWindow> {limitWindow("codex-secondary", 130, kNow.adding(-100))} << true;
        QTest::newRow("below") << QList<UsageWindow> {limitWindow("codex-primary", 99.9), limitWindow("codex-secondary", 0)} << false;
        QTest::newRow("other limit") << QList<UsageWindow> {limitWindow("gpt5-primary", 120)} << false;
    }
    void exhaustedWindow()
    {
        QFETCH(QList<UsageWindow>, windows);
        QFETCH(bool, exhausted);
        ProviderUsage u = ProviderUsage::placeholder(UsageProvider::codex);
        u.windows = windows;
        QCOMPARE(u.hasExhaustedCodexWindow(), exhausted);
    }

    void creditsJson()
    {
        const auto minimal = CodexResetCredits::fromJson(json::parse(R"({"availableCount":2})"));
        QCOMPARE(minimal.availableCount, 2);
        QVERIFY(!minimal.credits);
        QCOMPARE(minimal.toJson().keys(), QStringList {"availableCount"});

        const auto full = CodexResetCredits::fromJson(json::parse(
            R"({"availableCount":1,"credits":[{"id":"c1","resetType":"rate_limit","status":"available","grantedAt":1760000000,)"
            R"("expiresAt":1770000000.0,"title":"T","description":null,"extra":true}]})"));
        QCOMPARE(full.credits->size(), 1);
        const auto& c = full.credits->at(0);
        QCOMPARE(c.expiresAt, std::optional<qint64>(1770000000));
        QVERIFY(!c.description);
        QCOMPARE(c.toJson().keys(), (QStringList {"expiresAt", "grantedAt", "id", "resetType", "status", "title"}));
        QCOMPARE(CodexResetCredits::fromJson(full.toJson()), full);
    }

    void creditsDecodeFailures_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("no count") << QByteArray(R"({"credits":[]})");
        QTest::newRow("fractional count") << QByteArray(R"({"availableCount":1.5})");
        QTest::newRow("credit without status") << QByteArray(R"({"availableCount":1,"credits":[{"id":"c","resetType":"r","grantedAt":1}]})");
        QTest::newRow("fractional grant") << QByteArray(R"({"availableCount":1,"credits":[{"id":"c","resetType":"r","status":"s","grantedAt":1.5}]})");
        QTest::newRow("credits not a list") << QByteArray(R"({"availableCount":1,"credits":{}})");
    }
    void creditsDecodeFailures()
    {
        QFETCH(QByteArray, text);
        QVERIFY_THROWS_EXCEPTION(json::DecodeError, CodexResetCredits::fromJson(json::parse(text)));
    }

    void outcomes_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<int>("outcome"); // -1: not an outcome
        QTest::addColumn<bool>("didReset");
        QTest::newRow("reset") << "reset" << int(CodexResetOutcome::reset) << true;
        QTest::newRow("alreadyRedeemed") << "alreadyRedeemed" << int(CodexResetOutcome::alreadyRedeemed) << true;
        QTest::newRow("nothingToReset") << "nothingToReset" << int(CodexResetOutcome::nothingToReset) << false;
        QTest::newRow("noCredit") << "noCredit" << int(CodexResetOutcome::noCredit) << false;
        QTest::newRow("snake case") << "already_redeemed" << -1 << false;
        QTest::newRow("capitalised") << "Reset" << -1 << false;
    }
    void outcomes()
    {
        QFETCH(QString, raw);
        QFETCH(int, outcome);
        QFETCH(bool, didReset);
        if (outcome < 0) {
            QVERIFY(!codexResetOutcomeFromRawValue(raw));
            QVERIFY_THROWS_EXCEPTION(json::DecodeError, codexResetOutcomeFromJson(QJsonValue(raw)));
            return;
        }
        const auto o = CodexResetOutcome(outcome);
        QCOMPARE(rawValue(o), raw);
        QCOMPARE(codexResetOutcomeFromJson(toJson(o)), o);
        QCOMPARE(::didReset(o), didReset);
    }

    void attemptJson()
    {
        const CodexResetAttempt a {"acct", "9C4F5C1E-4F1B-4C36-9F0B-3A2D1E6B7C8D"};
        QCOMPARE(CodexResetAttempt::fromJson(json::parse(json::serialize(a.toJson()))), a);
        QCOMPARE(a.toJson().keys(), (QStringList {"accountID", "idempotencyKey"}));
        QVERIFY_THROWS_EXCEPTION(json::DecodeError, CodexResetAttempt::fromJson(json::parse(R"({"accountID":"a"})")));
    }

    void snapshotCarriesCredits()
    {
        ProviderUsage u = eligible();
        u.codexResetCredits->credits = QList<CodexResetCredits::Credit> {{"c", "t", "s", 5, 6, QStringLiteral("T"), {}}};
        QCOMPARE(ProviderUsage::fromJson(json::parse(json::serialize(u.toJson()))), u);
        CodexResetResult r {CodexResetOutcome::reset, u, std::nullopt};
        CodexResetResult same = r;
        QCOMPARE(r, same);
        same.refreshError = QStringLiteral("x");
        QVERIFY(!(r == same));
    }
};

QTEST_GUILESS_MAIN(TestCodexResetModels)
#include "test_codex_reset_models.moc"
