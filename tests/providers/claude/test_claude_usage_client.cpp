#include "providers/ProviderFixtures.h"
#include "support/TestSupport.h"
#include "platform/Paths.h"
#include "platform/Scheduler.h"
#include "platform/Text.h"
#include "platform/Workers.h"
#include "providers/claude/ClaudeUsageClient.h"

#include <QDir>
#include <QMutex>
#include <QSemaphore>
#include <QtTest>

#include <atomic>
#include <memory>

namespace {

const Timestamp kStart = Timestamp::fromSince1970(1'800'000'000.0);
const QString kSignIn = QStringLiteral("Войдите в Claude Code для этого профиля.");
const QString kAccountChanged = QStringLiteral("Аккаунт Claude изменился во время обновления.");

QString iso(Timestamp t)
{
    return text::formatRfc3339(t);
}

// A payload whose windows reset at the given times.
QByteArray payload(Timestamp fiveHourReset, Timestamp sevenDayReset, const QString& plan = "max", double used = 10)
{
    return fixtures::bytes(QJsonObject {
        {"rate_limits_available", true},
        {"subscription_type", plan},
        {"rate_limits", QJsonObject {{"five_hour", QJsonObject {{"utilization", used}, {"resets_at", iso(fiveHourReset)}}},
                                     {"seven_day", QJsonObject {{"utilization", 40}, {"resets_at", iso(sevenDayReset)}}}}},
    });
}

// The reader of a test: each call takes the next scripted step, optionally waiting
// at a gate the test opens.
class ScriptedReader {
public:
    using Action = std::function<QByteArray(const CancelToken&)>;
    void add(Action action, std::shared_ptr<QSemaphore> gate = nullptr)
    {
        QMutexLocker lock(&m_mutex);
        m_steps.append({std::move(action), std::move(gate)});
    }
    void returns(const QByteArray& bytes) { add([bytes](const CancelToken&) { return bytes; }); }
    template <class E>
    void throws(E error)
    {
        add([error](const CancelToken&) -> QByteArray { throw error; });
    }
    int calls() const { return m_calls; }
    // Waits until a worker has taken the next step (true), at most ten seconds.
    bool waitForTakenStep() { return m_taken.tryAcquire(1, 10000); }
    QByteArray operator()(const CancelToken& cancel)
    {
        Step step;
        {
            QMutexLocker lock(&m_mutex);
            if (m_steps.isEmpty())
                throw std::runtime_error("unexpected read");
            step = m_steps.takeFirst();
        }
        ++m_calls;
        m_taken.release();
        if (step.gate)
            step.gate->acquire();
        return step.action(cancel);
    }

private:
    struct Step {
        Action action;
        std::shared_ptr<QSemaphore> gate;
    };
    QMutex m_mutex;
    QList<Step> m_steps;
    std::atomic<int> m_calls {0};
    QSemaphore m_taken;
};

} // namespace

class TestClaudeUsageClient : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<VirtualScheduler> m_scheduler;
    std::shared_ptr<ScriptedReader> m_reader;
    ProviderProfile m_profile;

    QString home() const { return m_home.path(); }
    QString bridgePath() const { return paths::statusLineFolder(home(), {}) + "/personal.json"; }
    Timestamp now() const { return m_scheduler->now(); }
    // A payload whose windows reset well after now.
    QByteArray livePayload(const QString& plan = "max", double used = 10) const
    {
        return payload(now().adding(3600), now().adding(9000), plan, used);
    }

