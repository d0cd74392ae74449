#include "platform/ChildProcess.h"
#include "platform/StrictJson.h"
#include "providers/codex/CodexMessages.h"
#include "providers/codex/CodexUsageClient.h"

#include <QtTest>

class CodexMessagesTest : public QObject {
    Q_OBJECT
private slots:
    void rateLimitReplyDecodes();
    void rateLimitReplyRejects_data();
    void rateLimitReplyRejects();
    void errorPayloadsDiffer();
    void consumeReply_data();
    void consumeReply();
    void transportPayloadForm();
    void classifyError_data();
    void classifyError();
    void classifyErrorCutsLongMessages();
    void nextLine_data();
    void nextLine();
    void readerErrors();
};

void CodexMessagesTest::rateLimitReplyDecodes()
{
    const CodexEnvelope minimal = CodexEnvelope::decode(
        R"({"id":2,"result":{"rateLimits":{"limitId":"codex","primary":{"usedPercent":40}}}})");
    QVERIFY(minimal.result);
    QVERIFY(!minimal.error);
    const auto& result = *minimal.result;
    QVERIFY(!result.accountId && !result.ordinaryUsageAllowed && !result.rateLimitResetCredits && !result.rateLimitsByLimitId);
    QVERIFY(result.rateLimits && result.rateLimits->primary);
    QCOMPARE(result.rateLimits->primary->usedPercent, 40);
    QVERIFY(!result.rateLimits->primary->windowDurationMins && !result.rateLimits->primary->resetsAt);
    QVERIFY(!result.rateLimits->secondary && !result.rateLimits->planType);

    // An empty map is not an absent one; nulls are absent; unknown members are ignored.
    const CodexEnvelope full = CodexEnvelope::decode(
        R"({"result":{"accountId":"a","ordinaryUsageAllowed":false,"rateLimitsByLimitId":{},"rateLimits":null,)"
        R"("rateLimitResetCredits":{"availableCount":2,"credits":[{"id":"c","resetType":"codex","status":"available","grantedAt":1700000000,"later":1}]},)"
        R"("futureMember":[1,2]}})");
    QVERIFY(full.result->rateLimitsByLimitId);
    QVERIFY(full.result->rateLimitsByLimitId->empty());
    QVERIFY(!full.result->rateLimits);
    QCOMPARE(full.result->rateLimitResetCredits->availableCount, 2);
    QCOMPARE(full.result->rateLimitResetCredits->credits->size(), 1);
    QCOMPARE(full.result->ordinaryUsageAllowed, std::optional<bool>(false));
}

void CodexMessagesTest::rateLimitReplyRejects_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("fractional percent") << QByteArray(R"({"result":{"rateLimits":{"primary":{"usedPercent":12.5}}}})");
    QTest::newRow("percent as string") << QByteArray(R"({"result":{"rateLimits":{"primary":{"usedPercent":"12"}}}})");
    QTest::newRow("percent missing") << QByteArray(R"({"result":{"rateLimits":{"primary":{"windowDurationMins":300}}}})");
    QTest::newRow("optional mistyped") << QByteArray(R"({"result":{"accountId":7,"rateLimits":{}}})");
    QTest::newRow("snapshot not an object") << QByteArray(R"({"result":{"rateLimits":[]}})");
    QTest::newRow("one bad snapshot in the map")
        << QByteArray(R"({"result":{"rateLimitsByLimitId":{"codex":{"primary":{"usedPercent":1}},"x":{"primary":{"usedPercent":true}}}}})");
    QTest::newRow("one bad credit") << QByteArray(R"({"result":{"rateLimitResetCredits":{"availableCount":1,"credits":[{"id":"c"}]}}})");
    QTest::newRow("credits without count") << QByteArray(R"({"result":{"rateLimitResetCredits":{"credits":[]}}})");
    QTest::newRow("error without message") << QByteArray(R"({"error":{"code":1}})");
    QTest::newRow("not json") << QByteArray("hello");
    QTest::newRow("top level array") << QByteArray("[1]");
}

void CodexMessagesTest::rateLimitReplyRejects()
{
    QFETCH(QByteArray, line);
    QVERIFY_THROWS_EXCEPTION(json::DecodeError, CodexEnvelope::decode(line));
}

