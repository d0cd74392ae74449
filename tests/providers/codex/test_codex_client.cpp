#include "BuildInfo.h"
#include "support/TestSupport.h"
#include "providers/ProviderFixtures.h"
#include "platform/ForeignError.h"
#include "platform/Paths.h"
#include "platform/Scheduler.h"
#include "platform/StrictJson.h"
#include "providers/codex/CodexUsageClient.h"
#include "usage/ProviderProfile.h"

#include <QtTest>

#include <functional>

namespace {

// Far in the future, so a window at 100 % still waits for its reset.
constexpr qint64 kLater = 4'102'444'800;

QJsonObject exhausted(const QString& account = QStringLiteral("acc-1"), int credits = 1)
{
    return QJsonObject {
        {"accountId", account},
        {"ordinaryUsageAllowed", false},
        {"rateLimitResetCredits", QJsonObject {{"availableCount", credits}}},
        {"rateLimits", QJsonObject {{"limitId", "codex"},
                                    {"primary", QJsonObject {{"usedPercent", 100}, {"windowDurationMins", 300}, {"resetsAt", kLater}}},
                                    {"secondary", QJsonObject {{"usedPercent", 40}, {"windowDurationMins", 10080}, {"resetsAt", kLater}}},
                                    {"planType", "plus"},
                                    {"rateLimitReachedType", "rate_limit_reached"}}},
    };
}

QJsonObject recovered(const QString& account = QStringLiteral("acc-1"))
{
    return QJsonObject {
        {"accountId", account},
        {"ordinaryUsageAllowed", true},
        {"rateLimitResetCredits", QJsonObject {{"availableCount", 0}}},
        {"rateLimits", QJsonObject {{"primary", QJsonObject {{"usedPercent", 0}, {"windowDurationMins", 300}, {"resetsAt", kLater}}}}},
    };
}

QJsonObject answer(const QJsonObject& result) { return QJsonObject {{"result", result}}; }
QJsonObject failure(int code, const QString& message)
{
    return QJsonObject {{"error", QJsonObject {{"code", code}, {"message", message}}}};
}

// One scenario for the fake program, its log, and a client that runs it.
class FakeCodex {
public:
    FakeCodex()
    {
        m_scenario = m_dir.filePath("scenario.json");
        m_log = m_dir.filePath("log.jsonl");
        m_home = m_dir.filePath("codex-home");
    }

    void setScenario(const QJsonObject& scenario) { testsupport::writeFile(m_scenario, QJsonDocument(scenario).toJson()); }
    void setScenario(const QByteArray& text) { testsupport::writeFile(m_scenario, text); }
    void setMethods(const QJsonObject& methods) { setScenario(QJsonObject {{"methods", methods}}); }

    ProcessEnvironment baseEnvironment() const
    {
        return ProcessEnvironment {
            {"PATH", "/usr/bin:/bin"},
            {"HOME", m_dir.path()},
            {"NODE_OPTIONS", "--inspect"},
            {"FAKE_CODEX_SCENARIO", m_scenario},
            {"FAKE_CODEX_LOG", m_log},
        };
    }

    CodexUsageClient client(double timeout = 10.0) const
    {
        ProviderProfile profile;
        profile.provider = UsageProvider::codex;
        profile.configDirectory = m_home;
        CodexUsageClient c = CodexUsageClient::forProfile(profile, baseEnvironment());
        c.executableOverride = testsupport::fakeProgram("fake_codex");
        c.timeout = timeout;
        return c;
    }

    const QString& home() const { return m_home; }

    QList<QJsonObject> log() const { return fixtures::jsonLines(m_log); }
    QList<QJsonObject> received() const
    {
        QList<QJsonObject> out;
        for (const QJsonObject& entry : log()) {
            if (entry.contains("received"))
                out.append(entry.value("received").toObject());
        }
        return out;
    }
    QList<QJsonObject> receivedWith(const QString& method) const
    {
        QList<QJsonObject> out;
        for (const QJsonObject& m : received()) {
            if (m.value("method").toString() == method)
                out.append(m);
        }
        return out;
    }
    bool logHas(const QString& key) const
    {
        for (const QJsonObject& entry : log()) {
            if (entry.contains(key))
                return true;
        }
        return false;
    }
    // Waits (for the program's real I/O) until a request with `id` has arrived.
    bool waitForRequest(qint64 id) const
    {
        return fixtures::waitForFake([&] {
            for (const QJsonObject& m : received()) {
                if (m.value("id").toInteger() == id)
                    return true;
            }
            return false;
        });
    }

private:
    QTemporaryDir m_dir;
    QString m_scenario;
    QString m_log;
    QString m_home;
};

template <class F>
std::optional<ProviderClientError> errorOf(F&& work)
{
    try {
        work();
    } catch (const ProviderClientError& e) {
        return e;
    }
    return std::nullopt;
}

QList<qint64> ids(const QList<QJsonObject>& messages)
{
    QList<qint64> out;
    for (const QJsonObject& m : messages)
        out.append(m.contains("id") ? m.value("id").toInteger() : -1);
    return out;
}

const CodexResetAttempt kAttempt {QStringLiteral("acc-1"), QStringLiteral("3F2504E0-4F89-11D3-9A0C-0305E82C3301")};

} // namespace

