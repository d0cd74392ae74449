#include "providers/ProviderFixtures.h"
#include "support/TestSupport.h"
#include "platform/ForeignError.h"
#include "platform/Paths.h"
#include "platform/Scheduler.h"
#include "providers/claude/ClaudeStatusLineClient.h"
#include "providers/claude/ClaudeStatusLineMapping.h"

#include <QDir>
#include <QtTest>

namespace {

const double kNow1970 = 1'800'000'000.0;
const Timestamp kNow = Timestamp::fromSince1970(kNow1970);
const QString kKey = QStringLiteral("af2259c69d9e8fb78a50da48caf001c84027379e8d97622875dd63d8f1e01d54");
const QString kOtherOrganisationKey = QStringLiteral("8ff4baa34b314ebc43f01441ed71c23394bb7c67ad6abb042c0b8c555fe121a5");

const QString kFormat = QStringLiteral("Неизвестный формат statusLine. Ожидаю следующего обновления Claude Code.");
const QString kChanged = QStringLiteral("Аккаунт изменился. Старые лимиты скрыты; ожидаю statusLine текущего профиля.");
const QString kTime = QStringLiteral("Некорректное время наблюдения statusLine.");
const QString kPercent = QStringLiteral("Некорректный процент или время сброса в statusLine.");
const QString kNoReset = QStringLiteral("Отсутствует время сброса ненулевого или недельного лимита.");
const QString kBadReset = QStringLiteral("Некорректное время сброса в statusLine.");
const QString kModel = QStringLiteral("Некорректный модельный лимит в statusLine.");
const QString kTooLarge = QStringLiteral("Файл statusLine превышает допустимый размер.");
const QString kFableKnown = QStringLiteral("statusLine · Fable из usage-отчёта");
const QString kFableUnknown = QStringLiteral("Fable: нет актуального окна в кеше statusLine. Это не 0%.");
const QString kStaleSuffix = QStringLiteral(" Есть устаревшие данные.");

QJsonObject valid()
{
    return fixtures::object(fixtures::read("claude/fixtures/statusline/valid.json"));
}

// The valid file with members changed: pairs of dotted path and value.
using Edits = QList<QPair<QString, QJsonValue>>;
QByteArray edited(const Edits& edits, QJsonObject base = valid())
{
    for (const auto& [path, value] : edits)
        base = fixtures::patched(base, path, value);
    return fixtures::bytes(base);
}

QStringList ids(const ProviderUsage& usage)
{
    QStringList out;
    for (const UsageWindow& w : usage.windows)
        out << w.id;
    return out;
}

ProviderUsage validated(const QByteArray& bytes, Timestamp now = kNow)
{
    return ClaudeStatusLineMapping::validate(bytes, "personal", kKey, now);
}

} // namespace

Q_DECLARE_METATYPE(Edits)

class TestClaudeStatusLine : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    VirtualScheduler m_clock {kNow};

    QString bridgeFolder() const { return paths::statusLineFolder(m_home.path(), {}); }
    ProviderProfile profile(const QString& folder, const QString& name = "Личный") const
    {
        return ProviderProfile {UsageProvider::claude, m_home.path() + "/" + folder, name, true, std::nullopt, std::nullopt};
    }
    // A profile folder with a signed-in account.
    ProviderProfile connected(const QString& folder) const
    {
        const ProviderProfile p = profile(folder);
        QDir().mkpath(p.configDirectory);
        testsupport::writeFile(p.claudeConfigFileURL(m_home.path()), fixtures::read("claude/fixtures/statusline/claude.json"));
        return p;
    }
    ProviderUsage read(const ProviderProfile& p) const { return ClaudeStatusLineClient(p, m_home.path(), {}).read(m_clock); }

