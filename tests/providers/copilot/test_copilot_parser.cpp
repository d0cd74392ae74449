#include "providers/copilot/CopilotUsageParser.h"
#include "platform/StrictJson.h"
#include "platform/Text.h"
#include "usage/ProviderClientError.h"

#include <QtTest>

namespace {

const Timestamp kNow = *text::parseRfc3339(QStringLiteral("2026-03-01T12:00:00Z"));

// "id|title|used|reset" per window, joined by ";" ("-" for no reset).
QString summary(const QList<UsageWindow>& windows)
{
    QStringList out;
    for (const UsageWindow& w : windows)
        out << QStringList {w.id, w.title, QString::number(w.usedPercent),
                            w.resetsAt ? text::formatRfc3339(*w.resetsAt) : QStringLiteral("-")}.join(QLatin1Char('|'));
    return out.join(QLatin1Char(';'));
}

QByteArray snapshots(const QByteArray& inner)
{
    return "{\"quotaSnapshots\":{" + inner + "}}";
}

} // namespace

class CopilotParserTest : public QObject {
    Q_OBJECT

private slots:
    void mapping_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("accountReset"); // empty: none
        QTest::addColumn<QString>("windows");
        QTest::addColumn<QString>("sourceNote");
        QTest::addColumn<QStringList>("unlimited");

        const QByteArray chatUnlimited = "\"chat\":{\"isUnlimitedEntitlement\":true,\"remainingPercentage\":100}";
        const QByteArray completionsUnlimited = "\"completions\":{\"isUnlimitedEntitlement\":true,\"remainingPercentage\":100}";

        QTest::newRow("premium limited, chat and completions unlimited")
            << snapshots("\"premium_interactions\":{\"isUnlimitedEntitlement\":false,\"remainingPercentage\":75,"
                         "\"resetDate\":\"2026-04-01T00:00:00Z\"}," + completionsUnlimited + "," + chatUnlimited)
            << QString()
            << "premium_interactions|Premium-запросы|25|2026-04-01T00:00:00Z"
            << "Copilot CLI · Без лимита: Чат, Дополнения кода" << QStringList {"Чат", "Дополнения кода"};
        QTest::newRow("token billing titles premium as AI credits")
            << snapshots("\"premium_interactions\":{\"isUnlimitedEntitlement\":false,\"remainingPercentage\":40,\"tokenBasedBilling\":true}")
            << QString() << "premium_interactions|AI-кредиты|60|-" << "Copilot CLI" << QStringList {};
        QTest::newRow("limited chat and completions keep their titles")
            << snapshots("\"completions\":{\"isUnlimitedEntitlement\":false,\"remainingPercentage\":100},"
                         "\"chat\":{\"isUnlimitedEntitlement\":false,\"remainingPercentage\":0}")
            << QString() << "chat|Чат|100|-;completions|Дополнения кода|0|-" << "Copilot CLI" << QStringList {};
        QTest::newRow("no quota and no allowance is skipped")
            << snapshots("\"chat\":{\"isUnlimitedEntitlement\":false,\"remainingPercentage\":10,\"hasQuota\":false},"
                         "\"completions\":{\"isUnlimitedEntitlement\":false,\"remainingPercentage\":50}")
            << QString() << "completions|Дополнения кода|50|-" << "Copilot CLI" << QStringList {};
        QTest::newRow("no quota but an allowance is a window even when unlimited")
            << snapshots("\"premium_interactions\":{\"isUnlimitedEntitlement\":true,\"remainingPercentage\":90,"
                         "\"hasQuota\":false,\"entitlementRequests\":300}")
            << QString() << "premium_interactions|Premium-запросы|10|-" << "Copilot CLI" << QStringList {};
        QTest::newRow("only unlimited")
            << snapshots(chatUnlimited) << QString() << "" << "Copilot CLI · Без лимита: Чат" << QStringList {"Чат"};
        QTest::newRow("unknown key cut to 80 characters, keys in code point order")
            << snapshots("\"" + QByteArray(100, 'k') + "\":{\"isUnlimitedEntitlement\":false,\"remainingPercentage\":50},"
                         "\"a\":{\"isUnlimitedEntitlement\":false,\"remainingPercentage\":50},"
                         "\"B\":{\"isUnlimitedEntitlement\":false,\"remainingPercentage\":50}")
            << QString() << "B|B|50|-;a|a|50|-;" + QString(100, 'k') + "|" + QString(80, 'k') + "|50|-"
            << "Copilot CLI" << QStringList {};
        QTest::newRow("fractional percentage")
            << snapshots("\"chat\":{\"isUnlimitedEntitlement\":false,\"remainingPercentage\":12.5}")
            << QString() << "chat|Чат|87.5|-" << "Copilot CLI" << QStringList {};