Q_DECLARE_METATYPE(CodexResetOutcome)

class CodexClientTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup();

    void readsUsageEndToEnd();
    void skipsEverythingThatIsNotTheAnswer();
    void keepsEarlyAndSplitReplies();
    void refreshesTokenAfterSignInError();
    void signInRefreshFailureIsThrown();
    void otherErrorIsMappedWithoutRefresh();
    void failures_data();
    void failures();
    void programIgnoringSigtermIsKilled();
    void cancelledFetchEndsAtOnce();
    void findsExecutable();
    void missingAndUnstartableProgram();

    void spendsOnceAndRereads();
    void rereadFailureBecomesRefreshError_data();
    void rereadFailureBecomesRefreshError();
    void cancelledRereadKeepsOutcome();
    void nothingSentWhenNotEligible_data();
    void nothingSentWhenNotEligible();
    void retrySpendsEvenWhenNotEligible();
    void spendRefusedForAnotherAccount_data();
    void spendRefusedForAnotherAccount();
    void spendReplyFailures();
    void programDiesAfterSpendRequest();
    void asyncConsumeAndEncodedPayload();
};

void CodexClientTest::cleanup()
{
    QCOMPARE(testsupport::childProcessCount(), 0);
}

void CodexClientTest::readsUsageEndToEnd()
{
    FakeCodex fake;
    fake.setScenario(QJsonObject {
        {"stderr", "\u001b[2mstarting\u001b[0m\n"},
        {"methods", QJsonObject {{"account/rateLimits/read", answer(exhausted())}}},
    });

    const ProviderUsage usage = fake.client().fetchUsageBlocking();
    QCOMPARE(usage.provider, UsageProvider::codex);
    QCOMPARE(usage.planName, std::optional<QString>("Plus"));
    QCOMPARE(usage.windows.size(), 2);
    QCOMPARE(usage.windows.at(0).id, QStringLiteral("codex-primary"));
    QCOMPARE(usage.windows.at(0).usedPercent, 100.0);
    QCOMPARE(usage.codexAccountID, std::optional<QString>("acc-1"));
    QCOMPARE(usage.codexResetCredits->availableCount, 1);
    QVERIFY(usage.updatedAt);
    QVERIFY(!usage.isLoading);

    // The exact messages: ids, members, the notification, no "jsonrpc", no empty "params".
    const QJsonObject info {{"name", "vantorel"}, {"title", "Vantorel"}, {"version", QString::fromUtf8(buildinfo::kVersion)}};
    const QList<QJsonObject> expected {
        QJsonObject {{"id", 1}, {"method", "initialize"}, {"params", QJsonObject {{"clientInfo", info}}}},
        QJsonObject {{"method", "initialized"}},
        QJsonObject {{"id", 2}, {"method", "account/rateLimits/read"}},
    };
    QCOMPARE(fake.received(), expected);

    // Arguments and environment: the base with "CODEX_HOME" added, NODE_OPTIONS gone, PATH rebuilt.
    const QJsonObject start = fake.log().first().value("start").toObject();
    QCOMPARE(start.value("args").toArray(), (QJsonArray {"app-server", "--stdio"}));
    const QJsonObject env = start.value("env").toObject();
    QStringList keys = env.keys();
    keys.removeAll("PWD"); // QProcessEnvironment does not add it, the shell might
    QCOMPARE(keys, (QStringList {"CODEX_HOME", "FAKE_CODEX_LOG", "FAKE_CODEX_SCENARIO", "HOME", "PATH"}));
    QCOMPARE(env.value("CODEX_HOME").toString(), fake.home());
    const QString folder = QFileInfo(testsupport::fakeProgram("fake_codex")).absolutePath();
    QCOMPARE(env.value("PATH").toString(), folder + ":/opt/homebrew/bin:/usr/local/bin:/usr/bin:/bin");
}