    void signIn(const QString& account, const QString& organisation = "org-1")
    {
        QVERIFY(testsupport::writeFile(m_profile.claudeConfigFileURL(home()),
                                       fixtures::bytes(QJsonObject {{"oauthAccount", QJsonObject {{"accountUuid", account}, {"organizationUuid", organisation}}}})));
    }
    std::unique_ptr<ClaudeUsageClient> client()
    {
        auto reader = m_reader;
        return std::make_unique<ClaudeUsageClient>(m_profile, home(), *m_scheduler,
                                                   ClaudeUsageClient::Reader([reader](const CancelToken& c) { return (*reader)(c); }),
                                                   ProcessEnvironment {});
    }
    // A bridge file for acct-1/org-1 captured at `captured` with one five-hour window.
    void writeBridge(Timestamp captured, double used = 77)
    {
        QJsonObject file = fixtures::object(fixtures::read("claude/fixtures/statusline/valid.json"));
        file.insert("capturedAt", captured.since1970());
        file.insert("rate_limits", QJsonObject {{"five_hour", QJsonObject {{"used_percentage", used}, {"resets_at", captured.since1970() + 3600}}}});
        file.insert("model_limits", QJsonArray());
        QVERIFY(testsupport::writeFile(bridgePath(), fixtures::bytes(file)));
    }

    // Starts a fetch; the completion must not run inside the call.
    std::shared_ptr<std::optional<Result<ProviderUsage>>> start(ClaudeUsageClient& c, bool force, const CancelToken& cancel = CancelToken())
    {
        auto out = std::make_shared<std::optional<Result<ProviderUsage>>>();
        c.fetchUsage(force, now(), cancel, [out](Result<ProviderUsage> r) { *out = std::move(r); });
        if (out->has_value())
            qWarning("completed inside the call");
        return out;
    }
    Result<ProviderUsage> wait(const std::shared_ptr<std::optional<Result<ProviderUsage>>>& out)
    {
        if (!m_scheduler->waitUntil([&] { return out->has_value(); }))
            qFatal("fetch did not complete");
        return **out;
    }
    Result<ProviderUsage> fetch(ClaudeUsageClient& c, bool force, const CancelToken& cancel = CancelToken())
    {
        auto out = start(c, force, cancel);
        const bool synchronous = out->has_value();
        Result<ProviderUsage> r = wait(out);
        return synchronous ? Result<ProviderUsage>::failure(std::make_exception_ptr(std::runtime_error("completed synchronously"))) : r;
    }
    static ProviderClientError errorOf(const Result<ProviderUsage>& r)
    {
        return r.ok() ? ProviderClientError::diagnostic("NO_ERROR", {}, false) : ProviderClientError::from(r.error());
    }

private slots:
    void init()
    {
        QDir(home()).removeRecursively();
        QDir().mkpath(home());
        m_scheduler = std::make_unique<VirtualScheduler>(kStart);
        m_reader = std::make_shared<ScriptedReader>();
        m_profile = ProviderProfile {UsageProvider::claude, home() + "/.claude-personal", "Личный", true, std::nullopt, std::nullopt};
        QDir().mkpath(m_profile.configDirectory);
        signIn("acct-1");
    }
    void cleanup() { QCOMPARE(testsupport::childProcessCount(), 0); }

    void cacheForFiveMinutes()
    {
        auto c = client();
        const Timestamp t0 = now();
        m_reader->returns(payload(t0.adding(5), t0.adding(5)));
        const Result<ProviderUsage> first = fetch(*c, false); // the first call reads even when not forced
        QVERIFY(first.ok());
        QCOMPARE(m_reader->calls(), 1);
        QCOMPARE(first.value().sourceNote, std::optional<QString>("Claude Code · экспериментальный источник"));
        QCOMPARE(c->nextRead(), t0.adding(300));
        QCOMPARE(c->cached(), std::optional(first.value()));

        m_scheduler->advance(10);
        const Result<ProviderUsage> cachedAnswer = fetch(*c, false);
        QCOMPARE(m_reader->calls(), 1);
        // The seven-day window has reset meanwhile and is gone; the five-hour one stays
        // with its old percentage and no reset time.
        QCOMPARE(cachedAnswer.value().windows.size(), 1);
        QCOMPARE(cachedAnswer.value().windows.first().id, QString("five_hour"));
        QCOMPARE(cachedAnswer.value().windows.first().usedPercent, 10.0);
        QVERIFY(!cachedAnswer.value().windows.first().resetsAt);
        QCOMPARE(cachedAnswer.value().isStale, std::optional(false));
        QCOMPARE(c->cached(), std::optional(first.value())); // the cache itself is unchanged

        m_reader->returns(payload(t0.adding(3600), t0.adding(9000), "pro"));
        const Result<ProviderUsage> forced = fetch(*c, true);
        QCOMPARE(m_reader->calls(), 2);
        QCOMPARE(forced.value().planName, std::optional<QString>("pro"));
        QCOMPARE(c->nextRead(), now().adding(300));

        m_scheduler->advance(300);
        m_reader->returns(payload(t0.adding(3600), t0.adding(9000), "team"));
        QCOMPARE(fetch(*c, false).value().planName, std::optional<QString>("team"));
        QCOMPARE(m_reader->calls(), 3);
    }

