#include "providers/ProviderFixtures.h"
#include "providers/claude/ClaudeUsageParser.h"
#include "platform/StrictJson.h"
#include "platform/Text.h"

#include <QtTest>

namespace {

const Timestamp kNow = Timestamp::fromSince1970(1'772'000'000.0);

Timestamp at(const char* text)
{
    return *text::parseRfc3339(QString::fromLatin1(text));
}

QByteArray withFiveHour(const QJsonObject& window)
{
    return fixtures::bytes(QJsonObject {{"rate_limits_available", true}, {"rate_limits", QJsonObject {{"five_hour", window}}}});
}

} // namespace

class TestClaudeUsageParser : public QObject {
    Q_OBJECT
private slots:
    void fullPayload()
    {
        const ProviderUsage usage = ClaudeUsageParser::parse(fixtures::read("claude/fixtures/payload/full.json"), kNow);
        QCOMPARE(usage.provider, UsageProvider::claude);
        QCOMPARE(usage.planName, std::optional<QString>("Max"));
        QCOMPARE(usage.updatedAt, std::optional(kNow));
        QCOMPARE(usage.sourceNote, std::optional<QString>("Claude Code · экспериментальный источник"));
        QCOMPARE(usage.isStale, std::optional(false));
        QVERIFY(!usage.errorCode && !usage.errorMessage && !usage.nextRetryAt && !usage.waitingForObservation);
        QCOMPARE(usage.failureCount, 0);
        QVERIFY(!usage.isLoading);

        const QList<UsageWindow> expected {
            {"five_hour", "Current session · 5 часов", 12.5, at("2026-03-01T10:00:00.250Z"), 300, kNow},
            {"seven_day", "Неделя", 100, at("2026-03-05T08:00:00Z"), 10080, kNow},
            {"model-alpha", "Alpha · неделя", 40, at("2026-03-05T06:00:00Z"), 10080, kNow},
            {"model-fable", "Fable · неделя", 0, std::nullopt, 10080, kNow},
        };
        QCOMPARE(usage.windows, expected);
    }

    void windowRules_data()
    {
        QTest::addColumn<QJsonObject>("window");
        QTest::addColumn<bool>("kept");
        QTest::addColumn<double>("used");
        QTest::addColumn<bool>("hasReset");

        QTest::newRow("fraction") << QJsonObject {{"utilization", 1}, {"resets_at", "2026-03-01T10:00:00.250Z"}} << true << 1.0 << true;
        QTest::newRow("no fraction") << QJsonObject {{"utilization", 1}, {"resets_at", "2026-03-01T10:00:00Z"}} << true << 1.0 << true;
        QTest::newRow("date alone") << QJsonObject {{"utilization", 1}, {"resets_at", "2026-03-01"}} << false << 0.0 << false;
        QTest::newRow("no reset") << QJsonObject {{"utilization", 1}} << true << 1.0 << false;
        QTest::newRow("null reset") << QJsonObject {{"utilization", 1}, {"resets_at", QJsonValue::Null}} << true << 1.0 << false;
        QTest::newRow("over 100") << QJsonObject {{"utilization", 130}} << true << 100.0 << false;
        QTest::newRow("zero") << QJsonObject {{"utilization", 0}} << true << 0.0 << false;
        QTest::newRow("negative") << QJsonObject {{"utilization", -1}} << false << 0.0 << false;
        QTest::newRow("no utilization") << QJsonObject {{"resets_at", "2026-03-01T10:00:00Z"}} << false << 0.0 << false;
        QTest::newRow("taken as percent") << QJsonObject {{"utilization", 0.5}} << true << 0.5 << false;
    }
    void windowRules()
    {
        QFETCH(QJsonObject, window);
        QFETCH(bool, kept);
        QFETCH(double, used);
        QFETCH(bool, hasReset);
        const QJsonObject payload {{"rate_limits_available", true},
                                   {"rate_limits", QJsonObject {{"five_hour", window}, {"seven_day", QJsonObject {{"utilization", 7}}}}}};
        const ProviderUsage usage = ClaudeUsageParser::parse(fixtures::bytes(payload), kNow);
        QCOMPARE(usage.windows.size(), kept ? 2 : 1);
        if (kept) {
            QCOMPARE(usage.windows.first().id, QString("five_hour"));
            QCOMPARE(usage.windows.first().usedPercent, used);
            QCOMPARE(usage.windows.first().resetsAt.has_value(), hasReset);
        }
    }