void CodexClientTest::skipsEverythingThatIsNotTheAnswer()
{
    // Before the answer: a notification, plain text, an empty line, a stale reply,
    // an id as a string, and the program's own request and a notification carrying
    // our id.
    FakeCodex fake;
    fake.setMethods(QJsonObject {
        {"account/rateLimits/read", QJsonObject {
            {"before", QJsonArray {
                QJsonObject {{"method", "account/updated"}, {"params", QJsonObject {}}},
                "not json at all",
                "",
                "[2]",
                QJsonObject {{"id", 1}, {"result", answer(recovered("stale"))}},
                QJsonObject {{"id", "$ID"}, {"method", "item/commandExecution/requestApproval"}, {"params", QJsonObject {}}},
                QJsonObject {{"id", "$ID"}, {"method", "codex/event"}, {"result", recovered("notification")}},
                "{\"id\":\"2\",\"result\":{}}",
            }},
            {"result", exhausted("the-answer")},
        }},
    });
    const ProviderUsage usage = fake.client().fetchUsageBlocking();
    QCOMPARE(usage.codexAccountID, std::optional<QString>("the-answer"));
}

void CodexClientTest::keepsEarlyAndSplitReplies()
{
    // The answer to request 2 arrives with the answer to request 1, before request 2
    // is even written; the program never answers request 2 itself.
    FakeCodex early;
    early.setMethods(QJsonObject {
        {"initialize", QJsonObject {{"result", QJsonObject {}}, {"after", QJsonArray {QJsonObject {{"id", 2}, {"result", exhausted("early")}}}}}},
        {"account/rateLimits/read", QJsonObject {{"never", true}}},
    });
    QCOMPARE(early.client(5).fetchUsageBlocking().codexAccountID, std::optional<QString>("early"));

    // An answer in three pieces, followed by the start of an unrelated line.
    FakeCodex split;
    split.setMethods(QJsonObject {
        {"account/rateLimits/read", QJsonObject {{"result", exhausted("split")}, {"chunks", 3}, {"chunkDelayMs", 30}, {"afterRaw", "{\"method\":\"partial"}}},
    });
    QCOMPARE(split.client().fetchUsageBlocking().codexAccountID, std::optional<QString>("split"));

    // The answer written just before the program exits still counts.
    FakeCodex last;
    last.setMethods(QJsonObject {{"account/rateLimits/read", QJsonObject {{"result", exhausted("last words")}, {"exitAfter", 0}}}});
    QCOMPARE(last.client().fetchUsageBlocking().codexAccountID, std::optional<QString>("last words"));
}

void CodexClientTest::refreshesTokenAfterSignInError()
{
    FakeCodex fake;
    fake.setMethods(QJsonObject {
        {"account/rateLimits/read", QJsonArray {failure(-32001, "access token expired"), answer(exhausted("refreshed"))}},
        {"account/read", answer(QJsonObject {{"account", QJsonObject {}}})},
    });
    QCOMPARE(fake.client().fetchUsageBlocking().codexAccountID, std::optional<QString>("refreshed"));
    const QList<QJsonObject> got = fake.received();
    QCOMPARE(ids(got), (QList<qint64> {1, -1, 2, 3, 4}));
    QCOMPARE(got.at(3), (QJsonObject {{"id", 3}, {"method", "account/read"}, {"params", QJsonObject {{"refreshToken", true}}}}));
    QCOMPARE(got.at(4), (QJsonObject {{"id", 4}, {"method", "account/rateLimits/read"}}));
}

void CodexClientTest::signInRefreshFailureIsThrown()
{
    FakeCodex fake;
    fake.setMethods(QJsonObject {
        {"account/rateLimits/read", failure(-32001, "Unauthorized")},
        {"account/read", failure(-32000, "refresh failed")},
    });
    const auto error = errorOf([&] { fake.client().fetchUsageBlocking(); });
    QVERIFY(error);
    QCOMPARE(error->errorCode(), QStringLiteral("JSON_RPC_-32000"));
    QCOMPARE(error->message(), QStringLiteral("JSON-RPC -32000: refresh failed"));
    QCOMPARE(ids(fake.received()), (QList<qint64> {1, -1, 2, 3}));
}