    void accountChangeDropsTheCache()
    {
        auto c = client();
        m_reader->returns(livePayload());
        QVERIFY(fetch(*c, false).ok());
        signIn("acct-1", "org-2");
        m_reader->returns(livePayload("other"));
        m_scheduler->advance(10);
        const Result<ProviderUsage> r = fetch(*c, false);
        QCOMPARE(m_reader->calls(), 2);
        QCOMPARE(r.value().planName, std::optional<QString>("other"));
        QCOMPARE(c->identity(), std::optional(ClaudeAccountIdentity {"acct-1", "org-2"}));
    }

    void noIdentity_data()
    {
        QTest::addColumn<std::optional<QByteArray>>("claudeJson");
        QTest::newRow("missing") << std::optional<QByteArray>();
        QTest::newRow("empty account") << std::optional<QByteArray>(R"({"oauthAccount": {"accountUuid": "", "organizationUuid": "org-1"}})");
        QTest::newRow("no account") << std::optional<QByteArray>(R"({"userID": "x"})");
    }
    void noIdentity()
    {
        QFETCH(std::optional<QByteArray>, claudeJson);
        QFile::remove(m_profile.claudeConfigFileURL(home()));
        if (claudeJson)
            testsupport::writeFile(m_profile.claudeConfigFileURL(home()), *claudeJson);
        auto c = client();
        const ProviderClientError e = errorOf(fetch(*c, true));
        QCOMPARE(e.errorCode(), QString("CREDENTIALS_MISSING"));
        QCOMPARE(e.errorDescription(), kSignIn);
        QCOMPARE(m_reader->calls(), 0);
        QCOMPARE(c->nextRead(), ClaudeUsageClient::distantPast());
    }

    // The request fails: the newer of cache and bridge file, stale, with the request's error.
    void fallback_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("cache");   // "none", or the age of the cached read in seconds
        QTest::addColumn<QString>("bridge");  // "none", "marker", "invalid", or the age of the bridge data
        QTest::addColumn<QString>("source");  // "cache", "bridge", "waiting", "nothing"
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message");