    void modelNames_data()
    {
        QTest::addColumn<QJsonArray>("models");
        QTest::addColumn<QStringList>("ids");
        QTest::addColumn<QStringList>("titles");

        QTest::newRow("first of a name wins")
            << QJsonArray {QJsonObject {{"display_name", "Alpha"}, {"utilization", 1}}, QJsonObject {{"display_name", "alpha"}, {"utilization", 2}}}
            << QStringList {"model-alpha"} << QStringList {"Alpha · неделя"};
        // Only an accepted window blocks its id.
        QTest::newRow("a dropped entry leaves its id free")
            << QJsonArray {QJsonObject {{"display_name", "Beta"}, {"utilization", 1}, {"resets_at", "bad"}},
                           QJsonObject {{"display_name", "beta"}, {"utilization", 2}}}
            << QStringList {"model-beta"} << QStringList {"beta · неделя"};
        QTest::newRow("128 characters") << QJsonArray {QJsonObject {{"display_name", QString(128, 'M')}, {"utilization", 1}}}
                                        << QStringList {"model-" + QString(128, 'm')} << QStringList {QString(128, 'M') + " · неделя"};
        QTest::newRow("129 characters") << QJsonArray {QJsonObject {{"display_name", QString(129, 'M')}, {"utilization", 1}}}
                                        << QStringList {} << QStringList {};
        QTest::newRow("blanks stay") << QJsonArray {QJsonObject {{"display_name", "Big Model 4.5"}, {"utilization", 1}}}
                                     << QStringList {"model-big model 4.5"} << QStringList {"Big Model 4.5 · неделя"};
        QTest::newRow("empty and absent names") << QJsonArray {QJsonObject {{"display_name", ""}, {"utilization", 1}}, QJsonObject {{"utilization", 1}}}
                                                << QStringList {} << QStringList {};
    }
    void modelNames()
    {
        QFETCH(QJsonArray, models);
        QFETCH(QStringList, ids);
        QFETCH(QStringList, titles);
        const QJsonObject payload {{"rate_limits_available", true},
                                   {"rate_limits", QJsonObject {{"five_hour", QJsonObject {{"utilization", 3}}}, {"model_scoped", models}}}};
        const ProviderUsage usage = ClaudeUsageParser::parse(fixtures::bytes(payload), kNow);
        QStringList gotIds, gotTitles;
        for (qsizetype i = 1; i < usage.windows.size(); ++i) {
            gotIds << usage.windows[i].id;
            gotTitles << usage.windows[i].title;
        }
        QCOMPARE(gotIds, ids);
        QCOMPARE(gotTitles, titles);
    }

    void failures_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message");