void CodexMessagesTest::errorPayloadsDiffer()
{
    // Without a code the classifier's envelope rejects the error, the limit reply's keeps it.
    QVERIFY_THROWS_EXCEPTION(json::DecodeError, CodexErrorEnvelope::decode(R"({"error":{"message":"x"}})"));
    QCOMPARE(CodexEnvelope::decode(R"({"error":{"message":"x"}})").error->message, QStringLiteral("x"));
    QVERIFY(!CodexErrorEnvelope::decode(R"({"id":1,"result":{}})").error);
    QVERIFY(!CodexErrorEnvelope::decode(R"({"error":null})").error);
    const auto e = CodexErrorEnvelope::decode(R"({"error":{"code":-32600,"message":"bad"}})").error;
    QCOMPARE(e->code, -32600);
    QCOMPARE(e->message, QStringLiteral("bad"));
}

void CodexMessagesTest::consumeReply_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("outcome"); // empty: the decode fails
    QTest::newRow("reset") << QByteArray(R"({"id":5,"result":{"outcome":"reset"}})") << "reset";
    QTest::newRow("alreadyRedeemed") << QByteArray(R"({"result":{"outcome":"alreadyRedeemed","extra":1}})") << "alreadyRedeemed";
    QTest::newRow("nothingToReset") << QByteArray(R"({"result":{"outcome":"nothingToReset"}})") << "nothingToReset";
    QTest::newRow("noCredit") << QByteArray(R"({"result":{"outcome":"noCredit"}})") << "noCredit";
    QTest::newRow("unknown outcome") << QByteArray(R"({"result":{"outcome":"expired"}})") << "";
    QTest::newRow("snake case") << QByteArray(R"({"result":{"outcome":"already_redeemed"}})") << "";
    QTest::newRow("no outcome") << QByteArray(R"({"result":{}})") << "";
    QTest::newRow("null outcome") << QByteArray(R"({"result":{"outcome":null}})") << "";
    QTest::newRow("no result") << QByteArray(R"({"id":5})") << "";
    QTest::newRow("outcome mistyped") << QByteArray(R"({"result":{"outcome":1}})") << "";
}

void CodexMessagesTest::consumeReply()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, outcome);
    if (outcome.isEmpty()) {
        QVERIFY_THROWS_EXCEPTION(json::DecodeError, CodexConsumeEnvelope::decode(line));
        return;
    }
    QCOMPARE(rawValue(CodexConsumeEnvelope::decode(line).result.outcome), outcome);
}

