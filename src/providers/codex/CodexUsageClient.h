#pragma once

#include "platform/CancelToken.h"
#include "platform/ProcessEnvironment.h"
#include "platform/Result.h"
#include "platform/Timestamp.h"
#include "providers/codex/CodexMessages.h"
#include "providers/codex/CodexResetModels.h"
#include "usage/ProviderClientError.h"
#include "usage/ProviderUsage.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>

class ChildProcess;
struct ExitStatus;
class Scheduler;
struct ProviderProfile;

// Reads the rate limits of one Codex profile, and spends one reset credit of its
// account, by running `codex app-server --stdio` and speaking JSON-RPC lines over
// its standard input and output. Every call starts a fresh program, runs one fixed
// sequence of requests, ends the program and returns.
//
// The blocking calls run on a worker thread; the asynchronous ones run them on the
// worker pool and hand the result to the main thread. A cancelled call kills its
// program at once and throws CancellationError (after a spend, see below).
class CodexUsageClient {
public:
    using Envelope = CodexConsumeEnvelope;
    using ResetTransportPayload = CodexResetTransportPayload;

    static constexpr double kDefaultTimeout = 20.0;       // seconds per reply
    static constexpr qsizetype kOutputLimit = 2'000'000;  // unconsumed standard output, bytes
    static constexpr qsizetype kErrorTailLimit = 8192;    // standard error kept, bytes
    static constexpr double kTerminateGrace = 1.0;        // SIGTERM to SIGKILL, seconds

    double timeout = kDefaultTimeout;
    std::optional<QString> executableOverride;              // instead of searching for "codex"
    std::optional<ProcessEnvironment> environmentOverride;  // instead of this process's environment
    std::optional<QStringList> argumentsOverride;           // instead of "app-server", "--stdio"

    // The client of a profile: this process's environment (or `base`) with
    // "CODEX_HOME" set to the profile's folder, 20 s per reply.
    static CodexUsageClient forProfile(const ProviderProfile& profile);
    static CodexUsageClient forProfile(const ProviderProfile& profile, ProcessEnvironment base);

    // Blocking. The usage read from "account/rateLimits/read". Throws
    // ProviderClientError, ForeignError (launch, write) or CancellationError.
    ProviderUsage fetchUsageBlocking(const CancelToken& cancel = CancelToken()) const;
    // Blocking. Spends one credit with the attempt's idempotency key and re-reads
    // the limits. Once the spend request has been answered nothing is thrown: a
    // failed (or cancelled) re-read becomes the result's refreshError.
    CodexResetResult consumeResetCreditBlocking(const CodexResetAttempt& attempt, bool isRetry,
                                                const CancelToken& cancel = CancelToken()) const;
    // Blocking. The whole exchange: without an attempt the raw line of the last
    // rate-limit reply, with one the encoded ResetTransportPayload.
    QByteArray runExchange(const std::optional<CodexResetAttempt>& attempt, bool isRetry,
                           const CancelToken& cancel = CancelToken()) const;

    // Asynchronous: the blocking call on the worker pool, `done` on the main thread.
    void fetchUsage(Scheduler& scheduler, CancelToken cancel, Completion<ProviderUsage> done) const;
    void consumeResetCredit(Scheduler& scheduler, CodexResetAttempt attempt, bool isRetry, CancelToken cancel,
                            Completion<CodexResetResult> done) const;

    // The first executable "codex" among the fixed candidates (in `home`), then
    // every entry of PATH in `environment` (empty entries dropped). Without
    // arguments: the home folder and PATH of this process.
    static std::optional<QString> findExecutable(const QString& home, const ProcessEnvironment& environment);
    static std::optional<QString> findExecutable();

    // Cuts lines from the front of `buffer` until one answers request `expectedId`:
    // a JSON object with that integer "id" and no "method" (the program's own
    // requests and notifications are skipped), with or without a result. Every
    // line examined is removed; an unterminated line stays. None when no line answers.
    static std::optional<QByteArray> nextLine(QByteArray& buffer, qint64 expectedId);

    // The error a reply line carries: "CODEX_AUTH" (retry after 60 s) when the
    // sanitized message speaks of signing in, else "JSON_RPC_" + code. None when
    // the line has no error object with an integer code and a string message.
    static std::optional<ProviderClientError> classifyError(const QByteArray& line);

    // The Codex usage a rate-limit reply line describes, observed at `now`.
    static ProviderUsage makeUsage(const QByteArray& line, Timestamp now);
    // "pro" -> "Pro", "prolite" -> "Pro Lite", ...; unknown ones humanized.
    static QString planDisplayName(const QString& planType);

    // {"name": "vantorel", "title": "Vantorel", "version": the build's version}.
    static QJsonObject clientInfo();

    // Standard error as messages show it: lossy UTF-8, terminal escapes removed,
    // cut and redacted.
    static QString errorDetail(const QByteArray& errorTail);
    // The errors of a reply that did not come.
    static ProviderClientError exitError(const ExitStatus& status, const QByteArray& errorTail, const QString& method);
    static ProviderClientError timeoutError(double timeout, const QByteArray& errorTail, const QString& method);

private:
    class Session;
    struct Outcome {
        QByteArray rateLimitLine;                     // fetch mode
        std::optional<ResetTransportPayload> payload; // consume mode
    };
    Outcome run(const std::optional<CodexResetAttempt>& attempt, bool isRetry, const CancelToken& cancel) const;
};