private slots:
    void init()
    {
        QDir(m_home.path()).removeRecursively();
        QDir().mkpath(m_home.path());
    }

    void validateFailures_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message");
        const QString invalid = "CLAUDE_STATUSLINE_INVALID", changed = "CLAUDE_STATUSLINE_ACCOUNT_CHANGED";

        QTest::newRow("truncated") << fixtures::read("claude/fixtures/statusline/truncated.json") << invalid << kFormat;
        QTest::newRow("array") << QByteArray("[]") << invalid << kFormat;
        QTest::newRow("no rate_limits") << edited({{"rate_limits", fixtures::kRemove}}) << invalid << kFormat;
        QTest::newRow("version 1.5") << edited({{"version", 1.5}}) << invalid << kFormat;
        QTest::newRow("capturedAt as text") << edited({{"capturedAt", "1799999990"}}) << invalid << kFormat;
        QTest::newRow("percentage as text") << edited({{"rate_limits.five_hour.used_percentage", "12"}}) << invalid << kFormat;
        QTest::newRow("unused key of the wrong shape") << edited({{"rate_limits.opus_weekly", 3}}) << invalid << kFormat;
        QTest::newRow("model without reset") << edited({{"model_limits.0.resets_at", fixtures::kRemove}}) << invalid << kFormat;
        QTest::newRow("errorCode as number") << edited({{"errorCode", 429}}) << invalid << kFormat;
        QTest::newRow("format before identity") << edited({{"version", 2}, {"rate_limits", fixtures::kRemove}}) << invalid << kFormat;

        QTest::newRow("version 2") << edited({{"version", 2}}) << changed << kChanged;
        QTest::newRow("other stem") << edited({{"profileId", "work"}}) << changed << kChanged;
        QTest::newRow("other organisation") << edited({{"accountKey", kOtherOrganisationKey}}) << changed << kChanged;
        QTest::newRow("key in capitals") << edited({{"accountKey", kKey.toUpper()}}) << changed << kChanged;
        QTest::newRow("identity before time") << edited({{"version", 2}, {"capturedAt", 0}}) << changed << kChanged;

        QTest::newRow("captured at 0") << edited({{"capturedAt", 0}}) << invalid << kTime;
        QTest::newRow("captured before 1970") << edited({{"capturedAt", -5}}) << invalid << kTime;
        QTest::newRow("captured 61 s ahead") << edited({{"capturedAt", kNow1970 + 61}}) << invalid << kTime;
        QTest::newRow("time before windows") << edited({{"capturedAt", 0}, {"rate_limits.five_hour.used_percentage", 200}}) << invalid << kTime;

        QTest::newRow("five_hour over 100") << edited({{"rate_limits.five_hour.used_percentage", 100.5}}) << invalid << kPercent;
        QTest::newRow("five_hour negative") << edited({{"rate_limits.five_hour.used_percentage", -1}}) << invalid << kPercent;
        QTest::newRow("seven_day over 100") << edited({{"rate_limits.seven_day.used_percentage", 100.5}}) << invalid << kPercent;
        QTest::newRow("five_hour used without reset") << edited({{"rate_limits.five_hour.resets_at", fixtures::kRemove}}) << invalid << kNoReset;
        QTest::newRow("five_hour used, reset null") << edited({{"rate_limits.five_hour.resets_at", QJsonValue::Null}}) << invalid << kNoReset;
        QTest::newRow("seven_day at 0 without reset")
            << edited({{"rate_limits.seven_day.used_percentage", 0}, {"rate_limits.seven_day.resets_at", fixtures::kRemove}}) << invalid << kNoReset;
        QTest::newRow("five_hour before seven_day")
            << edited({{"rate_limits.seven_day.used_percentage", -1}, {"rate_limits.five_hour.resets_at", fixtures::kRemove}}) << invalid << kNoReset;

        QTest::newRow("model name empty") << edited({{"model_limits.0.name", ""}}) << invalid << kModel;
        QTest::newRow("model name 129 characters") << edited({{"model_limits.0.name", QString(129, 'x')}}) << invalid << kModel;
        QTest::newRow("model over 100") << edited({{"model_limits.1.used_percentage", 100.5}}) << invalid << kModel;
        QTest::newRow("model negative") << edited({{"model_limits.2.used_percentage", -1}}) << invalid << kModel;
        QTest::newRow("invalid model after an elapsed one")
            << edited({{"model_limits.0.resets_at", 5}, {"model_limits.1.name", ""}}) << invalid << kModel;
        QTest::newRow("rate limits before models")
            << edited({{"model_limits.0.name", ""}, {"rate_limits.seven_day.used_percentage", 101}}) << invalid << kPercent;
    }
    void validateFailures()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, code);
        QFETCH(QString, message);
        const ProviderClientError e = fixtures::providerError([&] { validated(file); });
        QCOMPARE(e.errorCode(), code);
        QCOMPARE(e.message(), message);
        QCOMPARE(e.kind(), ProviderClientError::Kind::diagnostic);
        QVERIFY(e.retryable());
        QCOMPARE(e.retryAfter(), std::optional(30.0));
    }

    void validateAccepts_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("windows");

        const QStringList all {"five_hour", "seven_day", "model-fable", "model-opus"};
        QTest::newRow("as written") << edited({}) << all;
        QTest::newRow("captured 60 s ahead") << edited({{"capturedAt", kNow1970 + 60}}) << all;
        QTest::newRow("integral version as 1.0") << edited({{"version", 1.0}}) << all;
        QTest::newRow("percentages at the bounds")
            << edited({{"rate_limits.five_hour.used_percentage", 100}, {"rate_limits.seven_day.used_percentage", 0},
                       {"model_limits.0.used_percentage", 100}})
            << all;
        QTest::newRow("idle session without reset")
            << edited({{"rate_limits.five_hour.used_percentage", 0}, {"rate_limits.five_hour.resets_at", fixtures::kRemove}}) << all;
        QTest::newRow("128-character model") << edited({{"model_limits.0.name", QString(128, 'x')}})
                                             << QStringList {"five_hour", "seven_day", "model-fable", "model-" + QString(128, 'x')};
        QTest::newRow("no model list") << edited({{"model_limits", fixtures::kRemove}}) << QStringList {"five_hour", "seven_day"};
        QTest::newRow("elapsed seven_day and model")
            << edited({{"rate_limits.seven_day.resets_at", kNow1970}, {"model_limits.1.resets_at", kNow1970 - 1}})
            << QStringList {"five_hour", "model-fable", "model-opus"};
        QTest::newRow("empty limits") << fixtures::read("claude/fixtures/statusline/empty-limits.json") << QStringList {};
    }
    void validateAccepts()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, windows);
        QCOMPARE(ids(ClaudeStatusLineMapping::merge({validated(file)}, kNow)), windows);
    }

    void windowsOfTheFile()
    {
        const ProviderUsage usage = ClaudeStatusLineMapping::merge({validated(edited({}))}, kNow);
        const Timestamp captured = Timestamp::fromSince1970(1'799'999'990);
        const Timestamp week = Timestamp::fromSince1970(1'800'300'000);
        const QList<UsageWindow> expected {
            {"five_hour", "Current session · 5 часов", 12.5, Timestamp::fromSince1970(1'800'003'600), 300, captured},
            {"seven_day", "Неделя", 40, week, 10080, captured},
            {"model-fable", "Fable · неделя", 30, week, 10080, captured},
            {"model-opus", "Opus · неделя", 5, week, 10080, captured},
        };
        QCOMPARE(usage.windows, expected);
        QCOMPARE(usage.provider, UsageProvider::claude);
        QCOMPARE(usage.updatedAt, std::optional(captured));
        QCOMPARE(usage.isStale, std::optional(false));
        QCOMPARE(usage.sourceNote, std::optional(kFableKnown));
        QVERIFY(!usage.planName && !usage.nextRetryAt && !usage.waitingForObservation && !usage.errorCode && !usage.errorMessage);
        QVERIFY(!usage.isLoading);
    }

    void elapsedFiveHourStays()
    {
        const ProviderUsage usage = validated(edited({{"rate_limits.five_hour.resets_at", kNow1970}}));
        QCOMPARE(usage.windows.first().id, QString("five_hour"));
        QCOMPARE(usage.windows.first().usedPercent, 12.5);
        QVERIFY(!usage.windows.first().resetsAt);
    }

    void collectorErrors_data()
    {
        QTest::addColumn<QJsonValue>("code");
        QTest::addColumn<std::optional<QString>>("storedCode");
        QTest::addColumn<std::optional<QString>>("message");

        const QString rateLimited = "Anthropic ограничил частоту запросов usage-отчёта. Последние данные сохранены; следующий запрос — после паузы от 5 минут до часа.";
        const QString other = "Скрипт statusLine не получил новый usage-отчёт. Последние данные сохранены; повтор при следующем запуске строки (не чаще 3 минут).";
        const std::optional<QString> none;
        QTest::newRow("none") << fixtures::kRemove << none << none;
        QTest::newRow("null") << QJsonValue(QJsonValue::Null) << none << none;
        for (const char* transient : {"CURL_6", "CURL_7", "CURL_28"})
            QTest::newRow(transient) << QJsonValue(transient) << none << none;
        QTest::newRow("HTTP_429") << QJsonValue("HTTP_429") << std::optional<QString>("HTTP_429") << std::optional(rateLimited);
        QTest::newRow("http_429 is another code") << QJsonValue("http_429") << std::optional<QString>("http_429") << std::optional(other);
        QTest::newRow("HTTP_500") << QJsonValue("HTTP_500") << std::optional<QString>("HTTP_500") << std::optional(other);
        QTest::newRow("token in the code") << QJsonValue("AUTH Bearer abc.def") << std::optional<QString>("AUTH [redacted]") << std::optional(other);
        QTest::newRow("10000 characters") << QJsonValue(QString(10000, 'E')) << std::optional(QString(8192, 'E')) << std::optional(other);
    }
    void collectorErrors()
    {
        QFETCH(QJsonValue, code);
        QFETCH(std::optional<QString>, storedCode);
        QFETCH(std::optional<QString>, message);
        const ProviderUsage usage = ClaudeStatusLineMapping::merge({validated(edited({{"errorCode", code}}))}, kNow);
        QCOMPARE(usage.errorCode, storedCode);
        QCOMPARE(usage.errorMessage, message);
        QCOMPARE(usage.isStale, std::optional(storedCode.has_value()));
        QCOMPARE(usage.sourceNote, std::optional(kFableKnown + (storedCode ? kStaleSuffix : QString())));
        QCOMPARE(usage.windows.size(), 4); // the windows are still shown
    }

    void staleness_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("stale");
        QTest::addColumn<QString>("note");

        QTest::newRow("300 s old") << edited({{"capturedAt", kNow1970 - 300}}) << false << kFableKnown;
        QTest::newRow("301 s old") << edited({{"capturedAt", kNow1970 - 301}}) << true << kFableKnown + kStaleSuffix;
        QTest::newRow("old, no fable") << edited({{"capturedAt", kNow1970 - 301}, {"model_limits", QJsonArray()}}) << true
                                       << kFableUnknown + kStaleSuffix;
        QTest::newRow("no windows, old") << edited({{"capturedAt", 1}}, fixtures::object(fixtures::read("claude/fixtures/statusline/empty-limits.json")))
                                         << false << kFableUnknown;
        QTest::newRow("collector error") << fixtures::read("claude/fixtures/statusline/collector-error.json") << true << kFableUnknown + kStaleSuffix;
    }
    void staleness()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, stale);
        QFETCH(QString, note);
        const ProviderUsage usage = ClaudeStatusLineMapping::merge({validated(file)}, kNow);
        QCOMPARE(usage.isStale, std::optional(stale));
        QCOMPARE(usage.sourceNote, std::optional(note));
        QCOMPARE(usage.updatedAt.has_value(), !usage.windows.isEmpty());
    }

    void mergeOfSeveral()
    {
        const Timestamp older = kNow.adding(-100), newer = kNow.adding(-10);
        ProviderUsage a = validated(edited({{"capturedAt", newer.since1970()}, {"errorCode", "HTTP_500"}}));
        ProviderUsage b = validated(edited({{"capturedAt", older.since1970()}, {"rate_limits.five_hour.used_percentage", 99},
                                            {"model_limits", QJsonArray {QJsonObject {{"name", "Zeta"}, {"used_percentage", 1}, {"resets_at", 1800300000}}}},
                                            {"errorCode", "HTTP_429"}}));
        // Given newest first, merged oldest first: the newer file's windows and error win.
        const ProviderUsage merged = ClaudeStatusLineMapping::merge({a, b}, kNow);
        QCOMPARE(ids(merged), (QStringList {"five_hour", "seven_day", "model-fable", "model-opus", "model-zeta"}));
        QCOMPARE(merged.windows.first().usedPercent, 12.5);
        QCOMPARE(merged.updatedAt, std::optional(older)); // the oldest window's observation
        QCOMPARE(merged.errorCode, std::optional<QString>("HTTP_500"));
        QCOMPARE(merged.isStale, std::optional(true));

        const ProviderUsage empty = ClaudeStatusLineMapping::merge({}, kNow);
        QVERIFY(empty.windows.isEmpty() && !empty.updatedAt);
        QCOMPARE(empty.isStale, std::optional(false));
        QCOMPARE(empty.sourceNote, std::optional(kFableUnknown));
    }

    // Reading the files of a profile.

    void bridgeFileStems_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<bool>("byId");
        QTest::newRow("personal") << ".claude-personal" << false;
        QTest::newRow("work") << ".claude-work" << false;
        QTest::newRow("other") << ".claude-team" << true;
        QTest::newRow("default folder") << ".claude" << true;
    }
    void bridgeFileStems()
    {
        QFETCH(QString, folder);
        QFETCH(bool, byId);
        const ProviderProfile p = connected(folder);
        const QString stem = byId ? p.id() : folder.mid(QStringLiteral(".claude-").size());
        QCOMPARE(ClaudeStatusLineClient(p, m_home.path(), {}).bridgeFilePath(), bridgeFolder() + "/" + stem + ".json");
        QVERIFY(testsupport::writeFile(bridgeFolder() + "/" + stem + ".json", edited({{"profileId", stem}})));
        QCOMPARE(ids(read(p)), (QStringList {"five_hour", "seven_day", "model-fable", "model-opus"}));
    }

    void notConnected_data()
    {
        QTest::addColumn<std::optional<QByteArray>>("claudeJson");
        QTest::newRow("no .claude.json") << std::optional<QByteArray>();
        QTest::newRow("no oauthAccount") << std::optional<QByteArray>(R"({"theme": "dark"})");
        QTest::newRow("organisation missing") << std::optional<QByteArray>(R"({"oauthAccount": {"accountUuid": "acct-1"}})");
        QTest::newRow("not JSON") << std::optional<QByteArray>("oauthAccount");
    }
    void notConnected()
    {
        QFETCH(std::optional<QByteArray>, claudeJson);
        const ProviderProfile p = profile(".claude-personal", "Мой «личный»");
        QDir().mkpath(p.configDirectory);
        if (claudeJson)
            testsupport::writeFile(p.configDirectory + "/.claude.json", *claudeJson);
        // A valid bridge file and a marker are not enough without a signed-in account.
        testsupport::writeFile(bridgeFolder() + "/personal.json", edited({}));
        testsupport::writeFile(p.configDirectory + "/.vantorel-claude-statusline.json", fixtures::read("claude/fixtures/statusline/marker-script.json"));
        const ProviderClientError e = fixtures::providerError([&] { read(p); });
        QCOMPARE(e.errorCode(), QString("CLAUDE_PROFILE_NOT_CONNECTED"));
        QCOMPARE(e.message(), "Профиль «Мой «личный»» не подключён. Откройте Claude Code с папкой " + p.configDirectory + ".");
        QCOMPARE(e.retryAfter(), std::optional(30.0));
    }

    void sizeLimit_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("16384 bytes") << 16384;
        QTest::newRow("16385 bytes") << 16385;
    }
    void sizeLimit()
    {
        QFETCH(int, size);
        const ProviderProfile p = connected(".claude-personal");
        QByteArray file = edited({});
        file.append(QByteArray(size - file.size(), ' '));
        testsupport::writeFile(bridgeFolder() + "/personal.json", file);
        if (size <= 16384) {
            QCOMPARE(read(p).windows.size(), 4);
        } else {
            const ProviderClientError e = fixtures::providerError([&] { read(p); });
            QCOMPARE(e.errorCode(), QString("CLAUDE_STATUSLINE_INVALID"));
            QCOMPARE(e.message(), kTooLarge);
        }
    }

    void marker_data()
    {
        QTest::addColumn<std::optional<QByteArray>>("marker");
        QTest::addColumn<bool>("waitingPlaceholder");
        QTest::newRow("script") << std::optional(fixtures::read("claude/fixtures/statusline/marker-script.json")) << true;
        QTest::newRow("wrapper") << std::optional<QByteArray>(R"({"kind": "wrapper"})") << true;
        QTest::newRow("Script") << std::optional<QByteArray>(R"({"kind": "Script"})") << false;
        QTest::newRow("other kind") << std::optional<QByteArray>(R"({"kind": "hook"})") << false;
        QTest::newRow("kind not a string") << std::optional<QByteArray>(R"({"kind": 1})") << false;
        QTest::newRow("not JSON") << std::optional<QByteArray>("script") << false;
        QTest::newRow("no marker") << std::optional<QByteArray>() << false;
    }
    void marker()
    {
        QFETCH(std::optional<QByteArray>, marker);
        QFETCH(bool, waitingPlaceholder);
        ProviderProfile p = connected(".claude-personal");
        p.name = "Личный";
        if (marker)
            testsupport::writeFile(p.configDirectory + "/.vantorel-claude-statusline.json", *marker);
        if (waitingPlaceholder) {
            ProviderUsage expected;
            expected.provider = UsageProvider::claude;
            expected.waitingForObservation = true;
            QCOMPARE(read(p), expected);
        } else {
            const ProviderClientError e = fixtures::providerError([&] { read(p); });
            QCOMPARE(e.errorCode(), QString("CLAUDE_STATUSLINE_WAITING"));
            QCOMPARE(e.message(), QString("Ожидаю первую передачу данных профиля «Личный». StatusLine подключается автоматически; после ответа "
                                          "Claude Code данные появятся. Если CLI уже запущен, перезапустите его. Ошибки автоподключения показаны в настройках."));
            QVERIFY(e.retryable());
            QCOMPARE(e.retryAfter(), std::optional(30.0));
        }
    }

    void bridgeFileWinsOverMarker()
    {
        const ProviderProfile p = connected(".claude-personal");
        testsupport::writeFile(p.configDirectory + "/.vantorel-claude-statusline.json", R"({"kind": "script"})");
        testsupport::writeFile(bridgeFolder() + "/personal.json", edited({{"version", 2}}));
        QCOMPARE(fixtures::providerError([&] { read(p); }).errorCode(), QString("CLAUDE_STATUSLINE_ACCOUNT_CHANGED"));
    }

    void unreadableBridgeFilePassesTheFileError()
    {
        const ProviderProfile p = connected(".claude-personal");
        QDir().mkpath(bridgeFolder() + "/personal.json");
        try {
            read(p);
            QFAIL("no error");
        } catch (const ForeignError& e) {
            QCOMPARE(e.domain(), ForeignError::kPosixDomain);
            QCOMPARE(e.code(), 21LL); // EISDIR
        }
    }

    // The file our collector writes, as its tests pin it down.
    void collectorFixture()
    {
        const ProviderProfile p = profile(".claude-work");
        QDir().mkpath(p.configDirectory);
        testsupport::writeFile(p.configDirectory + "/.claude.json",
                               R"({"oauthAccount": {"accountUuid": "11111111-2222-4333-8444-555555555555", "organizationUuid": "aaaaaaaa-bbbb-4ccc-8ddd-eeeeeeeeeeee"}})");
        QFile fixture(QStringLiteral(VANTOREL_TEST_DATA_DIR "/resources/fixtures/claude-bridge.json"));
        QVERIFY(fixture.open(QIODevice::ReadOnly));
        testsupport::writeFile(bridgeFolder() + "/work.json", fixture.readAll());
        const VirtualScheduler clock(Timestamp::fromSince1970(1767225600.25 + 10));
        const ProviderUsage usage = ClaudeStatusLineClient(p, m_home.path(), {}).read(clock);
        QCOMPARE(ids(usage), (QStringList {"five_hour", "seven_day"}));
        QCOMPARE(usage.windows.first().usedPercent, 23.5);
        QCOMPARE(usage.windows.first().resetsAt, std::optional(Timestamp::fromSince1970(1767243600)));
        QCOMPARE(usage.updatedAt, std::optional(Timestamp::fromSince1970(1767225600.25)));
        QCOMPARE(usage.isStale, std::optional(false));
    }

    void bridgeFolderFollowsXdgDataHome()
    {
        const ProviderProfile p = connected(".claude-personal");
        const QString data = m_home.path() + "/data";
        const ProcessEnvironment env {{"XDG_DATA_HOME", data}};
        testsupport::writeFile(data + "/Vantorel/statusline/personal.json", edited({}));
        QCOMPARE(ClaudeStatusLineClient(p, m_home.path(), env).read(m_clock).windows.size(), 4);
    }
};

QTEST_GUILESS_MAIN(TestClaudeStatusLine)
#include "test_claude_statusline.moc"