void CodexMessagesTest::transportPayloadForm()
{
    const CodexResetTransportPayload bare {CodexResetOutcome::noCredit, std::nullopt, std::nullopt};
    QCOMPARE(bare.encode(), QByteArray(R"({"outcome":"noCredit"})"));
    QCOMPARE(CodexResetTransportPayload::decode(bare.encode()), bare);
    QCOMPARE(CodexResetTransportPayload::decode(R"({"outcome":"reset","usage":null,"refreshError":null})"),
             (CodexResetTransportPayload {CodexResetOutcome::reset, std::nullopt, std::nullopt}));

    ProviderUsage usage = ProviderUsage::placeholder(UsageProvider::codex);
    usage.isLoading = false;
    usage.updatedAt = Timestamp::fromSince1970(1'800'000'000);
    usage.codexAccountID = QStringLiteral("acc");
    usage.windows.append(UsageWindow {QStringLiteral("codex-primary"), QStringLiteral("5 часов"), 100, Timestamp::fromSince1970(1'800'000'600), 300, std::nullopt});
    const CodexResetTransportPayload full {CodexResetOutcome::alreadyRedeemed, usage, QStringLiteral("why")};
    const QJsonObject json = full.toJson();
    QCOMPARE(json.value("outcome").toString(), QStringLiteral("alreadyRedeemed"));
    QCOMPARE(json.value("refreshError").toString(), QStringLiteral("why"));
    // Dates inside the usage are seconds since 2001.
    QCOMPARE(json.value("usage").toObject().value("updatedAt").toDouble(), 1'800'000'000.0 - Timestamp::kReferenceSince1970);
    const CodexResetTransportPayload back = CodexResetTransportPayload::decode(full.encode());
    QCOMPARE(back, full);
    QCOMPARE(back.toResult(), (CodexResetResult {CodexResetOutcome::alreadyRedeemed, usage, QStringLiteral("why")}));

    QVERIFY_THROWS_EXCEPTION(json::DecodeError, CodexResetTransportPayload::decode(R"({"usage":null})"));
}

void CodexMessagesTest::classifyError_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("code"); // empty: no error
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("hasRetryAfter");

    QTest::newRow("unauthorized") << QByteArray(R"({"id":2,"error":{"code":-32001,"message":"Unauthorized: sign in again"}})")
                                  << "CODEX_AUTH" << "JSON-RPC -32001: Unauthorized: sign in again" << true;
    QTest::newRow("plain server error") << QByteArray(R"({"id":2,"error":{"code":-1,"message":"server busy"}})")
                                        << "JSON_RPC_-1" << "JSON-RPC -1: server busy" << false;
    QTest::newRow("oauth inside a word") << QByteArray(R"({"error":{"code":5,"message":"OAuth flow broke"}})")
                                         << "CODEX_AUTH" << "JSON-RPC 5: OAuth flow broke" << true;
    QTest::newRow("author") << QByteArray(R"({"error":{"code":5,"message":"the AUTHOR is unknown"}})")
                            << "CODEX_AUTH" << "JSON-RPC 5: the AUTHOR is unknown" << true;
    QTest::newRow("status 401 in the text") << QByteArray(R"({"error":{"code":7,"message":"upstream said 401"}})")
                                            << "CODEX_AUTH" << "JSON-RPC 7: upstream said 401" << true;
    QTest::newRow("expired token") << QByteArray(R"({"error":{"code":7,"message":"Token expired"}})")
                                   << "CODEX_AUTH" << "JSON-RPC 7: Token expired" << true;
    QTest::newRow("log in") << QByteArray(R"({"error":{"code":7,"message":"Please Log In"}})")
                            << "CODEX_AUTH" << "JSON-RPC 7: Please Log In" << true;
    QTest::newRow("code 401 alone does not count") << QByteArray(R"({"error":{"code":401,"message":"denied"}})")
                                                   << "JSON_RPC_401" << "JSON-RPC 401: denied" << false;
    QTest::newRow("redacted key name does not count")
        << QByteArray(R"({"error":{"code":9,"message":"bad access_token=abc123 here"}})")
        << "JSON_RPC_9" << "JSON-RPC 9: bad [redacted] here" << false;
    QTest::newRow("bearer redacted") << QByteArray(R"({"error":{"code":9,"message":"sent Bearer abc.def"}})")
                                     << "JSON_RPC_9" << "JSON-RPC 9: sent [redacted]" << false;
    QTest::newRow("no code") << QByteArray(R"({"error":{"message":"Unauthorized"}})") << "" << "" << false;
    QTest::newRow("code not an integer") << QByteArray(R"({"error":{"code":1.5,"message":"Unauthorized"}})") << "" << "" << false;
    QTest::newRow("message not a string") << QByteArray(R"({"error":{"code":1,"message":7}})") << "" << "" << false;
    QTest::newRow("result only") << QByteArray(R"({"id":2,"result":{}})") << "" << "" << false;
    QTest::newRow("not json") << QByteArray("token expired") << "" << "" << false;
    QTest::newRow("error and result") << QByteArray(R"({"error":{"code":3,"message":"nope"},"result":{}})")
                                      << "JSON_RPC_3" << "JSON-RPC 3: nope" << false;
}

void CodexMessagesTest::classifyError()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, code);
    QFETCH(QString, message);
    QFETCH(bool, hasRetryAfter);

    const auto error = CodexUsageClient::classifyError(line);
    if (code.isEmpty()) {
        QVERIFY(!error);
        return;
    }
    QVERIFY(error);
    QCOMPARE(error->kind(), ProviderClientError::Kind::diagnostic);
    QCOMPARE(error->errorCode(), code);
    QCOMPARE(error->message(), message);
    QVERIFY(error->retryable());
    QCOMPARE(error->retryAfter(), hasRetryAfter ? std::optional<double>(60.0) : std::nullopt);
}

void CodexMessagesTest::classifyErrorCutsLongMessages()
{
    const QString longText(10'000, QLatin1Char('x'));
    const QByteArray line = json::serialize(QJsonObject {
        {"error", QJsonObject {{"code", 12}, {"message", longText}}}});
    const auto error = CodexUsageClient::classifyError(line);
    QVERIFY(error);
    QCOMPARE(error->message(), QStringLiteral("JSON-RPC 12: ") + QString(8192, QLatin1Char('x')));
}

void CodexMessagesTest::nextLine_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<QByteArray>("line"); // empty: none
    QTest::addColumn<QByteArray>("rest");

    QTest::newRow("noise before the answer")
        << QByteArray("{\"method\":\"note\"}\nplain text\n\n{\"id\":2,\"result\":{}}\n")
        << QByteArray("{\"id\":2,\"result\":{}}") << QByteArray();
    QTest::newRow("partial line after the answer stays")
        << QByteArray("{\"id\":2,\"error\":{}}\n{\"id\":3,\"res") << QByteArray("{\"id\":2,\"error\":{}}") << QByteArray("{\"id\":3,\"res");
    QTest::newRow("second answer stays") << QByteArray("{\"id\":2,\"result\":1}\n{\"id\":2,\"result\":2}\n")
                                         << QByteArray("{\"id\":2,\"result\":1}") << QByteArray("{\"id\":2,\"result\":2}\n");
    QTest::newRow("unterminated answer waits") << QByteArray("{\"id\":2,\"result\":{}}") << QByteArray() << QByteArray("{\"id\":2,\"result\":{}}");
    QTest::newRow("carriage return stays in the line") << QByteArray("{\"id\":2,\"result\":{}}\r\n")
                                                       << QByteArray("{\"id\":2,\"result\":{}}\r") << QByteArray();
    QTest::newRow("everything else dropped")
        << QByteArray("{\"id\":\"2\",\"result\":{}}\n{\"id\":1,\"result\":{}}\n[2]\n{\"id\":2.5,\"result\":{}}\n"
                      "{\"id\":2,\"method\":\"ask\",\"params\":{}}\n{\"id\":2,\"method\":\"note\",\"result\":{}}\n{\"id\":2")
        << QByteArray() << QByteArray("{\"id\":2");
    // Answers without a result are still ours, so the call fails at once instead of timing out.
    QTest::newRow("our id without result or error") << QByteArray("{\"id\":2,\"method\":\"ask\"}\n{\"id\":2}\n{\"id\":2,\"result\":{}}\n")
                                                    << QByteArray("{\"id\":2}") << QByteArray("{\"id\":2,\"result\":{}}\n");
    QTest::newRow("our id with something else") << QByteArray("{\"id\":2,\"answer\":{}}\n")
                                                << QByteArray("{\"id\":2,\"answer\":{}}") << QByteArray();
}

void CodexMessagesTest::nextLine()
{
    QFETCH(QByteArray, buffer);
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, rest);
    const auto got = CodexUsageClient::nextLine(buffer, 2);
    QCOMPARE(got.value_or(QByteArray()), line);
    QCOMPARE(got.has_value(), !line.isEmpty());
    QCOMPARE(buffer, rest);
}

void CodexMessagesTest::readerErrors()
{
    // Whole seconds of the timeout; the tail as it stands, colours removed and secrets redacted.
    QCOMPARE(CodexUsageClient::timeoutError(20.9, {}, "account/rateLimits/read").message(),
             QStringLiteral("account/rateLimits/read: нет ответа за 20 с."));
    const auto timedOut = CodexUsageClient::timeoutError(20, "\x1b[1;31mfail\x1b[0m: Bearer abc\n", "initialize");
    QCOMPARE(timedOut.kind(), ProviderClientError::Kind::timedOut);
    QCOMPARE(timedOut.message(), QStringLiteral("initialize: нет ответа за 20 с.\nfail: [redacted]\n"));

    // Invalid UTF-8 becomes U+FFFD; a killed program reports its signal number.
    const auto killed = CodexUsageClient::exitError(ExitStatus {true, 9}, "  bad \xff byte \n", "initialize");
    QCOMPARE(killed.errorCode(), QStringLiteral("CODEX_EXIT_9"));
    QCOMPARE(killed.message(), QStringLiteral("bad \uFFFD byte"));
    QVERIFY(killed.retryable());
    // Only colour codes on standard error count as nothing.
    const auto silent = CodexUsageClient::exitError(ExitStatus {false, 2}, "\x1b[0m\n", "account/read");
    QCOMPARE(silent.message(), QStringLiteral("codex app-server завершился до ответа на account/read."));
    QVERIFY(!silent.retryable());
}

QTEST_GUILESS_MAIN(CodexMessagesTest)
#include "test_codex_messages.moc"