void CodexClientTest::otherErrorIsMappedWithoutRefresh()
{
    FakeCodex fake;
    fake.setMethods(QJsonObject {{"account/rateLimits/read", failure(-32600, "bad request")}});
    const auto error = errorOf([&] { fake.client().fetchUsageBlocking(); });
    QVERIFY(error);
    QCOMPARE(error->errorCode(), QStringLiteral("JSON_RPC_-32600"));
    QCOMPARE(error->message(), QStringLiteral("JSON-RPC -32600: bad request"));
    QVERIFY(error->retryable());
    QVERIFY(fake.receivedWith("account/read").isEmpty());
}

void CodexClientTest::failures_data()
{
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<double>("timeout");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("retryable");

    QTest::newRow("exit 127 before initialize, silent")
        << QByteArray(R"({"exitAtStart":127})") << 10.0
        << "CODEX_EXIT_127" << "codex app-server завершился до ответа на initialize." << false;
    QTest::newRow("exit 1 with a coloured word on stderr")
        << QByteArray(R"({"stderr":"\u001b[31m  boom \u001b[0m\n","exitAtStart":1})") << 10.0
        << "CODEX_EXIT_1" << "boom" << true;
    QTest::newRow("exit 2 while reading limits")
        << QByteArray(R"({"methods":{"account/rateLimits/read":{"exit":2}}})") << 10.0
        << "CODEX_EXIT_2" << "codex app-server завершился до ответа на account/rateLimits/read." << false;
    QTest::newRow("exit 126") << QByteArray(R"({"methods":{"initialize":{"exit":126}}})") << 10.0
                              << "CODEX_EXIT_126" << "codex app-server завершился до ответа на initialize." << false;
    QTest::newRow("secret on stderr")
        << QByteArray(R"({"methods":{"account/rateLimits/read":{"stderr":"auth failed: Bearer abc.def.ghi\n","exit":1}}})") << 10.0
        << "CODEX_EXIT_1" << "auth failed: [redacted]" << true;
    QTest::newRow("only the last 8192 bytes of stderr")
        << QByteArray(R"({"stderr":")" + QByteArray(11808, 'A') + QByteArray(8192, 'B') + R"(","exitAtStart":1})") << 10.0
        << "CODEX_EXIT_1" << QString(8192, QLatin1Char('B')) << true;
    QTest::newRow("initialize error") << QByteArray(R"({"methods":{"initialize":{"error":{"code":-32603,"message":"init failed"}}}})") << 10.0
                                      << "JSON_RPC_-32603" << "JSON-RPC -32603: init failed" << true;
    QTest::newRow("initialize sign-in error is not retried")
        << QByteArray(R"({"methods":{"initialize":{"error":{"code":1,"message":"please login"}}}})") << 10.0
        << "CODEX_AUTH" << "JSON-RPC 1: please login" << true;
    QTest::newRow("no answer, quiet stderr") << QByteArray(R"({"methods":{"account/rateLimits/read":{"never":true}}})") << 1.0
                                             << "TIMEOUT" << "account/rateLimits/read: нет ответа за 1 с." << true;
    QTest::newRow("no answer, coloured stderr kept untrimmed")
        << QByteArray(R"({"methods":{"account/rateLimits/read":{"stderr":"\u001b[2mwarming up\u001b[0m\n","never":true}}})") << 1.0
        << "TIMEOUT" << "account/rateLimits/read: нет ответа за 1 с.\nwarming up\n" << true;
    QTest::newRow("only a foreign id and our id on a request of its own")
        << QByteArray(R"({"methods":{"account/rateLimits/read":{"before":[{"id":7,"result":{}},{"id":"$ID","method":"approve","params":{}}],"never":true}}})") << 1.0
        << "TIMEOUT" << "account/rateLimits/read: нет ответа за 1 с." << true;
    QTest::newRow("oversized line") << QByteArray(R"({"methods":{"account/rateLimits/read":{"oversize":2100000}}})") << 10.0
                                    << "INVALID_RESPONSE" << "Слишком большой ответ Codex на account/rateLimits/read." << false;
    QTest::newRow("answer with neither result nor error")
        << QByteArray(R"({"methods":{"account/rateLimits/read":{"raw":"{\"id\":$ID}\n"}}})") << 10.0
        << "INVALID_RESPONSE" << "Codex не вернул данные о лимитах." << false;
    QTest::newRow("garbage answer") << QByteArray(R"({"methods":{"account/rateLimits/read":{"raw":"{\"id\":$ID,\"result\":[1]}\n"}}})") << 10.0
                                    << "INVALID_RESPONSE" << "Codex вернул ответ неизвестного формата." << false;
}

