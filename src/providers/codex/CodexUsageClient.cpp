#include "CodexUsageClient.h"

#include "BuildInfo.h"
#include "platform/ChildProcess.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/StrictJson.h"
#include "platform/Text.h"
#include "platform/Workers.h"
#include "usage/ChildProcessEnvironment.h"
#include "usage/ProviderProfile.h"

#include <QDir>
#include <QJsonDocument>
#include <cerrno>
#include <climits>
#include <cstring>

namespace {

const QString kInitialize = QStringLiteral("initialize");
const QString kInitialized = QStringLiteral("initialized");
const QString kReadLimits = QStringLiteral("account/rateLimits/read");
const QString kReadAccount = QStringLiteral("account/read");
const QString kConsume = QStringLiteral("account/rateLimitResetCredit/consume");

// Request ids: fixed by position in the exchange.
constexpr qint64 kInitializeId = 1;
constexpr qint64 kReadLimitsId = 2;
constexpr qint64 kReadAccountId = 3;
constexpr qint64 kReadLimitsAgainId = 4;
constexpr qint64 kConsumeId = 5;
constexpr qint64 kReadLimitsAfterSpendId = 6;

const QString kAuthCode = QStringLiteral("CODEX_AUTH");

QJsonObject request(qint64 id, const QString& method, std::optional<QJsonObject> params = std::nullopt)
{
    QJsonObject o {{QStringLiteral("id"), id}, {QStringLiteral("method"), method}};
    if (params)
        o.insert(QStringLiteral("params"), *params);
    return o;
}

} // namespace

// One running program and the reads and writes of one exchange.
class CodexUsageClient::Session {
public:
    Session(const CodexUsageClient& client, ChildProcess& child, const CancelToken& cancel)
        : m_client(client), m_child(child), m_cancel(cancel)
    {
    }

    void send(const QJsonObject& message, const QString& method)
    {
        m_cancel.check();
        try {
            m_child.writeAll(json::serialize(message) + '\n');
        } catch (const ForeignError& e) {
            if (e.domain() != ForeignError::kPosixDomain || e.code() != EPIPE)
                throw;
            // The program closed its input, most likely by exiting: report how it ended.
            const WaitOutcome w = m_child.waitUntil(m_child.deadlineAfter(m_client.timeout), m_cancel, nullptr);
            if (w.kind == WaitOutcome::Kind::Exited)
                throw exitError(w.exit, m_child.errorTail(), method);
            if (w.kind == WaitOutcome::Kind::Cancelled)
                throw CancellationError();
            throw;
        }
    }

    // Waits for the line that answers request `id`.
    QByteArray readResponse(qint64 id, const QString& method)
    {
        std::optional<QByteArray> line;
        qsizetype searched = 0; // bytes of the buffer known to hold no line feed
        const auto ready = [&](QByteArray& output) {
            if (output.indexOf('\n', searched) < 0) {
                searched = output.size();
                return false;
            }
            line = nextLine(output, id);
            searched = output.size(); // whatever is left is one unterminated line
            return line.has_value();
        };
        const WaitOutcome w = m_child.waitUntil(m_child.deadlineAfter(m_client.timeout), m_cancel, ready);
        switch (w.kind) {
        case WaitOutcome::Kind::Ready:
            return *line;
        case WaitOutcome::Kind::Exited:
            throw exitError(w.exit, m_child.errorTail(), method);
        case WaitOutcome::Kind::DeadlinePassed:
            throw timeoutError(m_client.timeout, m_child.errorTail(), method);
        case WaitOutcome::Kind::Cancelled:
            throw CancellationError();
        case WaitOutcome::Kind::OutputCapReached:
            throw ProviderClientError::invalidResponse(QStringLiteral("Слишком большой ответ Codex на ") + method + QStringLiteral("."));
        case WaitOutcome::Kind::PollError:
        case WaitOutcome::Kind::ReadError:
            break;
        }
        throw ProviderClientError::diagnostic(QStringLiteral("POSIX ") + QString::number(w.error),
                                              QString::fromLocal8Bit(std::strerror(w.error)), true);
    }

    // Sends a request and returns its reply line.
    QByteArray call(qint64 id, const QString& method, std::optional<QJsonObject> params = std::nullopt)
    {
        send(request(id, method, std::move(params)), method);
        return readResponse(id, method);
    }

    // A call whose error object is thrown.
    QByteArray callChecked(qint64 id, const QString& method, std::optional<QJsonObject> params = std::nullopt)
    {
        QByteArray line = call(id, method, std::move(params));
        if (auto error = classifyError(line))
            throw *error;
        return line;
    }

private:
    const CodexUsageClient& m_client;
    ChildProcess& m_child;
    const CancelToken& m_cancel;
};

