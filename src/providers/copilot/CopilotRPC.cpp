#include "CopilotRPC.h"

#include "platform/Paths.h"
#include "platform/StrictJson.h"
#include "usage/ChildProcessEnvironment.h"
#include "usage/ProviderClientError.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <limits>

namespace {

const QStringList kArguments {
    QStringLiteral("--headless"), QStringLiteral("--stdio"), QStringLiteral("--no-auto-update"),
    QStringLiteral("--log-level"), QStringLiteral("none"),
};

// Token variables of our own environment never reach the program.
const QStringList kRemovedVariables {
    QStringLiteral("COPILOT_GITHUB_TOKEN"), QStringLiteral("GH_TOKEN"), QStringLiteral("GITHUB_TOKEN"),
    QStringLiteral("COPILOT_SDK_AUTH_TOKEN"), QStringLiteral("NODE_DEBUG"),
};

ChildProcess launch(const QString& copilotHome, const CopilotLaunch& launch, const CancelToken& cancel)
{
    cancel.check();
    const auto program = firstExecutable(launch.programCandidates);
    if (!program)
        throw ProviderClientError::executableMissing(QStringLiteral("Установите GitHub Copilot CLI и выполните copilot login."));
    SpawnOptions options;
    options.program = *program;
    options.arguments = kArguments;
    options.environment = CopilotRPC::environmentFor(launch.environment, *program, copilotHome);
    options.workingDirectory = launch.workingDirectory;
    options.stdinMode = StreamMode::Pipe;
    options.stdoutMode = StreamMode::Pipe;
    options.stderrMode = StreamMode::Pipe;
    // The framing buffer applies the size rules; the layer's own cap never binds.
    options.outputCap = std::numeric_limits<qsizetype>::max();
    options.errorTailLimit = 0; // standard error is read and thrown away
    options.terminateGrace = CopilotRPC::kTerminateGrace;
    options.clock = &launch.effectiveClock();
    return ChildProcess::start(options);
}

// An integral JSON number.
std::optional<qint64> integerOf(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    try {
        return json::toInteger(value);
    } catch (const json::DecodeError&) {
        return std::nullopt;
    }
}

ProviderClientError rpcError(const QJsonObject& error)
{
    const qint64 code = integerOf(error.value(QLatin1String("code"))).value_or(-1);
    const QJsonValue message = error.value(QLatin1String("message"));
    const QString text = message.isString() ? message.toString() : QStringLiteral("Copilot RPC error");
    return ProviderClientError::diagnostic(QStringLiteral("COPILOT_RPC_") + QString::number(code),
                                           ProviderClientError::sanitized(text), code != -32601, 60.0);
}

} // namespace

CopilotLaunch CopilotLaunch::standard()
{
    CopilotLaunch l;
    l.programCandidates = paths::copilotProgramCandidates(QDir::homePath());
    l.environment = systemEnvironment();
    l.workingDirectory = QDir::tempPath();
    return l;
}

const Clock& CopilotLaunch::effectiveClock() const
{
    return clock ? *clock : SystemClock::shared();
}

ProcessEnvironment CopilotRPC::environmentFor(const ProcessEnvironment& base, const QString& program, const QString& copilotHome)
{
    ProcessEnvironment env = childProcessEnvironment(base, program);
    for (const QString& name : kRemovedVariables)
        env.remove(name);
    env.insert(QStringLiteral("COPILOT_HOME"), copilotHome);
    return env;
}

CopilotRPC::CopilotRPC(const QString& copilotHome, const CopilotLaunch& launchOptions, CancelToken cancel)
    : m_process(launch(copilotHome, launchOptions, cancel))
    , m_cancel(std::move(cancel))
{
}

std::optional<QByteArray> CopilotRPC::examine(const QByteArray& body, qint64 id)
{
    const QJsonValue value = json::parse(body);
    if (!value.isObject() && !value.isArray())
        throw json::DecodeError(json::DecodeError::NotJson, QStringLiteral("top-level value is not an object or array"));
    const QJsonObject message = value.toObject();
    if (message.isEmpty() || integerOf(message.value(QLatin1String("id"))) != id)
        return std::nullopt;
    const QJsonValue error = message.value(QLatin1String("error"));
    if (error.isObject())
        throw rpcError(error.toObject());
    if (!message.contains(QLatin1String("result")))
        throw ProviderClientError::invalidResponse(QStringLiteral("Copilot: отсутствует result."));
    const QJsonValue result = message.value(QLatin1String("result"));
    if (result.isObject())
        return json::serialize(result.toObject());
    if (result.isArray())
        return json::serialize(result.toArray());
    throw json::EncodeError(QStringLiteral("Invalid top-level type in JSON write"));
}

QByteArray CopilotRPC::call(const QString& method, const QMap<QString, QString>& params)
{
    const qint64 id = ++m_nextID;
    m_process.writeAll(CopilotFrameBuffer::encodeRequest(id, method, params));
    const double deadline = m_process.deadlineAfter(kCallTimeout);

    std::optional<QByteArray> result;
    // Takes every complete message out of what was read; true once the reply is there.
    const auto consume = [&](QByteArray& output) {
        m_pending.append(output);
        output.clear();
        for (;;) {
            QByteArray body;
            switch (m_pending.take(body)) {
            case CopilotFrameBuffer::Status::BadHeader:
                throw ProviderClientError::invalidResponse(QStringLiteral("Copilot: некорректный заголовок JSON-RPC."));
            case CopilotFrameBuffer::Status::NeedMore:
                if (m_pending.isOverfull())
                    throw ProviderClientError::invalidResponse(QStringLiteral("Copilot: ответ превышает допустимый размер."));
                return false;
            case CopilotFrameBuffer::Status::Message:
                result = examine(body, id);
                if (result)
                    return true;
                break;
            }
        }
    };

    const WaitOutcome outcome = m_process.waitUntil(deadline, m_cancel, consume);
    const auto timedOut = [&] {
        return ProviderClientError::timedOut(QStringLiteral("Copilot: ") + method + QStringLiteral(" не ответил за 20 с."));
    };
    switch (outcome.kind) {
    case WaitOutcome::Kind::Ready:
        return *result;
    case WaitOutcome::Kind::Exited:
        // Both pipes were read to the end. A program that left half a message
        // can send no more: that is the timeout, at once rather than in 20 s.
        if (!m_process.output().isEmpty() && consume(m_process.output()))
            return *result;
        if (!m_pending.isEmpty())
            throw timedOut();
        throw ProviderClientError::diagnostic(
            QStringLiteral("COPILOT_EXIT_") + QString::number(outcome.exit.terminationStatus()),
            QStringLiteral("Copilot CLI завершился до ответа ") + method + QStringLiteral(". Проверьте вход через copilot login."),
            true, 60.0);
    case WaitOutcome::Kind::DeadlinePassed:
        throw timedOut();
    case WaitOutcome::Kind::Cancelled:
        m_process.kill();
        throw CancellationError();
    case WaitOutcome::Kind::OutputCapReached:
        throw ProviderClientError::invalidResponse(QStringLiteral("Copilot: ответ превышает допустимый размер."));
    case WaitOutcome::Kind::PollError:
    case WaitOutcome::Kind::ReadError:
        break;
    }
    throw ProviderClientError::requestFailed(QStringLiteral("Copilot: ошибка чтения канала JSON-RPC."));
}

void CopilotRPC::shutdown()
{
    m_process.terminate(kTerminateGrace);
}