        const QString noLimits = "Claude Code не вернул лимиты. Проверьте вход в этот профиль.";
        const QString noWindow = "Claude не вернул ни одного лимита.";
        QTest::newRow("empty limits") << QByteArray(R"({"rate_limits_available": true, "rate_limits": {}})") << "INVALID_RESPONSE" << noWindow;
        QTest::newRow("only unusable windows") << withFiveHour(QJsonObject {{"utilization", -1}}) << "INVALID_RESPONSE" << noWindow;
        QTest::newRow("not available")
            << QByteArray(R"({"rate_limits_available": false, "rate_limits": {"five_hour": {"utilization": 3}}})") << "AUTH_EXPIRED" << noLimits;
        QTest::newRow("no limits") << QByteArray(R"({"rate_limits_available": true})") << "AUTH_EXPIRED" << noLimits;
        QTest::newRow("null limits") << QByteArray(R"({"rate_limits_available": true, "rate_limits": null})") << "AUTH_EXPIRED" << noLimits;
        QTest::newRow("availability missing") << QByteArray(R"({"rate_limits": {}})") << "NSCocoaErrorDomain 4865" << QString();
        QTest::newRow("availability not a bool") << QByteArray(R"({"rate_limits_available": 1, "rate_limits": {}})") << "NSCocoaErrorDomain 4864" << QString();
        QTest::newRow("mistyped window") << QByteArray(R"({"rate_limits_available": true, "rate_limits": {"five_hour": {"utilization": "3"}}})")
                                         << "NSCocoaErrorDomain 4864" << QString();
        QTest::newRow("mistyped model list") << QByteArray(R"({"rate_limits_available": false, "rate_limits": {"model_scoped": {}}})")
                                             << "NSCocoaErrorDomain 4864" << QString();
        QTest::newRow("not JSON") << QByteArray("event: usage") << "NSCocoaErrorDomain 3840" << QString();
        QTest::newRow("array") << QByteArray("[]") << "NSCocoaErrorDomain 4864" << QString();
    }
    void failures()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QString, code);
        QFETCH(QString, message);
        std::exception_ptr error;
        try {
            ClaudeUsageParser::parse(payload, kNow);
        } catch (...) {
            error = std::current_exception();
        }
        QVERIFY(error);
        const ProviderClientError normalized = ProviderClientError::from(error);
        QCOMPARE(normalized.errorCode(), code);
        if (!message.isEmpty())
            QCOMPARE(normalized.errorDescription(), message);
    }

    void identity_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<bool>("usable");

        QTest::newRow("full file") << fixtures::read("claude/fixtures/payload/claude.json") << true << true;
        QTest::newRow("empty account") << QByteArray(R"({"oauthAccount": {"accountUuid": "", "organizationUuid": "org"}})") << true << false;
        QTest::newRow("empty organisation") << QByteArray(R"({"oauthAccount": {"accountUuid": "a", "organizationUuid": ""}})") << true << false;
        QTest::newRow("no organisation") << QByteArray(R"({"oauthAccount": {"accountUuid": "a"}})") << false << false;
        QTest::newRow("no account object") << QByteArray(R"({"numStartups": 1})") << false << false;
        QTest::newRow("account not an object") << QByteArray(R"({"oauthAccount": "a"})") << false << false;
        QTest::newRow("number instead of string") << QByteArray(R"({"oauthAccount": {"accountUuid": 1, "organizationUuid": "o"}})") << false << false;
        QTest::newRow("not JSON") << QByteArray("{") << false << false;
    }
    void identity()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, decodes);
        QFETCH(bool, usable);
        try {
            const ClaudeAccountIdentity id = ClaudeAccountIdentity::Metadata::decode(file).oauthAccount;
            QVERIFY(decodes);
            QCOMPARE(id.isUsable(), usable);
        } catch (const json::DecodeError&) {
            QVERIFY(!decodes);
        }
    }

    void identityEqualityAndKey()
    {
        const ClaudeAccountIdentity a {"acct-1", "org-1"};
        QCOMPARE(a, (ClaudeAccountIdentity {"acct-1", "org-1"}));
        QVERIFY(a != (ClaudeAccountIdentity {"acct-1", "org-2"}));
        QCOMPARE(claudeAccountKey(a), QString("af2259c69d9e8fb78a50da48caf001c84027379e8d97622875dd63d8f1e01d54"));
        // The NUL byte keeps "ab"+"c" apart from "a"+"bc".
        QVERIFY(claudeAccountKey({"ab", "c"}) != claudeAccountKey({"a", "bc"}));
    }
};

QTEST_GUILESS_MAIN(TestClaudeUsageParser)
#include "test_claude_usage_parser.moc"
