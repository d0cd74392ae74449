#include "platform/StrictJson.h"
#include "providers/codex/CodexUsageClient.h"

#include <QtTest>

namespace {

const Timestamp kNow = Timestamp::fromSince1970(1'800'000'000);

QByteArray reply(const QJsonObject& result)
{
    return json::serialize(QJsonObject {{"id", 2}, {"result", result}});
}

QJsonObject window(int used, std::optional<int> minutes = std::nullopt, std::optional<qint64> resetsAt = std::nullopt)
{
    QJsonObject o {{"usedPercent", used}};
    if (minutes)
        o.insert("windowDurationMins", *minutes);
    if (resetsAt)
        o.insert("resetsAt", *resetsAt);
    return o;
}

QStringList ids(const ProviderUsage& u)
{
    QStringList out;
    for (const auto& w : u.windows)
        out << w.id;
    return out;
}

QStringList titles(const ProviderUsage& u)
{
    QStringList out;
    for (const auto& w : u.windows)
        out << w.title;
    return out;
}

} // namespace

class CodexRateLimitsTest : public QObject {
    Q_OBJECT
private slots:
    void fullReply();
    void windows_data();
    void windows();
    void limitOrderAndPrefixes();
    void planNames_data();
    void planNames();
    void firstPlanAndCodexFlags();
    void failures_data();
    void failures();
};

void CodexRateLimitsTest::fullReply()
{
    const QByteArray line = reply(QJsonObject {
        {"accountId", "acc-1"},
        {"ordinaryUsageAllowed", false},
        {"rateLimitResetCredits", QJsonObject {{"availableCount", 1},
                                               {"credits", QJsonArray {QJsonObject {{"id", "c1"}, {"resetType", "codex"}, {"status", "available"}, {"grantedAt", 1'700'000'000}, {"expiresAt", 1'900'000'000}}}}}},
        {"rateLimits", QJsonObject {{"limitId", "codex"},
                                    {"primary", window(104, 300, 0)},
                                    {"secondary", window(40, 10080, 1'800'003'600)},
                                    {"planType", "prolite"},
                                    {"spendControlReached", false},
                                    {"rateLimitReachedType", "rate_limit_reached"}}},
    });
    const ProviderUsage u = CodexUsageClient::makeUsage(line, kNow);

    ProviderUsage expected = ProviderUsage::placeholder(UsageProvider::codex);
    expected.isLoading = false;
    expected.planName = QStringLiteral("Pro Lite");
    // Not clamped; resetsAt 0 is 1970, not none.
    expected.windows = {
        UsageWindow {"codex-primary", "5 часов", 104.0, Timestamp::fromSince1970(0), 300, std::nullopt},
        UsageWindow {"codex-secondary", "Неделя", 40.0, Timestamp::fromSince1970(1'800'003'600), 10080, std::nullopt},
    };
    expected.updatedAt = kNow;
    expected.codexAccountID = QStringLiteral("acc-1");
    CodexResetCredits credits;
    credits.availableCount = 1;
    credits.credits = QList<CodexResetCredits::Credit> {{"c1", "codex", "available", 1'700'000'000, 1'900'000'000, std::nullopt, std::nullopt}};
    expected.codexResetCredits = credits;
    expected.codexOrdinaryUsageAllowed = false;
    expected.codexSpendControlReached = false;
    expected.codexReachedType = QStringLiteral("rate_limit_reached");
    QCOMPARE(u, expected);
}

void CodexRateLimitsTest::windows_data()
{
    QTest::addColumn<QJsonObject>("snapshot");
    QTest::addColumn<QStringList>("ids");
    QTest::addColumn<QStringList>("titles");

    QTest::newRow("5 hours and a week") << QJsonObject {{"primary", window(1, 300)}, {"secondary", window(2, 10080)}}
                                        << QStringList {"codex-primary", "codex-secondary"} << QStringList {"5 часов", "Неделя"};
    QTest::newRow("24 hours") << QJsonObject {{"primary", window(1, 1440)}} << QStringList {"codex-primary"} << QStringList {"24 часа"};
    QTest::newRow("other minutes") << QJsonObject {{"primary", window(1, 60)}} << QStringList {"codex-primary"} << QStringList {"60 мин"};
    QTest::newRow("no durations") << QJsonObject {{"primary", window(1)}, {"secondary", window(2)}}
                                  << QStringList {"codex-primary", "codex-secondary"} << QStringList {"Текущее окно", "Долгое окно"};
    QTest::newRow("secondary only") << QJsonObject {{"secondary", window(2)}} << QStringList {"codex-secondary"} << QStringList {"Долгое окно"};
    QTest::newRow("own limit id") << QJsonObject {{"limitId", "gpt"}, {"primary", window(1, 300)}}
                                  << QStringList {"gpt-primary"} << QStringList {"gpt · 5 часов"};
    QTest::newRow("own limit id and name") << QJsonObject {{"limitId", "gpt"}, {"limitName", "  GPT-5 \n"}, {"primary", window(1, 300)}}
                                           << QStringList {"gpt-primary"} << QStringList {"GPT-5 · 5 часов"};
}

void CodexRateLimitsTest::windows()
{
    QFETCH(QJsonObject, snapshot);
    QFETCH(QStringList, ids);
    QFETCH(QStringList, titles);
    const ProviderUsage u = CodexUsageClient::makeUsage(reply(QJsonObject {{"rateLimits", snapshot}}), kNow);
    QCOMPARE(::ids(u), ids);
    QCOMPARE(::titles(u), titles);
}

void CodexRateLimitsTest::limitOrderAndPrefixes()
{
    const QByteArray line = reply(QJsonObject {
        {"rateLimits", QJsonObject {{"limitId", "ignored"}, {"primary", window(99, 300)}}},
        {"rateLimitsByLimitId", QJsonObject {
            {"zeta", QJsonObject {{"primary", window(3, 300)}}},
            {"codex", QJsonObject {{"limitId", "other"}, {"primary", window(1, 300)}, {"secondary", window(2, 10080)}}},
            {"alpha", QJsonObject {{"limitName", "   "}, {"primary", window(4, 300)}}},
            {"beta", QJsonObject {{"limitName", "Бета"}, {"secondary", window(5)}}},
            {"empty", QJsonObject {}},
        }},
    });
    const ProviderUsage u = CodexUsageClient::makeUsage(line, kNow);
    QCOMPARE(ids(u), (QStringList {"codex-primary", "codex-secondary", "alpha-primary", "beta-secondary", "zeta-primary"}));
    QCOMPARE(titles(u), (QStringList {"5 часов", "Неделя", "alpha · 5 часов", "Бета · Долгое окно", "zeta · 5 часов"}));

    // An empty map falls back to the single snapshot.
    const ProviderUsage fallback = CodexUsageClient::makeUsage(
        reply(QJsonObject {{"rateLimitsByLimitId", QJsonObject {}}, {"rateLimits", QJsonObject {{"primary", window(7)}}}}), kNow);
    QCOMPARE(ids(fallback), QStringList {"codex-primary"});
}

void CodexRateLimitsTest::planNames_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("name");
    QTest::newRow("free") << "free" << "Free";
    QTest::newRow("go") << "go" << "Go";
    QTest::newRow("plus") << "plus" << "Plus";
    QTest::newRow("pro") << "pro" << "Pro";
    QTest::newRow("prolite") << "prolite" << "Pro Lite";
    QTest::newRow("team") << "team" << "Team";
    QTest::newRow("business") << "business" << "Business";
    QTest::newRow("business pro lite") << "self_serve_business_prolite" << "Business Pro Lite";
    QTest::newRow("business pro") << "self_serve_business_pro" << "Business Pro";
    QTest::newRow("enterprise") << "enterprise" << "Enterprise";
    QTest::newRow("edu") << "edu" << "Education";
    QTest::newRow("case matters") << "PRO" << "Pro";
    QTest::newRow("unknown two words") << "family_plan" << "Family Plan";
    QTest::newRow("unknown with stray underscores") << "_max__tier_" << "Max Tier";
}

void CodexRateLimitsTest::planNames()
{
    QFETCH(QString, type);
    QFETCH(QString, name);
    QCOMPARE(CodexUsageClient::planDisplayName(type), name);
}

void CodexRateLimitsTest::firstPlanAndCodexFlags()
{
    const ProviderUsage withCodex = CodexUsageClient::makeUsage(reply(QJsonObject {
        {"rateLimitsByLimitId", QJsonObject {
            {"codex", QJsonObject {{"primary", window(1)}, {"planType", "pro"}, {"spendControlReached", true}, {"rateLimitReachedType", "x"}}},
            {"alpha", QJsonObject {{"primary", window(1)}, {"planType", "plus"}}},
        }}}), kNow);
    QCOMPARE(withCodex.planName, std::optional<QString>("Pro"));
    QCOMPARE(withCodex.codexSpendControlReached, std::optional<bool>(true));
    QCOMPARE(withCodex.codexReachedType, std::optional<QString>("x"));

    // Without a "codex" entry the flags stay none; the first plan in entry order wins.
    const ProviderUsage withoutCodex = CodexUsageClient::makeUsage(reply(QJsonObject {
        {"rateLimitsByLimitId", QJsonObject {
            {"beta", QJsonObject {{"primary", window(1)}, {"planType", "team"}, {"spendControlReached", true}, {"rateLimitReachedType", "x"}}},
            {"alpha", QJsonObject {{"primary", window(1)}}},
        }}}), kNow);
    QCOMPARE(withoutCodex.planName, std::optional<QString>("Team"));
    QVERIFY(!withoutCodex.codexSpendControlReached);
    QVERIFY(!withoutCodex.codexReachedType);
}

void CodexRateLimitsTest::failures_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("message");

    QTest::newRow("classified error wins over a result")
        << QByteArray(R"({"id":2,"error":{"code":-32600,"message":"bad request"},"result":{"rateLimits":{"primary":{"usedPercent":1}}}})")
        << "JSON_RPC_-32600" << "JSON-RPC -32600: bad request";
    QTest::newRow("sign-in error") << QByteArray(R"({"id":2,"error":{"code":1,"message":"not logged in, login first"}})")
                                   << "CODEX_AUTH" << "JSON-RPC 1: not logged in, login first";
    QTest::newRow("error with only a message") << QByteArray(R"({"id":2,"error":{"message":"raw text"}})")
                                               << "REQUEST_FAILED" << "raw text";
    QTest::newRow("fractional percent") << QByteArray(R"({"result":{"rateLimits":{"primary":{"usedPercent":12.5}}}})")
                                        << "INVALID_RESPONSE" << "Codex вернул ответ неизвестного формата.";
    QTest::newRow("not json") << QByteArray("garbage") << "INVALID_RESPONSE" << "Codex вернул ответ неизвестного формата.";
    QTest::newRow("no result") << QByteArray(R"({"id":2})") << "INVALID_RESPONSE" << "Codex не вернул данные о лимитах.";
    QTest::newRow("no limit form") << QByteArray(R"({"result":{"accountId":"a"}})") << "INVALID_RESPONSE" << "Codex не вернул данные о лимитах.";
    QTest::newRow("empty map, no snapshot") << QByteArray(R"({"result":{"rateLimitsByLimitId":{}}})")
                                            << "INVALID_RESPONSE" << "Codex не вернул данные о лимитах.";
    QTest::newRow("no windows") << QByteArray(R"({"result":{"rateLimits":{"planType":"pro"}}})")
                                << "INVALID_RESPONSE" << "Для Codex пока нет доступных usage-окон.";
}

void CodexRateLimitsTest::failures()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, code);
    QFETCH(QString, message);
    try {
        CodexUsageClient::makeUsage(line, kNow);
        QFAIL("no error");
    } catch (const ProviderClientError& e) {
        QCOMPARE(e.errorCode(), code);
        QCOMPARE(e.message(), message);
    }
}

QTEST_GUILESS_MAIN(CodexRateLimitsTest)
#include "test_codex_rate_limits.moc"
