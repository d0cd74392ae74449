#include "providers/copilot/CopilotRPC.h"
#include "providers/copilot/CopilotUsageClient.h"
#include "platform/Clock.h"
#include "platform/Scheduler.h"
#include "platform/StrictJson.h"
#include "platform/Text.h"
#include "usage/ProviderClientError.h"

#include "providers/ProviderFixtures.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

namespace {

// Monotonic time running `factor` times faster than real time, so a 20 s
// deadline passes in a fraction of a second while the wall clock stays true.
class FastClock final : public Clock {
public:
    explicit FastClock(double factor) : m_factor(factor), m_start(SystemClock::shared().uptime()) {}
    Timestamp now() const override { return SystemClock::shared().now(); }
    double uptime() const override { return m_start + (SystemClock::shared().uptime() - m_start) * m_factor; }

private:
    double m_factor;
    double m_start;
};

QJsonObject account(const QString& login, const QJsonValue& selectionId, const QString& host = QStringLiteral("https://github.com"),
                    const QJsonValue& user = QJsonValue::Undefined)
{
    QJsonObject auth {{"host", host}, {"login", login}, {"type", "user"}};
    if (!user.isUndefined())
        auth.insert("copilotUser", user);
    QJsonObject entry {{"authInfo", auth}};
    if (!selectionId.isUndefined())
        entry.insert("selectionId", selectionId);
    return entry;
}

const QJsonObject kQuota {{"quotaSnapshots", QJsonObject {
    {"premium_interactions", QJsonObject {{"isUnlimitedEntitlement", false}, {"remainingPercentage", 75},
                                          {"resetDate", "2999-01-01T00:00:00Z"}}},
    {"chat", QJsonObject {{"isUnlimitedEntitlement", true}, {"remainingPercentage", 100}}},
}}};

QJsonArray reply(const QJsonValue& result) { return {QJsonObject {{"result", result}}}; }

struct Failure {
    QString code;
    QString message;
    bool retryable = false;
    std::optional<double> retryAfter;
    bool cancelled = false;
};

} // namespace

class CopilotClientTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_scenarioPath;
    QString m_logPath;
    QString m_home; // the Copilot home handed to the program
    QString m_workDir;

    QString fake() const { return testsupport::fakeProgram(QStringLiteral("fake_copilot")); }

    void writeScenario(QJsonObject scenario)
    {
        scenario.insert("log", m_logPath);
        QVERIFY(testsupport::writeFile(m_scenarioPath, QJsonDocument(scenario).toJson()));
    }
    void writeMethods(const QJsonObject& methods, QJsonObject extra = {})
    {
        extra.insert("methods", methods);
        writeScenario(extra);
    }

    CopilotLaunch launch(const Clock* clock = nullptr) const
    {
        CopilotLaunch l;
        l.programCandidates = {m_dir.filePath("missing/copilot"), m_dir.filePath("not-executable"), fake()};
        l.environment = {
            {"FAKE_COPILOT_SCENARIO", m_scenarioPath},
            {"PATH", "/custom/bin:/usr/bin"},
            {"HOME", m_dir.path()},
            {"GH_TOKEN", "gho_secret1"},
            {"GITHUB_TOKEN", "ghp_secret2"},
            {"COPILOT_GITHUB_TOKEN", "secret3"},
            {"COPILOT_SDK_AUTH_TOKEN", "secret4"},
            {"NODE_DEBUG", "net"},
            {"NODE_OPTIONS", "--inspect"},
            {"COPILOT_HOME", "/elsewhere"},
            {"KEEP_ME", "1"},
        };
        l.workingDirectory = m_workDir;
        l.clock = clock;
        return l;
    }

    ProviderProfile profile(std::optional<QString> identifier = std::nullopt) const
    {
        ProviderProfile p;
        p.provider = UsageProvider::copilot;
        p.configDirectory = m_home;
        p.name = QStringLiteral("octo-work");
        p.isVisible = true;
        p.accountIdentifier = identifier;
        return p;
    }

    QList<QJsonObject> logEntries(const QString& event = {}) const
    {
        QList<QJsonObject> out;
        for (const QJsonObject& o : fixtures::jsonLines(m_logPath))
            if (!o.isEmpty() && (event.isEmpty() || o.value("event").toString() == event))
                out.append(o);
        return out;
    }
    QList<QJsonObject> requests() const
    {
        QList<QJsonObject> out;
        for (const QJsonObject& r : logEntries("request"))
            out.append(QJsonDocument::fromJson(r.value("body").toString().toUtf8()).object());
        return out;
    }

    template <class F>
    static Failure failureOf(F work)
    {
        try {
            work();
        } catch (const CancellationError&) {
            return {{}, {}, false, std::nullopt, true};
        } catch (...) {
            const ProviderClientError e = ProviderClientError::from(std::current_exception());
            return {e.errorCode(), e.message(), e.retryable(), e.retryAfter()};
        }
        return {QStringLiteral("no error"), {}, false, std::nullopt};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QFileInfo(fake()).isExecutable());
        m_scenarioPath = m_dir.filePath("scenario.json");
        m_logPath = m_dir.filePath("log.jsonl");
        m_home = m_dir.filePath("copilot-home");
        m_workDir = m_dir.filePath("tmp");
        QVERIFY(QDir().mkpath(m_home) && QDir().mkpath(m_workDir));
        QVERIFY(testsupport::writeFile(m_dir.filePath("not-executable"), "#!/bin/sh\n"));
    }
    void init() { QFile::remove(m_logPath); }
    void cleanup() { QCOMPARE(testsupport::childProcessCount(), 0); }

    // The program, its arguments, folder and environment, and the two requests.
    void fetchesOneAccountEndToEnd()
    {
        const QJsonObject user {{"copilot_plan", "individual_pro"}, {"quota_reset_date_utc", "2998-06-01T00:00:00.000Z"}};
        writeMethods({{"account.getAllUsers", reply(QJsonArray {account("octo", "sel-1", "https://github.com", user)})},
                      {"account.getQuota", reply(kQuota)}});
        const Timestamp before = SystemClock::shared().now();
        const ProviderUsage usage = CopilotUsageClient(profile(), launch()).fetchUsage();

        QCOMPARE(usage.provider, UsageProvider::copilot);
        QCOMPARE(usage.planName, std::optional<QString>("Pro+"));
        QCOMPARE(usage.windows.size(), 1);
        QCOMPARE(usage.windows[0].id, QStringLiteral("premium_interactions"));
        QCOMPARE(usage.windows[0].usedPercent, 25.0);
        QCOMPARE(usage.windows[0].resetsAt, text::parseRfc3339("2998-06-01T00:00:00Z"));
        QCOMPARE(usage.sourceNote, std::optional<QString>("Copilot CLI · Без лимита: Чат"));
        QVERIFY(usage.updatedAt && *usage.updatedAt >= before && *usage.updatedAt <= SystemClock::shared().now());

        const QList<QJsonObject> starts = logEntries("start");
        QCOMPARE(starts.size(), 1);
        const QJsonObject start = starts[0];
        QCOMPARE(start.value("argv").toArray(),
                 (QJsonArray {fake(), "--headless", "--stdio", "--no-auto-update", "--log-level", "none"}));
        QCOMPARE(QFileInfo(start.value("cwd").toString()).canonicalFilePath(), QFileInfo(m_workDir).canonicalFilePath());
        const QJsonObject env = start.value("env").toObject();
        for (const char* name : {"GH_TOKEN", "GITHUB_TOKEN", "COPILOT_GITHUB_TOKEN", "COPILOT_SDK_AUTH_TOKEN", "NODE_DEBUG", "NODE_OPTIONS"})
            QVERIFY2(!env.contains(name), name);
        QCOMPARE(env.value("COPILOT_HOME").toString(), m_home);
        QCOMPARE(env.value("KEEP_ME").toString(), QStringLiteral("1"));
        QVERIFY(env.value("PATH").toString().startsWith(QFileInfo(fake()).absolutePath() + ":"));
        QVERIFY(env.value("PATH").toString().contains("/custom/bin"));

        const QList<QJsonObject> log = logEntries("request");
        QCOMPARE(log.size(), 2);
        for (const QJsonObject& r : log)
            QCOMPARE(r.value("header").toString(), "Content-Length: " + QString::number(r.value("body").toString().toUtf8().size()));
        const QList<QJsonObject> sent = requests();
        QCOMPARE(sent[0], (QJsonObject {{"jsonrpc", "2.0"}, {"id", 1}, {"method", "account.getAllUsers"}, {"params", QJsonObject {}}}));
        QCOMPARE(sent[1], (QJsonObject {{"jsonrpc", "2.0"}, {"id", 2}, {"method", "account.getQuota"},
                                        {"params", QJsonObject {{"selectionId", "sel-1"}}}}));
    }

    // Which account a profile reads, and the errors of the choice.
    void accountChoice_data()
    {
        QTest::addColumn<QJsonArray>("accounts");
        QTest::addColumn<QString>("identifier"); // empty: none
        QTest::addColumn<QString>("selection");  // the quota request's selectionId; empty: none sent
        QTest::addColumn<QString>("code");       // empty: success

        const QString github = QStringLiteral("https://github.com");
        const QString id2 = github + QChar(u'\0') + "second";
        const QJsonArray two {account("first", "sel-1"), account("second", "sel-2")};
        QTest::newRow("one account, no identifier") << QJsonArray {account("solo", "sel-9")} << "" << "sel-9" << "";
        QTest::newRow("no account, no identifier") << QJsonArray {} << "" << "" << "COPILOT_SELECT_ACCOUNT";
        QTest::newRow("two accounts, no identifier") << two << "" << "" << "COPILOT_SELECT_ACCOUNT";
        QTest::newRow("identifier of the second") << two << id2 << "sel-2" << "";
        QTest::newRow("login matches, host differs")
            << two << QString("https://ghe.example" + QString(QChar(u'\0')) + "second") << "" << "COPILOT_ACCOUNT_UNAVAILABLE";
        QTest::newRow("empty selectionId") << QJsonArray {account("solo", "")} << "" << "" << "COPILOT_CLI_OUTDATED";
        QTest::newRow("no selectionId") << QJsonArray {account("solo", QJsonValue::Undefined)} << "" << "" << "COPILOT_CLI_OUTDATED";
        QTest::newRow("token sign-in without login is skipped")
            << QJsonArray {QJsonObject {{"authInfo", QJsonObject {{"host", github}, {"type", "token"}}}, {"selectionId", "tok"}},
                           account("solo", "sel-3")}
            << "" << "sel-3" << "";
    }
    void accountChoice()
    {
        QFETCH(QJsonArray, accounts);
        QFETCH(QString, identifier);
        QFETCH(QString, selection);
        QFETCH(QString, code);
        writeMethods({{"account.getAllUsers", reply(accounts)}, {"account.getQuota", reply(kQuota)}});
        const CopilotUsageClient client(profile(identifier.isEmpty() ? std::nullopt : std::optional(identifier)), launch());

        const Failure failure = failureOf([&] {
            const ProviderUsage usage = client.fetchUsage();
            QCOMPARE(usage.planName, std::nullopt); // no copilotUser: no plan
            QCOMPARE(usage.windows.size(), 1);
        });
        QCOMPARE(failure.code, code.isEmpty() ? QStringLiteral("no error") : code);
        const QList<QJsonObject> sent = requests();
        QCOMPARE(sent.size(), selection.isEmpty() ? 1 : 2);
        if (!selection.isEmpty())
            QCOMPARE(sent[1].value("params").toObject().value("selectionId").toString(), selection);
    }

    void accountChoiceMessages()
    {
        const auto run = [&](const QJsonArray& accounts, std::optional<QString> identifier) {
            writeMethods({{"account.getAllUsers", reply(accounts)}});
            return failureOf([&] { CopilotUsageClient(profile(identifier), launch()).fetchUsage(); });
        };
        Failure f = run({}, std::nullopt);
        QCOMPARE(f.message, QStringLiteral("Нажмите «Найти профили» в настройках и выберите конкретный аккаунт Copilot."));
        QCOMPARE(f.retryable, false);
        QCOMPARE(f.retryAfter, std::nullopt);
        f = run({account("a", "s")}, QStringLiteral("h") + QChar(u'\0') + "b");
        QCOMPARE(f.message, QStringLiteral("Аккаунт «octo-work» отсутствует в Copilot CLI. Войдите в него через copilot login."));
        QCOMPARE(f.retryable, true);
        QCOMPARE(f.retryAfter, std::optional(60.0));
        f = run({account("a", "")}, std::nullopt);
        QCOMPARE(f.message, QStringLiteral("Copilot CLI не поддерживает выбор аккаунта. Обновите CLI."));
        QCOMPARE(f.retryable, false);
        QCOMPARE(f.retryAfter, std::nullopt);
    }

    // Replies the transport must find among other traffic and odd framing.
    void framingOnTheWire_data()
    {
        QTest::addColumn<QJsonArray>("actions");
        const QJsonValue list = QJsonArray {account("octo", "sel-1")};
        const QJsonObject answer {{"result", list}};
        const auto with = [&](QJsonObject extra) {
            for (auto it = answer.begin(); it != answer.end(); ++it)
                extra.insert(it.key(), it.value());
            return extra;
        };
        QTest::newRow("header split over writes") << QJsonArray {with({{"chunks", QJsonArray {3, 9, 1}}})};
        QTest::newRow("body split over writes") << QJsonArray {with({{"chunks", QJsonArray {40, 5, 5}}})};
        QTest::newRow("extra headers") << QJsonArray {with({{"headers", QJsonArray {"Content-Type: application/vscode-jsonrpc; charset=utf-8"}},
                                                            {"headersAfter", QJsonArray {"X-Other: 1"}}})};
        QTest::newRow("mixed-case name without space") << QJsonArray {with({{"lengthName", "cOnTeNt-LeNgTh"}, {"noSpace", true}})};
        QTest::newRow("notification and other ids first")
            << QJsonArray {QJsonObject {{"send", QJsonObject {{"jsonrpc", "2.0"}, {"method", "session.log"}, {"params", QJsonObject {}}}}},
                           QJsonObject {{"send", QJsonObject {{"jsonrpc", "2.0"}, {"id", "$otherId"}, {"result", QJsonArray {}}}}},
                           QJsonObject {{"send", QJsonObject {{"jsonrpc", "2.0"}, {"id", "1"}, {"result", QJsonArray {}}}}},
                           QJsonObject {{"send", QJsonObject {{"jsonrpc", "2.0"}, {"id", "$otherId"}, {"error", QJsonObject {{"code", 1}}}}}},
                           QJsonObject {{"send", QJsonObject {}}},
                           QJsonObject {{"send", QJsonArray {1, 2}}},
                           answer};
        QTest::newRow("standard error chatter")
            << QJsonArray {QJsonObject {{"stderr", QString(1000, 'e')}, {"repeat", 300}}, answer};
        // The whole 2,000,000-byte body, paused with more than 2,000,000 bytes waiting.
        QTest::newRow("largest body") << QJsonArray {with({{"padTo", 2'000'000}, {"chunks", QJsonArray {2'000'010}},
                                                           {"chunkDelayMs", 300}})};
    }
    void framingOnTheWire()
    {
        QFETCH(QJsonArray, actions);
        writeMethods({{"account.getAllUsers", actions}});
        const QList<CopilotUsageClient::Account> accounts = CopilotUsageClient::listAccounts(m_home, {}, launch());
        QCOMPARE(accounts.size(), 1);
        QCOMPARE(accounts[0].authInfo.login, QStringLiteral("octo"));
    }

    // Every failure of the transport, as the store will record it.
    void transportFailures_data()
    {
        QTest::addColumn<QJsonObject>("scenario");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message"); // empty: not checked (a decoder's text)
        QTest::addColumn<bool>("retryable");
        QTest::addColumn<double>("retryAfter"); // -1: none

        const auto on = [](const QJsonArray& actions) { return QJsonObject {{"methods", QJsonObject {{"account.getAllUsers", actions}}}}; };
        const auto framed = [](QJsonObject options) {
            options.insert("result", QJsonArray {});
            return QJsonArray {options};
        };
        const QString header = QStringLiteral("Copilot: некорректный заголовок JSON-RPC.");
        const QString exited = QStringLiteral("Copilot CLI завершился до ответа account.getAllUsers. Проверьте вход через copilot login.");
        const QString timeout = QStringLiteral("Copilot: account.getAllUsers не ответил за 20 с.");

        QTest::newRow("no length header") << on(framed({{"lengthName", "Content-Type"}})) << "INVALID_RESPONSE" << header << false << -1.0;
        QTest::newRow("length over the limit") << on(framed({{"lengthValue", "2000001"}})) << "INVALID_RESPONSE" << header << false << -1.0;
        QTest::newRow("negative length") << on(framed({{"lengthValue", "-1"}})) << "INVALID_RESPONSE" << header << false << -1.0;
        QTest::newRow("length with letters") << on(framed({{"lengthValue", "12ab"}})) << "INVALID_RESPONSE" << header << false << -1.0;
        QTest::newRow("empty length") << on(framed({{"lengthValue", ""}})) << "INVALID_RESPONSE" << header << false << -1.0;
        QTest::newRow("endless header block") << on({QJsonObject {{"garbage", 2'100'000}}, QJsonObject {{"hang", true}}})
            << "INVALID_RESPONSE" << QStringLiteral("Copilot: ответ превышает допустимый размер.") << false << -1.0;
        QTest::newRow("exit before replying") << on({QJsonObject {{"stderr", "fatal: not logged in"}}, QJsonObject {{"exit", 3}}})
            << "COPILOT_EXIT_3" << exited << true << 60.0;
        QTest::newRow("unknown method") << QJsonObject {} << "COPILOT_RPC_-32601" << "Method not found" << false << 60.0;
        QTest::newRow("error without message")
            << on({QJsonObject {{"error", QJsonObject {{"code", -32000}}}}}) << "COPILOT_RPC_-32000" << "Copilot RPC error" << true << 60.0;
        QTest::newRow("error without code")
            << on({QJsonObject {{"error", QJsonObject {{"message", "boom"}}}}}) << "COPILOT_RPC_-1" << "boom" << true << 60.0;
        QTest::newRow("error with a token")
            << on({QJsonObject {{"error", QJsonObject {{"code", 401}, {"message", "bad header Bearer abc.def-123 given"}}}}})
            << "COPILOT_RPC_401" << "bad header [redacted] given" << true << 60.0;
        QTest::newRow("neither result nor error") << on({QJsonObject {{"send", QJsonObject {{"id", "$id"}, {"error", "text"}}}}})
            << "INVALID_RESPONSE" << QStringLiteral("Copilot: отсутствует result.") << false << -1.0;
        QTest::newRow("result that is no object or array") << on({QJsonObject {{"result", "text"}}})
            << "NSCocoaErrorDomain 4866" << QString() << true << -1.0;
        QTest::newRow("body is not JSON") << on({QJsonObject {{"send", "{nope"}}})
            << "NSCocoaErrorDomain 3840" << QString() << true << -1.0;
        QTest::newRow("scalar body") << on({QJsonObject {{"send", "42"}}})
            << "NSCocoaErrorDomain 3840" << QString() << true << -1.0;
        QTest::newRow("entry without authInfo") << on(reply(QJsonArray {QJsonObject {{"selectionId", "s"}}}))
            << "NSCocoaErrorDomain 4865" << QString() << true << -1.0;
        QTest::newRow("login that is not text")
            << on(reply(QJsonArray {QJsonObject {{"authInfo", QJsonObject {{"host", "h"}, {"login", 7}}}}}))
            << "NSCocoaErrorDomain 4864" << QString() << true << -1.0;
        QTest::newRow("list that is an object") << on(reply(QJsonObject {}))
            << "NSCocoaErrorDomain 4864" << QString() << true << -1.0;
        QTest::newRow("half a message, then exit")
            << on({QJsonObject {{"result", QJsonArray {}}, {"truncate", 3}}, QJsonObject {{"exit", 0}}})
            << "TIMEOUT" << timeout << false << -1.0;
    }
    void transportFailures()
    {
        QFETCH(QJsonObject, scenario);
        QFETCH(QString, code);
        QFETCH(QString, message);
        QFETCH(bool, retryable);
        QFETCH(double, retryAfter);
        writeScenario(scenario);
        QElapsedTimer timer;
        timer.start();
        // The real clock: none of these may wait for the 20 s deadline.
        const Failure f = failureOf([&] { CopilotUsageClient::listAccounts(m_home, {}, launch()); });
        QVERIFY2(timer.elapsed() < 10'000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(f.code, code);
        if (!message.isEmpty())
            QCOMPARE(f.message, message);
        if (code.startsWith("COPILOT_")) {
            QCOMPARE(f.retryable, retryable);
            QCOMPARE(f.retryAfter, retryAfter < 0 ? std::nullopt : std::optional(retryAfter));
        }
    }

    void missingProgram()
    {
        CopilotLaunch l = launch();
        l.programCandidates = {m_dir.filePath("missing/copilot"), m_dir.filePath("not-executable"), m_home};
        const Failure f = failureOf([&] { CopilotUsageClient(profile(), l).fetchUsage(); });
        QCOMPARE(f.code, QStringLiteral("CLI_NOT_FOUND"));
        QCOMPARE(f.message, QStringLiteral("Установите GitHub Copilot CLI и выполните copilot login."));
    }

    // On a clock twenty times faster the deadline passes in about a second.
    void deadline_data()
    {
        QTest::addColumn<QJsonArray>("actions");
        QTest::newRow("no reply") << QJsonArray {QJsonObject {{"hang", true}}};
        QTest::newRow("id as text never matches")
            << QJsonArray {QJsonObject {{"send", QJsonObject {{"id", "1"}, {"result", QJsonArray {}}}}}, QJsonObject {{"hang", true}}};
        QTest::newRow("half a message, still running")
            << QJsonArray {QJsonObject {{"result", QJsonArray {}}, {"truncate", 1}}, QJsonObject {{"hang", true}}};
    }
    void deadline()
    {
        QFETCH(QJsonArray, actions);
        writeMethods({{"account.getAllUsers", actions}});
        const FastClock clock(20);
        QElapsedTimer timer;
        timer.start();
        const Failure f = failureOf([&] { CopilotUsageClient::listAccounts(m_home, {}, launch(&clock)); });
        QCOMPARE(f.code, QStringLiteral("TIMEOUT"));
        QCOMPARE(f.message, QStringLiteral("Copilot: account.getAllUsers не ответил за 20 с."));
        QVERIFY(timer.elapsed() >= 900);
    }

    // Shutdown closes the input first, then terminates; a program that
    // ignores SIGTERM is killed after the grace.
    void shutdownOrder_data()
    {
        QTest::addColumn<bool>("ignoreTerm");
        QTest::newRow("terminates") << false;
        QTest::newRow("ignores SIGTERM") << true;
    }
    void shutdownOrder()
    {
        QFETCH(bool, ignoreTerm);
        writeMethods({{"account.getAllUsers", reply(QJsonArray {})}}, {{"stayAfterEof", true}, {"ignoreTerm", ignoreTerm}});
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(CopilotUsageClient::listAccounts(m_home, {}, launch()).size(), 0);
        const qint64 elapsed = timer.elapsed();
        const QList<QJsonObject> terms = logEntries("term");
        QCOMPARE(terms.size(), 1);
        QCOMPARE(terms[0].value("stdinClosed").toBool(), true);
        if (ignoreTerm)
            QVERIFY2(elapsed >= 450, qPrintable(QString::number(elapsed)));
    }

    void secondCallConsumesWhatTheFirstLeft()
    {
        // The quota reply arrives in the same write as the account list; the
        // program then answers the quota request itself with nothing.
        const auto framed = [](const QJsonObject& message) {
            const QByteArray body = QJsonDocument(message).toJson(QJsonDocument::Compact);
            return "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
        };
        const QByteArray both
            = framed({{"jsonrpc", "2.0"}, {"id", 1}, {"result", QJsonArray {account("octo", "sel-1")}}})
            + framed({{"jsonrpc", "2.0"}, {"id", 2}, {"result", kQuota}});
        writeMethods({{"account.getAllUsers", QJsonArray {QJsonObject {{"raw", QString::fromUtf8(both)}}}},
                      {"account.getQuota", QJsonArray {QJsonObject {{"hang", true}}}}});
        const ProviderUsage usage = CopilotUsageClient(profile(), launch()).fetchUsage();
        QCOMPARE(usage.windows.size(), 1);
    }

    // Cancelling kills the program at once, long before the deadline.
    void cancelledFetch()
    {
        writeMethods({{"account.getAllUsers", QJsonArray {QJsonObject {{"hang", true}}}}}, {{"ignoreTerm", true}});
        VirtualScheduler scheduler;
        CancelToken token;
        std::optional<Result<ProviderUsage>> outcome;
        CopilotUsageClient(profile(), launch()).fetchUsage(scheduler, token, [&](Result<ProviderUsage> r) { outcome = std::move(r); });
        QVERIFY(QTest::qWaitFor([&] { return !logEntries("request").isEmpty(); }, 10'000));
        QElapsedTimer timer;
        timer.start();
        token.cancel();
        QVERIFY(scheduler.waitUntil([&] { return outcome.has_value(); }, 10'000));
        QVERIFY(timer.elapsed() < 2'000);
        QVERIFY(outcome->errorAs<CancellationError>().has_value());
        QVERIFY(logEntries("term").isEmpty()); // killed, not asked

        // Already cancelled: nothing is started.
        QFile::remove(m_logPath);
        const Failure f = failureOf([&] { CopilotUsageClient(profile(), launch()).fetchUsage(token); });
        QVERIFY(f.cancelled);
        QVERIFY(logEntries().isEmpty());
    }

    // The worker wrappers complete on the main thread, never inside the call.
    void asyncWrappers()
    {
        const QJsonArray three {account("a", "sel-a"), account("b", QJsonValue::Undefined), account("c", "", "https://ghe.example")};
        writeMethods({{"account.getAllUsers", reply(three)}, {"account.getQuota", reply(kQuota)}});
        VirtualScheduler scheduler;
        std::optional<Result<QList<CopilotUsageClient::Account>>> listed;
        CopilotUsageClient::discoverAccounts(scheduler, m_home, [&](auto r) { listed = std::move(r); }, {}, launch());
        QVERIFY(!listed);
        QVERIFY(scheduler.waitUntil([&] { return listed.has_value(); }));
        const QList<CopilotUsageClient::Account> accounts = listed->value();
        QCOMPARE(accounts.size(), 3);
        QCOMPARE(accounts[0].authInfo.login, QStringLiteral("a"));
        QCOMPARE(accounts[1].selectionId, std::nullopt);
        QCOMPARE(accounts[2].selectionId, std::optional<QString>(""));
        QCOMPARE(accounts[2].identifier(), QStringLiteral("https://ghe.example") + QChar(u'\0') + "c");
        QCOMPARE(requests().size(), 1);

        std::optional<Result<ProviderUsage>> fetched;
        CopilotUsageClient(profile(accounts[0].identifier()), launch())
            .fetchUsage(scheduler, {}, [&](Result<ProviderUsage> r) { fetched = std::move(r); });
        QVERIFY(!fetched);
        QVERIFY(scheduler.waitUntil([&] { return fetched.has_value(); }));
        QCOMPARE(fetched->value().windows.size(), 1);
    }
};

QTEST_GUILESS_MAIN(CopilotClientTest)
#include "test_copilot_client.moc"