        // Reset times: the account's first, then the snapshot's; the first in the future wins.
        const auto withReset = [](const QByteArray& reset) {
            return snapshots("\"chat\":{\"isUnlimitedEntitlement\":false,\"remainingPercentage\":50" + reset + "}");
        };
        QTest::newRow("snapshot reset with fraction") << withReset(",\"resetDate\":\"2026-04-01T00:00:00.250Z\"")
            << QString() << "chat|Чат|50|2026-04-01T00:00:00Z" << "Copilot CLI" << QStringList {};
        QTest::newRow("account reset wins when both lie ahead") << withReset(",\"resetDate\":\"2026-05-01T00:00:00Z\"")
            << "2026-04-01T00:00:00Z" << "chat|Чат|50|2026-04-01T00:00:00Z" << "Copilot CLI" << QStringList {};
        QTest::newRow("past account reset gives way") << withReset(",\"resetDate\":\"2026-05-01T00:00:00+02:00\"")
            << "2026-02-01T00:00:00Z" << "chat|Чат|50|2026-04-30T22:00:00Z" << "Copilot CLI" << QStringList {};
        QTest::newRow("unparsable account reset gives way") << withReset(",\"resetDate\":\"2026-05-01T00:00:00Z\"")
            << "next month" << "chat|Чат|50|2026-05-01T00:00:00Z" << "Copilot CLI" << QStringList {};
        QTest::newRow("account reset alone") << withReset("")
            << "2026-04-01T00:00:00.5Z" << "chat|Чат|50|2026-04-01T00:00:00Z" << "Copilot CLI" << QStringList {};
        QTest::newRow("reset at the reading is not ahead") << withReset(",\"resetDate\":\"2026-03-01T12:00:00Z\"")
            << "2026-01-01T00:00:00Z" << "chat|Чат|50|-" << "Copilot CLI" << QStringList {};
    }
    void mapping()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, accountReset);
        QFETCH(QString, windows);
        QFETCH(QString, sourceNote);
        QFETCH(QStringList, unlimited);

        const ProviderUsage usage = CopilotUsageParser::parse(
            reply, std::nullopt, accountReset.isEmpty() ? std::nullopt : std::optional(accountReset), kNow);
        QCOMPARE(summary(usage.windows), windows);
        QCOMPARE(usage.sourceNote, std::optional(sourceNote));
        QCOMPARE(usage.unlimitedCategories, std::optional(unlimited));
        for (const UsageWindow& w : usage.windows) {
            QCOMPARE(w.observedAt, std::optional(kNow));
            QCOMPARE(w.durationMinutes, std::nullopt);
        }
    }

    // Every field of the usage, not only the windows.
    void wholeUsage()
    {
        const ProviderUsage usage = CopilotUsageParser::parse(
            snapshots("\"chat\":{\"isUnlimitedEntitlement\":false,\"remainingPercentage\":70,\"unknown\":[1]}"),
            QStringLiteral("individual_pro"), std::nullopt, kNow);
        ProviderUsage expected;
        expected.provider = UsageProvider::copilot;
        expected.planName = QStringLiteral("Pro+");
        UsageWindow chat;
        chat.id = QStringLiteral("chat");
        chat.title = QStringLiteral("Чат");
        chat.usedPercent = 30;
        chat.observedAt = kNow;
        expected.windows = {chat};
        expected.updatedAt = kNow;
        expected.isLoading = false;
        expected.failureCount = 0;
        expected.sourceNote = QStringLiteral("Copilot CLI");
        expected.isStale = false;
        expected.unlimitedCategories = QStringList {};
        QCOMPARE(usage, expected);

        const ProviderUsage noPlan = CopilotUsageParser::parse(
            snapshots("\"chat\":{\"isUnlimitedEntitlement\":true,\"remainingPercentage\":100}"), std::nullopt, std::nullopt, kNow);
        QCOMPARE(noPlan.planName, std::nullopt);
    }

    void planNames_data()
    {
        QTest::addColumn<QString>("identifier");
        QTest::addColumn<QString>("name");
        QTest::newRow("free") << "free_limited_copilot" << "Free";
        QTest::newRow("individual") << "individual" << "Pro";
        QTest::newRow("individual pro") << "individual_pro" << "Pro+";
        QTest::newRow("individual max") << "individual_max" << "Max";
        QTest::newRow("two words") << "business_plus" << "Business Plus";
        QTest::newRow("loose underscores") << "__enterprise__TEAM_" << "Enterprise Team";
        QTest::newRow("tables are case-sensitive") << "Individual" << "Individual";
    }
    void planNames()
    {
        QFETCH(QString, identifier);
        QFETCH(QString, name);
        QCOMPARE(CopilotUsageParser::planName(identifier), name);
    }

    void failures_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("code");    // error code after normalising
        QTest::addColumn<QString>("message"); // empty: not checked (a decoder's text)

        const QString percent = QStringLiteral("Copilot: некорректный процент квоты.");
        const QString nothing = QStringLiteral("Copilot не вернул доступных квот. Это не 0%.");
        QTest::newRow("above 100") << snapshots("\"chat\":{\"isUnlimitedEntitlement\":false,\"remainingPercentage\":100.5}")
                                   << "INVALID_RESPONSE" << percent;
        QTest::newRow("below 0 fails the whole reading")
            << snapshots("\"a\":{\"isUnlimitedEntitlement\":false,\"remainingPercentage\":50},"
                         "\"b\":{\"isUnlimitedEntitlement\":false,\"remainingPercentage\":-1}")
            << "INVALID_RESPONSE" << percent;
        QTest::newRow("empty snapshots") << snapshots("") << "INVALID_RESPONSE" << nothing;
        QTest::newRow("everything skipped")
            << snapshots("\"chat\":{\"isUnlimitedEntitlement\":false,\"remainingPercentage\":50,\"hasQuota\":false,\"entitlementRequests\":0}")
            << "INVALID_RESPONSE" << nothing;
        QTest::newRow("no quotaSnapshots") << QByteArray("{\"quota\":{}}") << "NSCocoaErrorDomain 4865" << QString();
        QTest::newRow("not an object") << QByteArray("[]") << "NSCocoaErrorDomain 4864" << QString();
        QTest::newRow("unlimited without percentage")
            << snapshots("\"chat\":{\"isUnlimitedEntitlement\":true}") << "NSCocoaErrorDomain 4865" << QString();
        QTest::newRow("percentage as text")
            << snapshots("\"chat\":{\"isUnlimitedEntitlement\":false,\"remainingPercentage\":\"50\"}") << "NSCocoaErrorDomain 4864" << QString();
        QTest::newRow("optional of the wrong type")
            << snapshots("\"chat\":{\"isUnlimitedEntitlement\":false,\"remainingPercentage\":5,\"hasQuota\":1}")
            << "NSCocoaErrorDomain 4864" << QString();
        QTest::newRow("not JSON") << QByteArray("{") << "NSCocoaErrorDomain 3840" << QString();
    }
    void failures()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, code);
        QFETCH(QString, message);
        try {
            CopilotUsageParser::parse(reply, QStringLiteral("individual"), std::nullopt, kNow);
            QFAIL("parsed");
        } catch (...) {
            const ProviderClientError error = ProviderClientError::from(std::current_exception());
            QCOMPARE(error.errorCode(), code);
            if (!message.isEmpty())
                QCOMPARE(error.message(), message);
        }
    }
};

QTEST_GUILESS_MAIN(CopilotParserTest)
#include "test_copilot_parser.moc"