CodexUsageClient CodexUsageClient::forProfile(const ProviderProfile& profile)
{
    return forProfile(profile, systemEnvironment());
}

CodexUsageClient CodexUsageClient::forProfile(const ProviderProfile& profile, ProcessEnvironment base)
{
    base.insert(QStringLiteral("CODEX_HOME"), profile.configDirectory);
    CodexUsageClient client;
    client.environmentOverride = std::move(base);
    return client;
}

QJsonObject CodexUsageClient::clientInfo()
{
    static const QJsonObject info {{QStringLiteral("name"), QStringLiteral("vantorel")},
                                   {QStringLiteral("title"), QStringLiteral("Vantorel")},
                                   {QStringLiteral("version"), QString::fromUtf8(buildinfo::kVersion)}};
    return info;
}

std::optional<QString> CodexUsageClient::findExecutable(const QString& home, const ProcessEnvironment& environment)
{
    QStringList candidates = paths::codexProgramCandidates(home);
    const auto path = environment.constFind(QStringLiteral("PATH"));
    if (path != environment.constEnd()) {
        for (const QString& entry : path->split(QLatin1Char(':'), Qt::SkipEmptyParts))
            candidates.append(entry + QStringLiteral("/codex"));
    }
    return firstExecutable(candidates);
}

std::optional<QString> CodexUsageClient::findExecutable()
{
    return findExecutable(QDir::homePath(), systemEnvironment());
}

std::optional<QByteArray> CodexUsageClient::nextLine(QByteArray& buffer, qint64 expectedId)
{
    while (auto line = ChildProcess::takeLine(buffer)) {
        if (line->isEmpty())
            continue;
        const QJsonDocument doc = QJsonDocument::fromJson(*line);
        if (!doc.isObject())
            continue;
        const QJsonObject o = doc.object();
        const QJsonValue id = o.value(QStringLiteral("id"));
        if (!id.isDouble() || id.toInteger(LLONG_MIN) != expectedId || expectedId == LLONG_MIN)
            continue;
        // The program's own requests and notifications carry a method. A line with our
        // id and neither result nor error is still the answer: it fails in the mapping
        // instead of leaving the call to wait out its timeout.
        if (o.contains(QStringLiteral("method")))
            continue;
        return line;
    }
    return std::nullopt;
}

QString CodexUsageClient::errorDetail(const QByteArray& errorTail)
{
    return ProviderClientError::sanitized(text::stripTerminalEscapes(text::lossyUtf8(errorTail)));
}

ProviderClientError CodexUsageClient::exitError(const ExitStatus& status, const QByteArray& errorTail, const QString& method)
{
    const int code = status.terminationStatus();
    QString message = text::trimmed(errorDetail(errorTail));
    if (message.isEmpty())
        message = QStringLiteral("codex app-server завершился до ответа на ") + method + QStringLiteral(".");
    const bool retryable = code != 2 && code != 126 && code != 127;
    return ProviderClientError::diagnostic(QStringLiteral("CODEX_EXIT_") + QString::number(code), message, retryable);
}

ProviderClientError CodexUsageClient::timeoutError(double timeout, const QByteArray& errorTail, const QString& method)
{
    QString message = method + QStringLiteral(": нет ответа за ") + QString::number(static_cast<qint64>(timeout)) + QStringLiteral(" с.");
    const QString detail = errorDetail(errorTail);
    if (!detail.isEmpty())
        message += QLatin1Char('\n') + detail;
    return ProviderClientError::timedOut(message);
}