        const QString install = "Установите Claude Code и войдите в нужный профиль.";
        const QString late = "Claude Code не ответил вовремя.";
        QTest::newRow("missing program, newer bridge") << "missing" << "400" << "20" << "bridge" << "CLI_NOT_FOUND" << install;
        QTest::newRow("missing program, older bridge") << "missing" << "400" << "500" << "cache" << "CLI_NOT_FOUND" << install;
        QTest::newRow("equally recent: cache wins") << "missing" << "400" << "400" << "cache" << "CLI_NOT_FOUND" << install;
        QTest::newRow("time-out, nothing at all") << "timeout" << "none" << "none" << "nothing" << "TIMEOUT" << late;
        QTest::newRow("time-out, bridge unusable") << "timeout" << "400" << "invalid" << "cache" << "TIMEOUT" << late;
        QTest::newRow("collector connected, nothing observed") << "missing" << "none" << "marker" << "waiting" << "CLI_NOT_FOUND" << install;
        QTest::newRow("payload not JSON") << "garbage" << "none" << "20" << "bridge" << "NSCocoaErrorDomain 3840"
                                          << "Не удалось прочитать данные, так как они имеют неверный формат.";
        QTest::newRow("no limits in the payload") << "no limits" << "none" << "none" << "nothing" << "AUTH_EXPIRED"
                                                  << "Claude Code не вернул лимиты. Проверьте вход в этот профиль.";
        QTest::newRow("a diagnostic is redacted") << "diagnostic" << "none" << "none" << "nothing" << "X_FAIL" << "key [redacted] refused";
    }
    void fallback()
    {
        QFETCH(QString, failure);
        QFETCH(QString, cache);
        QFETCH(QString, bridge);
        QFETCH(QString, source);
        QFETCH(QString, code);
        QFETCH(QString, message);

        auto c = client();
        std::optional<ProviderUsage> cached;
        if (cache != "none") {
            m_reader->returns(livePayload("max", 10));
            cached = fetch(*c, true).value();
        }
        m_scheduler->advance(cache == "none" ? 1000 : cache.toDouble());
        if (bridge == "marker")
            testsupport::writeFile(m_profile.configDirectory + "/.vantorel-claude-statusline.json", R"({"kind":"script"})");
        else if (bridge == "invalid")
            testsupport::writeFile(bridgePath(), "{}");
        else if (bridge != "none")
            writeBridge(now().adding(-bridge.toDouble()));

        if (failure == "missing")
            m_reader->throws(ProviderClientError::executableMissing("Установите Claude Code и войдите в нужный профиль."));
        else if (failure == "timeout")
            m_reader->throws(ProviderClientError::timedOut("Claude Code не ответил вовремя."));
        else if (failure == "garbage")
            m_reader->returns("event: limits");
        else if (failure == "no limits")
            m_reader->returns(R"({"rate_limits_available": false})");
        else
            m_reader->throws(ProviderClientError::diagnostic("X_FAIL", "key sk-abc123 refused", true));

        const Timestamp callTime = now();
        const Result<ProviderUsage> r = fetch(*c, true);
        QVERIFY(r.ok());
        const ProviderUsage u = r.value();
        QCOMPARE(u.provider, UsageProvider::claude);
        QCOMPARE(u.errorCode, std::optional(code));
        QCOMPARE(u.errorMessage, std::optional(message));
        QCOMPARE(u.isStale, std::optional(true));
        QCOMPARE(u.nextRetryAt, std::optional(callTime.adding(300)));
        QCOMPARE(u.failureCount, 0);
        QVERIFY(!u.isLoading);
        if (source == "cache") {
            QCOMPARE(u.planName, cached->planName);
            QCOMPARE(u.updatedAt, cached->updatedAt);
            QCOMPARE(u.sourceNote, cached->sourceNote);
            QCOMPARE(u.windows.first().usedPercent, 10.0);
        } else if (source == "bridge") {
            QVERIFY(!u.planName);
            QCOMPARE(u.updatedAt, std::optional(now().adding(-bridge.toDouble())));
            QCOMPARE(u.sourceNote, std::optional<QString>("Fable: нет актуального окна в кеше statusLine. Это не 0%."));
            QCOMPARE(u.windows.size(), 1);
            QCOMPARE(u.windows.first().usedPercent, 77.0);
        } else {
            QVERIFY(u.windows.isEmpty());
            QVERIFY(!u.planName && !u.updatedAt && !u.sourceNote);
            QCOMPARE(u.waitingForObservation, source == "waiting" ? std::optional(true) : std::nullopt);
        }
        QCOMPARE(c->cached(), std::optional(u));
        QCOMPARE(c->nextRead(), callTime.adding(300));
    }

    void fallbackDropsElapsedWindows()
    {
        auto c = client();
        m_reader->returns(payload(now().adding(100), now().adding(200)));
        QVERIFY(fetch(*c, true).ok());
        m_scheduler->advance(250);
        m_reader->throws(ProviderClientError::timedOut("Claude Code не ответил вовремя."));
        const ProviderUsage u = fetch(*c, true).value();
        QCOMPARE(u.windows.size(), 1);
        QCOMPARE(u.windows.first().id, QString("five_hour"));
        QVERIFY(!u.windows.first().resetsAt);
    }

    void accountSwitchDuringASuccessfulRead()
    {
        auto c = client();
        m_reader->returns(livePayload());
        QVERIFY(fetch(*c, true).ok());
        writeBridge(now());
        m_reader->add([this](const CancelToken&) {
            signIn("acct-2");
            return livePayload();
        });
        const Timestamp callTime = now();
        const ProviderClientError e = errorOf(fetch(*c, true));
        QCOMPARE(e.errorCode(), QString("REQUEST_FAILED"));
        QCOMPARE(e.errorDescription(), kAccountChanged);
        QVERIFY(!c->cached());
        QCOMPARE(c->nextRead(), callTime.adding(300));

        // The next call, even when not forced, reads again for the new account.
        m_reader->returns(livePayload("new"));
        QCOMPARE(fetch(*c, false).value().planName, std::optional<QString>("new"));
        QCOMPARE(m_reader->calls(), 3);
    }

    void accountSwitchDuringAFailedRead()
    {
        auto c = client();
        m_reader->returns(livePayload());
        QVERIFY(fetch(*c, true).ok());
        m_reader->add([this](const CancelToken&) -> QByteArray {
            signIn("acct-2");
            throw ProviderClientError::timedOut("Claude Code не ответил вовремя.");
        });
        const ProviderClientError e = errorOf(fetch(*c, true));
        QCOMPARE(e.errorCode(), QString("TIMEOUT")); // the request's own error
        QVERIFY(!c->cached());
    }

    void signedOutDuringTheRead()
    {
        auto c = client();
        m_reader->add([this](const CancelToken&) {
            QFile::remove(m_profile.claudeConfigFileURL(home()));
            return livePayload();
        });
        const Timestamp callTime = now();
        const ProviderClientError e = errorOf(fetch(*c, true));
        QCOMPARE(e.errorCode(), QString("CREDENTIALS_MISSING"));
        QCOMPARE(e.errorDescription(), kSignIn);
        QCOMPARE(c->nextRead(), callTime.adding(300));
    }

    void cancelledAfterTheRead_data()
    {
        QTest::addColumn<bool>("readSucceeds");
        QTest::newRow("with bytes") << true;
        QTest::newRow("with an error") << false;
    }
    void cancelledAfterTheRead()
    {
        QFETCH(bool, readSucceeds);
        auto c = client();
        m_reader->returns(livePayload());
        const ProviderUsage first = fetch(*c, true).value();
        const Timestamp before = c->nextRead();
        m_scheduler->advance(10);

        CancelToken cancel;
        m_reader->add([this, cancel, readSucceeds](const CancelToken&) -> QByteArray {
            cancel.cancel();
            if (!readSucceeds)
                throw ProviderClientError::timedOut("Claude Code не ответил вовремя.");
            return livePayload("late");
        });
        const Result<ProviderUsage> r = fetch(*c, true, cancel);
        QVERIFY(r.errorAs<CancellationError>().has_value());
        QCOMPARE(c->nextRead(), before);
        QCOMPARE(c->cached(), std::optional(first));
    }

    // A call that is not forced, made while a read runs, is answered from the cache.
    void callsDuringARead()
    {
        auto c = client();
        m_reader->returns(livePayload("old"));
        QVERIFY(fetch(*c, true).ok());
        auto gate = std::make_shared<QSemaphore>();
        m_reader->add([this](const CancelToken&) { return livePayload("new"); }, gate);
        auto running = start(*c, true);
        QCOMPARE(fetch(*c, false).value().planName, std::optional<QString>("old"));
        gate->release();
        QCOMPARE(wait(running).value().planName, std::optional<QString>("new"));
        QCOMPARE(m_reader->calls(), 2);
    }

    // A call of one account never falls back to the data of another account read meanwhile.
    void fallbackNeverUsesAnotherAccountsCache()
    {
        auto c = client();
        auto gate = std::make_shared<QSemaphore>();
        m_reader->add([](const CancelToken&) -> QByteArray { throw ProviderClientError::timedOut("Claude Code не ответил вовремя."); }, gate);
        auto first = start(*c, true);          // acct-1, waits at the gate
        QVERIFY(m_reader->waitForTakenStep());
        signIn("acct-2");
        m_reader->returns(livePayload("acct-2 plan"));
        QCOMPARE(fetch(*c, true).value().planName, std::optional<QString>("acct-2 plan"));
        signIn("acct-1");                       // back before the first call looks again
        gate->release();
        const ProviderUsage u = wait(first).value();
        QVERIFY(!u.planName);
        QVERIFY(u.windows.isEmpty());
        QCOMPARE(u.errorCode, std::optional<QString>("TIMEOUT"));
        QCOMPARE(c->cached()->planName, std::optional<QString>("acct-2 plan")); // acct-2's cache is left to acct-2
    }

    void destroyedWhileReading()
    {
        auto gate = std::make_shared<QSemaphore>();
        m_reader->add([](const CancelToken&) { return QByteArray("{}"); }, gate);
        auto c = client();
        auto out = start(*c, true);
        c.reset();
        gate->release();
        Workers::pool().waitForDone();
        m_scheduler->drainPosted();
        QVERIFY(!out->has_value());
    }

    // Through the real program: the default reader finds it in the home folder.
    void defaultReaderRunsTheProgram_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::newRow("profile folder") << ".claude-personal";
        QTest::newRow("default folder") << ".claude";
    }
    void defaultReaderRunsTheProgram()
    {
        QFETCH(QString, folder);
        m_profile = ProviderProfile {UsageProvider::claude, home() + "/" + folder, "Профиль", true, std::nullopt, std::nullopt};
        QDir().mkpath(m_profile.configDirectory);
        signIn("acct-1");
        QDir().mkpath(home() + "/.local/bin");
        QVERIFY(QFile::link(testsupport::fakeProgram("fake_claude"), home() + "/.local/bin/claude"));
        const QByteArray savedHome = qgetenv("HOME");
        qputenv("HOME", home().toUtf8());

        const QJsonObject answer {{"subtype", "success"},
                                  {"response", fixtures::object(livePayload("max"))}};
        const QString log = home() + "/log.json";
        testsupport::writeFile(home() + "/scenario.json",
                               fixtures::bytes(QJsonObject {{"log", log}, {"steps", QJsonArray {QJsonObject {{"respond", answer}}}}}));
        ProcessEnvironment env = systemEnvironment();
        env.insert("FAKE_CLAUDE_SCENARIO", home() + "/scenario.json");
        ClaudeUsageClient c(m_profile, home(), *m_scheduler, std::nullopt, env);
        const Result<ProviderUsage> r = fetch(c, false);
        qputenv("HOME", savedHome);

        QCOMPARE(r.value().planName, std::optional<QString>("max"));
        QCOMPARE(r.value().windows.size(), 2);
        QFile f(log);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QJsonObject childEnv = QJsonDocument::fromJson(f.readAll()).object().value("environment").toObject();
        if (folder == ".claude")
            QVERIFY(!childEnv.contains("CLAUDE_CONFIG_DIR"));
        else
            QCOMPARE(childEnv.value("CLAUDE_CONFIG_DIR").toString(), m_profile.configDirectory);
    }

    void cancellingEndsTheProgram()
    {
        QDir().mkpath(home() + "/.local/bin");
        QVERIFY(QFile::link(testsupport::fakeProgram("fake_claude"), home() + "/.local/bin/claude"));
        const QString log = home() + "/log.json";
        testsupport::writeFile(home() + "/scenario.json",
                               fixtures::bytes(QJsonObject {{"log", log}, {"ignoreTerm", true}, {"end", "hang"}}));
        const QByteArray savedHome = qgetenv("HOME");
        qputenv("HOME", home().toUtf8());
        ProcessEnvironment env = systemEnvironment();
        env.insert("FAKE_CLAUDE_SCENARIO", home() + "/scenario.json");
        ClaudeUsageClient c(m_profile, home(), *m_scheduler, std::nullopt, env);
        CancelToken cancel;
        auto out = start(c, false, cancel);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(log), 10000); // the program runs and has read the request
        cancel.cancel();
        const Result<ProviderUsage> r = wait(out);
        qputenv("HOME", savedHome);
        QVERIFY(r.errorAs<CancellationError>().has_value());
        QCOMPARE(c.nextRead(), ClaudeUsageClient::distantPast());
        QVERIFY(!c.cached());
    }
};

QTEST_GUILESS_MAIN(TestClaudeUsageClient)
#include "test_claude_usage_client.moc"
