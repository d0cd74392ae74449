#include "providers/ProviderFixtures.h"
#include "support/TestSupport.h"
#include "platform/Paths.h"
#include "platform/Scheduler.h"
#include "providers/antigravity/AntigravityStatusLineClient.h"

#include <QDir>
#include <QtTest>

namespace {

const double kNow1970 = 1'800'000'000.0;
const double kCredentialTime = 1'799'990'000.0; // whole seconds, exact in a file time

const QString kWaiting = QStringLiteral("StatusLine подключается автоматически. Ожидаю первую передачу Antigravity CLI; при необходимости перезапустите CLI. Ошибки автоподключения показаны в настройках; desktop/IDE напрямую не опрашивается.");
const QString kTooLarge = QStringLiteral("Слишком большой файл наблюдения Antigravity.");
const QString kFormat = QStringLiteral("Неизвестный формат statusLine Antigravity.");
const QString kChanged = QStringLiteral("Авторизация или профиль изменились. Ожидаю новые данные statusLine; старые лимиты скрыты.");
const QString kTimeOrCount = QStringLiteral("Некорректное время или число квот Antigravity.");
const QString kQuota = QStringLiteral("Некорректный процент или время сброса Antigravity.");
const QString kNoQuotas = QStringLiteral("Нет действующих квот; ожидаю statusLine Antigravity. Это не 0%.");

using Edits = QList<QPair<QString, QJsonValue>>;

QJsonObject quotas(int count)
{
    QJsonObject q;
    for (int i = 0; i < count; ++i)
        q.insert(QStringLiteral("gemini-%1").arg(i, 2, 10, QLatin1Char('0')), QJsonObject {{"remainingFraction", 0.5}, {"resetTime", 1800010000}});
    return q;
}

} // namespace

Q_DECLARE_METATYPE(Edits)

class TestAntigravityStatusLine : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    VirtualScheduler m_clock {Timestamp::fromSince1970(kNow1970)};
    ProviderProfile m_profile;

    QString bridgePath() const { return paths::statusLineFolder(m_home.path(), {}) + "/" + m_profile.id() + ".json"; }
    QString credentialPath() const { return m_profile.configDirectory + "/antigravity-oauth-token"; }
    QByteArray edited(const Edits& edits) const
    {
        QJsonObject file = fixtures::object(fixtures::read("antigravity/fixtures/valid.json", {{"PROFILE_ID", m_profile.id()}}));
        for (const auto& [path, value] : edits)
            file = fixtures::patched(file, path, value);
        return fixtures::bytes(file);
    }
    ProviderUsage read() const { return AntigravityStatusLineClient(m_profile, m_home.path(), {}).read(m_clock); }
    void writeCredential(double modified)
    {
        QVERIFY(testsupport::writeFile(credentialPath(), "token"));
        QFile file(credentialPath());
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime::fromMSecsSinceEpoch(qint64(modified * 1000), Qt::UTC), QFileDevice::FileModificationTime));
    }