void CodexClientTest::failures()
{
    QFETCH(QByteArray, scenario);
    QFETCH(double, timeout);
    QFETCH(QString, code);
    QFETCH(QString, message);
    QFETCH(bool, retryable);

    FakeCodex fake;
    fake.setScenario(scenario);
    const auto error = errorOf([&] { fake.client(timeout).fetchUsageBlocking(); });
    QVERIFY(error);
    QCOMPARE(error->errorCode(), code);
    QCOMPARE(error->message(), message);
    if (error->kind() == ProviderClientError::Kind::diagnostic)
        QCOMPARE(error->retryable(), retryable);
    else
        QCOMPARE(error->retryDelay(1).has_value(), retryable);
}

void CodexClientTest::programIgnoringSigtermIsKilled()
{
    // After a good answer and after a timeout: SIGTERM is ignored, SIGKILL follows.
    FakeCodex good;
    good.setScenario(QJsonObject {{"ignoreSigterm", true}, {"methods", QJsonObject {{"account/rateLimits/read", answer(exhausted())}}}});
    QCOMPARE(good.client().fetchUsageBlocking().codexAccountID, std::optional<QString>("acc-1"));
    QVERIFY(good.logHas("sigterm"));
    QCOMPARE(testsupport::childProcessCount(), 0);

    FakeCodex hung;
    hung.setScenario(QJsonObject {{"ignoreSigterm", true}, {"methods", QJsonObject {{"account/rateLimits/read", QJsonObject {{"never", true}}}}}});
    const auto error = errorOf([&] { hung.client(1).fetchUsageBlocking(); });
    QVERIFY(error);
    QCOMPARE(error->errorCode(), QStringLiteral("TIMEOUT"));
    QVERIFY(hung.logHas("sigterm"));
    QVERIFY(!hung.logHas("exit"));
}