CodexUsageClient::Outcome CodexUsageClient::run(const std::optional<CodexResetAttempt>& attempt, bool isRetry,
                                                const CancelToken& cancel) const
{
    cancel.check();
    const std::optional<QString> program = executableOverride ? executableOverride : findExecutable();
    if (!program)
        throw ProviderClientError::executableMissing(QStringLiteral("Codex CLI не найден. Установите Codex и выполните codex login."));

    SpawnOptions options;
    options.program = *program;
    options.arguments = argumentsOverride.value_or(QStringList {QStringLiteral("app-server"), QStringLiteral("--stdio")});
    options.environment = childProcessEnvironment(environmentOverride.value_or(systemEnvironment()), *program);
    options.stdinMode = StreamMode::Pipe;
    options.stdoutMode = StreamMode::Pipe;
    options.stderrMode = StreamMode::Pipe;
    options.outputCap = kOutputLimit;
    options.errorTailLimit = kErrorTailLimit;
    options.terminateGrace = kTerminateGrace;

    ChildProcess child = ChildProcess::start(options);
    Session session(*this, child, cancel);
    Outcome outcome;
    try {
        session.callChecked(kInitializeId, kInitialize, QJsonObject {{QStringLiteral("clientInfo"), clientInfo()}});
        session.send(QJsonObject {{QStringLiteral("method"), kInitialized}}, kInitialized);

        QByteArray limits = session.call(kReadLimitsId, kReadLimits);
        if (auto error = classifyError(limits); error && error->code() == kAuthCode) {
            // The sign-in may only need a fresh token: ask for one, then read again.
            session.callChecked(kReadAccountId, kReadAccount, QJsonObject {{QStringLiteral("refreshToken"), true}});
            limits = session.call(kReadLimitsAgainId, kReadLimits);
        }
        // Any other error stays in the line: the mapping throws it.

        if (!attempt) {
            child.terminate(kTerminateGrace);
            outcome.rateLimitLine = std::move(limits);
            return outcome;
        }

        const ProviderUsage before = makeUsage(limits, SystemClock::shared().now());
        if (attempt->accountID.isEmpty() || attempt->idempotencyKey.isEmpty() || before.codexAccountID != attempt->accountID)
            throw ProviderClientError::invalidResponse(
                QStringLiteral("Аккаунт Codex изменился. Сброс не отправлен. Обновите данные и подтвердите заново."));

        if (!isRetry && !before.canOfferCodexReset(SystemClock::shared().now())) {
            const bool noCredit = !before.codexResetCredits || before.codexResetCredits->availableCount <= 0;
            child.terminate(kTerminateGrace);
            outcome.payload = ResetTransportPayload {noCredit ? CodexResetOutcome::noCredit : CodexResetOutcome::nothingToReset, before, std::nullopt};
            return outcome;
        }

        const QByteArray spent = session.callChecked(kConsumeId, kConsume, QJsonObject {{QStringLiteral("idempotencyKey"), attempt->idempotencyKey}});
        ResetTransportPayload payload {Envelope::decode(spent).result.outcome, std::nullopt, std::nullopt};

        // The server has answered the spend: from here on its outcome must reach the caller.
        try {
            ProviderUsage after = makeUsage(session.call(kReadLimitsAfterSpendId, kReadLimits), SystemClock::shared().now());
            if (after.codexAccountID != attempt->accountID)
                throw ProviderClientError::invalidResponse(QStringLiteral("Аккаунт изменился во время обновления лимитов."));
            payload.usage = std::move(after);
        } catch (const CancellationError&) {
            child.kill();
            payload.refreshError = QStringLiteral("Обновление лимитов после сброса отменено.");
        } catch (...) {
            payload.refreshError = ProviderClientError::redactedDescription(std::current_exception());
        }
        child.terminate(kTerminateGrace);
        outcome.payload = std::move(payload);
        return outcome;
    } catch (const CancellationError&) {
        child.kill();
        throw;
    } catch (...) {
        child.terminate(kTerminateGrace);
        throw;
    }
}

QByteArray CodexUsageClient::runExchange(const std::optional<CodexResetAttempt>& attempt, bool isRetry,
                                         const CancelToken& cancel) const
{
    Outcome outcome = run(attempt, isRetry, cancel);
    if (!outcome.payload)
        return outcome.rateLimitLine;
    try {
        return outcome.payload->encode();
    } catch (const json::EncodeError& e) {
        // Never lose the outcome: without the usage that did not encode.
        return ResetTransportPayload {outcome.payload->outcome, std::nullopt, ProviderClientError::sanitized(e.description())}.encode();
    }
}

ProviderUsage CodexUsageClient::fetchUsageBlocking(const CancelToken& cancel) const
{
    const QByteArray line = run(std::nullopt, false, cancel).rateLimitLine;
    return makeUsage(line, SystemClock::shared().now());
}

CodexResetResult CodexUsageClient::consumeResetCreditBlocking(const CodexResetAttempt& attempt, bool isRetry,
                                                              const CancelToken& cancel) const
{
    return run(attempt, isRetry, cancel).payload->toResult();
}

void CodexUsageClient::fetchUsage(Scheduler& scheduler, CancelToken cancel, Completion<ProviderUsage> done) const
{
    runOnWorker<ProviderUsage>(scheduler, [client = *this, cancel] { return client.fetchUsageBlocking(cancel); }, std::move(done));
}

void CodexUsageClient::consumeResetCredit(Scheduler& scheduler, CodexResetAttempt attempt, bool isRetry, CancelToken cancel,
                                          Completion<CodexResetResult> done) const
{
    runOnWorker<CodexResetResult>(
        scheduler,
        [client = *this, attempt = std::move(attempt), isRetry, cancel] {
            return client.consumeResetCreditBlocking(attempt, isRetry, cancel);
        },
        std::move(done));
}