private slots:
    void init()
    {
        QDir(m_home.path()).removeRecursively();
        m_profile = ProviderProfile {UsageProvider::antigravity, m_home.path() + "/.gemini/antigravity-cli", "По умолчанию", true,
                                     std::nullopt, std::nullopt};
        QDir().mkpath(m_profile.configDirectory);
    }

    void windowsAndPlan()
    {
        QVERIFY(testsupport::writeFile(bridgePath(), edited({})));
        const ProviderUsage usage = read();
        const Timestamp captured = Timestamp::fromSince1970(1'799'999'990.5);
        const QList<UsageWindow> expected {
            // plain string order: "3p-" before "gemini-"
            {"3p-claude-opus-weekly", "3p-claude-opus-weekly", 0, Timestamp::fromSince1970(1800500000), std::nullopt, captured},
            {"gemini-flash-weekly", "gemini-flash-weekly", 100, Timestamp::fromSince1970(1800500000), std::nullopt, captured},
            {"gemini-pro-5h", "gemini-pro-5h", 25, Timestamp::fromSince1970(1800010000), std::nullopt, captured},
        };
        QCOMPARE(usage.windows, expected);
        QCOMPARE(usage.provider, UsageProvider::antigravity);
        QCOMPARE(usage.planName, std::optional<QString>("Pro"));
        QCOMPARE(usage.updatedAt, std::optional(captured));
        QCOMPARE(usage.sourceNote, std::optional<QString>("Antigravity CLI · statusLine"));
        QCOMPARE(usage.isStale, std::optional(false));
        QVERIFY(!usage.isLoading && usage.failureCount == 0);
        QVERIFY(!usage.errorCode && !usage.errorMessage && !usage.nextRetryAt && !usage.waitingForObservation && !usage.unlimitedCategories);
    }

    void failures_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message");
        const QString invalid = "ANTIGRAVITY_STATUSLINE_INVALID", changed = "ANTIGRAVITY_ACCOUNT_CHANGED";

        QTest::newRow("32769 bytes") << edited({}).leftJustified(32769, ' ') << invalid << kTooLarge;
        QTest::newRow("not JSON") << QByteArray("quota") << invalid << kFormat;
        QTest::newRow("no quota") << edited({{"quota", fixtures::kRemove}}) << invalid << kFormat;
        QTest::newRow("quota without reset") << edited({{"quota.gemini-pro-5h.resetTime", fixtures::kRemove}}) << invalid << kFormat;
        QTest::newRow("fraction as text") << edited({{"quota.gemini-pro-5h.remainingFraction", "0.5"}}) << invalid << kFormat;
        QTest::newRow("plan as number") << edited({{"plan", 3}}) << invalid << kFormat;
        QTest::newRow("version 2") << edited({{"version", 2}}) << changed << kChanged;
        QTest::newRow("other profile") << edited({{"profileId", QString(64, 'a')}}) << changed << kChanged;
        QTest::newRow("63-character key") << edited({{"accountKey", QString(63, 'a')}}) << changed << kChanged;
        QTest::newRow("credential time without a credential") << edited({{"credentialModifiedAt", kCredentialTime}}) << changed << kChanged;
        QTest::newRow("identity before time") << edited({{"version", 2}, {"capturedAt", 0}}) << changed << kChanged;
        QTest::newRow("captured at 0") << edited({{"capturedAt", 0}}) << invalid << kTimeOrCount;
        QTest::newRow("captured before 1970") << edited({{"capturedAt", -1}}) << invalid << kTimeOrCount;
        QTest::newRow("captured 61 s ahead") << edited({{"capturedAt", kNow1970 + 61}}) << invalid << kTimeOrCount;
        QTest::newRow("65 quotas") << edited({{"quota", quotas(65)}}) << invalid << kTimeOrCount;
        QTest::newRow("fraction 1.01") << edited({{"quota.gemini-pro-5h.remainingFraction", 1.01}}) << invalid << kQuota;
        QTest::newRow("fraction -0.01") << edited({{"quota.zz-last.remainingFraction", -0.01}, {"quota.zz-last.resetTime", 1800010000}}) << invalid << kQuota;
        QTest::newRow("empty name") << edited({{"quota.", QJsonObject {{"remainingFraction", 0.5}, {"resetTime", 1800010000}}}}) << invalid << kQuota;
        QTest::newRow("129-character name") << edited({{"quota." + QString(129, 'q'), QJsonObject {{"remainingFraction", 0.5}, {"resetTime", 1800010000}}}})
                                            << invalid << kQuota;
        QTest::newRow("bad entry with elapsed reset") << edited({{"quota.gemini-pro-5h.remainingFraction", 2}, {"quota.gemini-pro-5h.resetTime", 1}})
                                                      << invalid << kQuota;
    }
    void failures()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, code);
        QFETCH(QString, message);
        QVERIFY(testsupport::writeFile(bridgePath(), file));
        const ProviderClientError e = fixtures::providerError([&] { read(); });
        QCOMPARE(e.errorCode(), code);
        QCOMPARE(e.message(), message);
        QVERIFY(e.retryable());
        QCOMPARE(e.retryAfter(), std::optional(30.0));
    }

    void waitingWithoutBridgeFile()
    {
        const ProviderClientError e = fixtures::providerError([&] { read(); });
        QCOMPARE(e.errorCode(), QString("ANTIGRAVITY_STATUSLINE_WAITING"));
        QCOMPARE(e.message(), kWaiting);
        QCOMPARE(e.retryAfter(), std::optional(30.0));
    }

    void accepted_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("windows");
        QTest::newRow("32768 bytes") << edited({}).leftJustified(32768, ' ') << 3;
        QTest::newRow("captured 60 s ahead") << edited({{"capturedAt", kNow1970 + 60}}) << 3;
        QTest::newRow("64 quotas") << edited({{"quota", quotas(64)}}) << 64;
        QTest::newRow("128-character name") << edited({{"quota", QJsonObject {{QString(128, 'q'), QJsonObject {{"remainingFraction", 0.5}, {"resetTime", 1800010000}}}}}})
                                            << 1;
        QTest::newRow("one reset passed") << edited({{"quota.gemini-pro-5h.resetTime", kNow1970}}) << 2;
        QTest::newRow("no plan") << edited({{"plan", fixtures::kRemove}}) << 3;
    }
    void accepted()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, windows);
        QVERIFY(testsupport::writeFile(bridgePath(), file));
        QCOMPARE(read().windows.size(), windows);
    }

    void credentialTimes_data()
    {
        QTest::addColumn<bool>("credentialFile");
        QTest::addColumn<std::optional<double>>("recorded");
        QTest::addColumn<bool>("agree");
        QTest::newRow("neither") << false << std::optional<double>() << true;
        QTest::newRow("file, none recorded") << true << std::optional<double>() << false;
        QTest::newRow("equal") << true << std::optional(kCredentialTime) << true;
        QTest::newRow("0.0005 s apart") << true << std::optional(kCredentialTime + 0.0005) << true;
        QTest::newRow("0.002 s apart") << true << std::optional(kCredentialTime - 0.002) << false;
        QTest::newRow("a second apart") << true << std::optional(kCredentialTime + 1) << false;
    }
    void credentialTimes()
    {
        QFETCH(bool, credentialFile);
        QFETCH(std::optional<double>, recorded);
        QFETCH(bool, agree);
        if (credentialFile)
            writeCredential(kCredentialTime);
        QVERIFY(testsupport::writeFile(bridgePath(), edited({{"credentialModifiedAt", recorded ? QJsonValue(*recorded) : fixtures::kRemove}})));
        if (agree) {
            QCOMPARE(read().windows.size(), 3);
        } else {
            const ProviderClientError e = fixtures::providerError([&] { read(); });
            QCOMPARE(e.errorCode(), QString("ANTIGRAVITY_ACCOUNT_CHANGED"));
            QCOMPARE(e.message(), kChanged);
        }
    }

    void staleness_data()
    {
        QTest::addColumn<double>("age");
        QTest::addColumn<bool>("stale");
        QTest::newRow("300 s") << 300.0 << false;
        QTest::newRow("301 s") << 301.0 << true;
    }
    void staleness()
    {
        QFETCH(double, age);
        QFETCH(bool, stale);
        QVERIFY(testsupport::writeFile(bridgePath(), edited({{"capturedAt", kNow1970 - age}})));
        const ProviderUsage usage = read();
        QCOMPARE(usage.isStale, std::optional(stale));
        QCOMPARE(usage.sourceNote, std::optional<QString>(stale ? "Antigravity CLI · statusLine · Данные устарели" : "Antigravity CLI · statusLine"));
    }

    // The file our collector writes, as its tests pin it down, for this profile.
    void collectorFixture()
    {
        QFile fixture(QStringLiteral(VANTOREL_TEST_DATA_DIR "/resources/fixtures/antigravity-bridge.json"));
        QVERIFY(fixture.open(QIODevice::ReadOnly));
        const QJsonObject file = fixtures::patched(fixtures::object(fixture.readAll()), "profileId", m_profile.id());
        QVERIFY(testsupport::writeFile(bridgePath(), fixtures::bytes(file)));
        writeCredential(1767225000.5);
        const VirtualScheduler clock(Timestamp::fromSince1970(1767225600.25 + 10));
        const ProviderUsage usage = AntigravityStatusLineClient(m_profile, m_home.path(), {}).read(clock);
        QVERIFY(usage.windows.isEmpty());
        QCOMPARE(usage.sourceNote, std::optional(kNoQuotas));
    }

    void readOnAWorker()
    {
        QVERIFY(testsupport::writeFile(bridgePath(), edited({})));
        std::optional<Result<ProviderUsage>> result;
        AntigravityStatusLineClient(m_profile, m_home.path(), {}).read(m_clock, [&](Result<ProviderUsage> r) { result = r; });
        QVERIFY(!result); // never inside the call
        QVERIFY(m_clock.waitUntil([&] { return result.has_value(); }));
        QCOMPARE(result->value(), read());
    }

    void allQuotasElapsed()
    {
        QVERIFY(testsupport::writeFile(bridgePath(), edited({{"quota.gemini-pro-5h.resetTime", 1}, {"quota.3p-claude-opus-weekly.resetTime", kNow1970},
                                                             {"quota.gemini-flash-weekly.resetTime", kNow1970 - 5}})));
        ProviderUsage expected;
        expected.provider = UsageProvider::antigravity;
        expected.planName = "Pro";
        expected.sourceNote = kNoQuotas;
        expected.isStale = true;
        QCOMPARE(read(), expected);
    }
};

QTEST_GUILESS_MAIN(TestAntigravityStatusLine)
#include "test_antigravity_statusline.moc"