void CodexClientTest::cancelledFetchEndsAtOnce()
{
    FakeCodex fake;
    fake.setScenario(QJsonObject {{"ignoreSigterm", true}, {"methods", QJsonObject {{"account/rateLimits/read", QJsonObject {{"never", true}}}}}});
    VirtualScheduler scheduler;
    CancelToken cancel;
    std::optional<Result<ProviderUsage>> result;
    QElapsedTimer t;
    t.start();
    fake.client(20).fetchUsage(scheduler, cancel, [&](Result<ProviderUsage> r) { result = std::move(r); });
    QVERIFY(fake.waitForRequest(2));
    cancel.cancel();
    QVERIFY(scheduler.waitUntil([&] { return result.has_value(); }, 10'000));
    QVERIFY(result->errorAs<CancellationError>());
    QVERIFY2(t.elapsed() < 10'000, "the cancelled fetch waited for its deadline");
    QVERIFY(!fake.logHas("sigterm")); // killed at once, no grace

    // Cancelled before it starts: no program at all.
    FakeCodex unused;
    unused.setMethods(QJsonObject {});
    CancelToken early;
    early.cancel();
    QVERIFY_THROWS_EXCEPTION(CancellationError, unused.client().fetchUsageBlocking(early));
    QVERIFY(unused.log().isEmpty());
}

void CodexClientTest::findsExecutable()
{
    for (const QString& fixed : paths::codexProgramCandidates(QStringLiteral("/nonexistent-home"))) {
        if (QFileInfo(fixed).isExecutable())
            QSKIP("a codex program is installed on this machine");
    }
    QTemporaryDir dir;
    const QString home = dir.filePath("home");
    const QString a = dir.filePath("a"), b = dir.filePath("b");
    const auto makeProgram = [](const QString& path, bool executable) {
        QVERIFY(testsupport::writeFile(path, "#!/bin/sh\n"));
        QFile(path).setPermissions(executable ? QFileDevice::ReadOwner | QFileDevice::ExeOwner : QFileDevice::ReadOwner);
    };
    makeProgram(a + "/codex", false);
    makeProgram(b + "/codex", true);
    const ProcessEnvironment env {{"PATH", "::" + a + ":" + b + ":"}};
    QCOMPARE(CodexUsageClient::findExecutable(home, env), std::optional<QString>(b + "/codex"));
    QCOMPARE(CodexUsageClient::findExecutable(home, ProcessEnvironment {}), std::nullopt);

    makeProgram(home + "/.local/bin/codex", true);
    QCOMPARE(CodexUsageClient::findExecutable(home, env), std::optional<QString>(home + "/.local/bin/codex"));
}

void CodexClientTest::missingAndUnstartableProgram()
{
    CodexUsageClient missing;
    missing.executableOverride = QStringLiteral("/nonexistent/codex");
    QVERIFY_THROWS_EXCEPTION(ForeignError, missing.fetchUsageBlocking());

    for (const QString& fixed : paths::codexProgramCandidates(QDir::homePath())) {
        if (QFileInfo(fixed).isExecutable())
            QSKIP("a codex program is installed on this machine");
    }
    QTemporaryDir empty;
    const QByteArray savedPath = qgetenv("PATH"), savedHome = qgetenv("HOME");
    qputenv("PATH", empty.path().toLocal8Bit());
    qputenv("HOME", empty.path().toLocal8Bit());
    const auto error = errorOf([] { CodexUsageClient().fetchUsageBlocking(); });
    qputenv("PATH", savedPath);
    qputenv("HOME", savedHome);
    QVERIFY(error);
    QCOMPARE(error->errorCode(), QStringLiteral("CLI_NOT_FOUND"));
    QCOMPARE(error->message(), QStringLiteral("Codex CLI не найден. Установите Codex и выполните codex login."));
}

void CodexClientTest::spendsOnceAndRereads()
{
    FakeCodex fake;
    fake.setMethods(QJsonObject {
        {"account/rateLimits/read", QJsonArray {answer(exhausted()), answer(recovered())}},
        {"account/rateLimitResetCredit/consume", answer(QJsonObject {{"outcome", "reset"}})},
    });
    const CodexResetResult result = fake.client().consumeResetCreditBlocking(kAttempt, false);
    QCOMPARE(result.outcome, CodexResetOutcome::reset);
    QVERIFY(result.usage);
    QCOMPARE(result.usage->codexOrdinaryUsageAllowed, std::optional<bool>(true));
    QCOMPARE(result.usage->windows.first().usedPercent, 0.0);
    QVERIFY(!result.refreshError);

    const QList<QJsonObject> got = fake.received();
    QCOMPARE(ids(got), (QList<qint64> {1, -1, 2, 5, 6}));
    QCOMPARE(fake.receivedWith("account/rateLimitResetCredit/consume"),
             (QList<QJsonObject> {QJsonObject {{"id", 5}, {"method", "account/rateLimitResetCredit/consume"},
                                               {"params", QJsonObject {{"idempotencyKey", kAttempt.idempotencyKey}}}}}));
    QCOMPARE(got.last(), (QJsonObject {{"id", 6}, {"method", "account/rateLimits/read"}}));
}

void CodexClientTest::rereadFailureBecomesRefreshError_data()
{
    QTest::addColumn<QJsonObject>("reread");
    QTest::addColumn<double>("timeout");
    QTest::addColumn<QString>("refreshError");

    QTest::newRow("no answer") << QJsonObject {{"stderr", "\u001b[33mslow: Bearer secret1\u001b[0m"}, {"never", true}} << 1.0
                               << "account/rateLimits/read: нет ответа за 1 с.\nslow: [redacted]";
    QTest::newRow("server error") << failure(-1, "boom") << 10.0 << "JSON-RPC -1: boom";
    QTest::newRow("sign-in error is not refreshed") << failure(5, "token expired") << 10.0 << "JSON-RPC 5: token expired";
    QTest::newRow("program exits") << QJsonObject {{"stderr", "gone\n"}, {"exit", 1}} << 10.0 << "gone";
    QTest::newRow("another account") << answer(recovered("acc-2")) << 10.0 << "Аккаунт изменился во время обновления лимитов.";
    QTest::newRow("no account") << answer(QJsonObject {{"rateLimits", recovered().value("rateLimits")}}) << 10.0
                                << "Аккаунт изменился во время обновления лимитов.";
    QTest::newRow("undecodable") << answer(QJsonObject {{"rateLimits", QJsonObject {{"primary", QJsonObject {{"usedPercent", 1.5}}}}}}) << 10.0
                                 << "Codex вернул ответ неизвестного формата.";
    QTest::newRow("oversized") << QJsonObject {{"oversize", 2'100'000}} << 10.0 << "Слишком большой ответ Codex на account/rateLimits/read.";
}

void CodexClientTest::rereadFailureBecomesRefreshError()
{
    QFETCH(QJsonObject, reread);
    QFETCH(double, timeout);
    QFETCH(QString, refreshError);

    FakeCodex fake;
    fake.setMethods(QJsonObject {
        {"account/rateLimits/read", QJsonArray {answer(exhausted()), reread}},
        {"account/rateLimitResetCredit/consume", answer(QJsonObject {{"outcome", "reset"}})},
    });
    const CodexResetResult result = fake.client(timeout).consumeResetCreditBlocking(kAttempt, false);
    QCOMPARE(result.outcome, CodexResetOutcome::reset);
    QVERIFY(!result.usage);
    QCOMPARE(result.refreshError, std::optional<QString>(refreshError));
    QCOMPARE(fake.receivedWith("account/rateLimitResetCredit/consume").size(), 1);
}

void CodexClientTest::cancelledRereadKeepsOutcome()
{
    FakeCodex fake;
    fake.setMethods(QJsonObject {
        {"account/rateLimits/read", QJsonArray {answer(exhausted()), QJsonObject {{"never", true}}}},
        {"account/rateLimitResetCredit/consume", answer(QJsonObject {{"outcome", "alreadyRedeemed"}})},
    });
    VirtualScheduler scheduler;
    CancelToken cancel;
    std::optional<Result<CodexResetResult>> result;
    fake.client(20).consumeResetCredit(scheduler, kAttempt, true, cancel, [&](Result<CodexResetResult> r) { result = std::move(r); });
    QVERIFY(fake.waitForRequest(6));
    cancel.cancel();
    QVERIFY(scheduler.waitUntil([&] { return result.has_value(); }, 10'000));
    QVERIFY(result->ok());
    QCOMPARE(result->value().outcome, CodexResetOutcome::alreadyRedeemed);
    QVERIFY(!result->value().usage);
    QVERIFY(result->value().refreshError);
}

void CodexClientTest::nothingSentWhenNotEligible_data()
{
    QTest::addColumn<QJsonObject>("limits");
    QTest::addColumn<CodexResetOutcome>("outcome");

    QTest::newRow("no credit left") << exhausted("acc-1", 0) << CodexResetOutcome::noCredit;
    QJsonObject noCredits = exhausted();
    noCredits.remove("rateLimitResetCredits");
    QTest::newRow("no credits reported") << noCredits << CodexResetOutcome::noCredit;
    QJsonObject allowed = exhausted();
    allowed.insert("ordinaryUsageAllowed", true);
    QTest::newRow("limits already back") << allowed << CodexResetOutcome::nothingToReset;
}

void CodexClientTest::nothingSentWhenNotEligible()
{
    QFETCH(QJsonObject, limits);
    QFETCH(CodexResetOutcome, outcome);
    FakeCodex fake;
    fake.setMethods(QJsonObject {
        {"account/rateLimits/read", answer(limits)},
        {"account/rateLimitResetCredit/consume", answer(QJsonObject {{"outcome", "reset"}})},
    });
    const CodexResetResult result = fake.client().consumeResetCreditBlocking(kAttempt, false);
    QCOMPARE(result.outcome, outcome);
    QVERIFY(result.usage);
    QCOMPARE(*result.usage, CodexUsageClient::makeUsage(json::serialize(QJsonObject {{"result", limits}}), *result.usage->updatedAt));
    QVERIFY(!result.refreshError);
    QVERIFY(fake.receivedWith("account/rateLimitResetCredit/consume").isEmpty());
}

void CodexClientTest::retrySpendsEvenWhenNotEligible()
{
    FakeCodex fake;
    fake.setMethods(QJsonObject {
        {"account/rateLimits/read", answer(recovered())},
        {"account/rateLimitResetCredit/consume", answer(QJsonObject {{"outcome", "alreadyRedeemed"}})},
    });
    const CodexResetResult result = fake.client().consumeResetCreditBlocking(kAttempt, true);
    QCOMPARE(result.outcome, CodexResetOutcome::alreadyRedeemed);
    QVERIFY(result.usage);
    const auto spends = fake.receivedWith("account/rateLimitResetCredit/consume");
    QCOMPARE(spends.size(), 1);
    QCOMPARE(spends.first().value("params").toObject().value("idempotencyKey").toString(), kAttempt.idempotencyKey);
}

void CodexClientTest::spendRefusedForAnotherAccount_data()
{
    QTest::addColumn<QJsonObject>("limits");
    QTest::addColumn<QString>("accountID");
    QTest::addColumn<QString>("key");
    QTest::newRow("other account") << exhausted("acc-2") << "acc-1" << "key";
    QJsonObject anonymous = exhausted();
    anonymous.remove("accountId");
    QTest::newRow("no account reported") << anonymous << "acc-1" << "key";
    QTest::newRow("empty account id") << exhausted("") << "" << "key";
    QTest::newRow("empty key") << exhausted() << "acc-1" << "";
}

void CodexClientTest::spendRefusedForAnotherAccount()
{
    QFETCH(QJsonObject, limits);
    QFETCH(QString, accountID);
    QFETCH(QString, key);
    FakeCodex fake;
    fake.setMethods(QJsonObject {
        {"account/rateLimits/read", answer(limits)},
        {"account/rateLimitResetCredit/consume", answer(QJsonObject {{"outcome", "reset"}})},
    });
    const auto error = errorOf([&] { fake.client().consumeResetCreditBlocking(CodexResetAttempt {accountID, key}, true); });
    QVERIFY(error);
    QCOMPARE(error->errorCode(), QStringLiteral("INVALID_RESPONSE"));
    QCOMPARE(error->message(), QStringLiteral("Аккаунт Codex изменился. Сброс не отправлен. Обновите данные и подтвердите заново."));
    QVERIFY(fake.receivedWith("account/rateLimitResetCredit/consume").isEmpty());
}

void CodexClientTest::spendReplyFailures()
{
    // An error object in the spend's reply is thrown; so is an outcome that does not decode.
    FakeCodex refused;
    refused.setMethods(QJsonObject {
        {"account/rateLimits/read", answer(exhausted())},
        {"account/rateLimitResetCredit/consume", failure(-32602, "no such credit")},
    });
    const auto error = errorOf([&] { refused.client().consumeResetCreditBlocking(kAttempt, false); });
    QVERIFY(error);
    QCOMPARE(error->errorCode(), QStringLiteral("JSON_RPC_-32602"));
    QCOMPARE(error->message(), QStringLiteral("JSON-RPC -32602: no such credit"));

    FakeCodex unknown;
    unknown.setMethods(QJsonObject {
        {"account/rateLimits/read", answer(exhausted())},
        {"account/rateLimitResetCredit/consume", answer(QJsonObject {{"outcome", "expired"}})},
    });
    QVERIFY_THROWS_EXCEPTION(json::DecodeError, unknown.client().consumeResetCreditBlocking(kAttempt, false));
    QCOMPARE(ids(unknown.received()), (QList<qint64> {1, -1, 2, 5}));
}

void CodexClientTest::programDiesAfterSpendRequest()
{
    FakeCodex fake;
    fake.setMethods(QJsonObject {
        {"account/rateLimits/read", answer(exhausted())},
        {"account/rateLimitResetCredit/consume", QJsonObject {{"exit", 1}}},
    });
    const auto error = errorOf([&] { fake.client().consumeResetCreditBlocking(kAttempt, false); });
    QVERIFY(error);
    QCOMPARE(error->errorCode(), QStringLiteral("CODEX_EXIT_1"));
    QCOMPARE(error->message(), QStringLiteral("codex app-server завершился до ответа на account/rateLimitResetCredit/consume."));
    const auto spends = fake.receivedWith("account/rateLimitResetCredit/consume");
    QCOMPARE(spends.size(), 1);
    QCOMPARE(spends.first().value("params").toObject().value("idempotencyKey").toString(), kAttempt.idempotencyKey);
}

void CodexClientTest::asyncConsumeAndEncodedPayload()
{
    FakeCodex fake;
    fake.setMethods(QJsonObject {
        {"account/rateLimits/read", QJsonArray {answer(exhausted()), failure(-1, "later")}},
        {"account/rateLimitResetCredit/consume", answer(QJsonObject {{"outcome", "reset"}})},
    });
    VirtualScheduler scheduler;
    std::optional<Result<CodexResetResult>> result;
    bool calledInline = true;
    fake.client().consumeResetCredit(scheduler, kAttempt, false, CancelToken(), [&](Result<CodexResetResult> r) { result = std::move(r); });
    calledInline = result.has_value();
    QVERIFY(!calledInline);
    QVERIFY(scheduler.waitUntil([&] { return result.has_value(); }, 10'000));
    QCOMPARE(result->value(), (CodexResetResult {CodexResetOutcome::reset, std::nullopt, QStringLiteral("JSON-RPC -1: later")}));

    // The exchange's encoded form of the same run.
    FakeCodex again;
    again.setMethods(QJsonObject {
        {"account/rateLimits/read", QJsonArray {answer(exhausted()), failure(-1, "later")}},
        {"account/rateLimitResetCredit/consume", answer(QJsonObject {{"outcome", "reset"}})},
    });
    QCOMPARE(again.client().runExchange(kAttempt, false), QByteArray(R"({"outcome":"reset","refreshError":"JSON-RPC -1: later"})"));
}

QTEST_GUILESS_MAIN(CodexClientTest)
#include "test_codex_client.moc"
