#include "ClaudeControlTransport.h"

#include "platform/ChildProcess.h"
#include "platform/Paths.h"
#include "platform/StrictJson.h"
#include "usage/ChildProcessEnvironment.h"
#include "usage/ProviderClientError.h"

#include <QDir>
#include <QJsonObject>

namespace {

ProviderClientError notAnswered()
{
    return ProviderClientError::timedOut(QStringLiteral("Claude Code не ответил вовремя."));
}

ProviderClientError tooLarge()
{
    return ProviderClientError::invalidResponse(QStringLiteral("Слишком большой ответ Claude Code."));
}

} // namespace

const QStringList& ClaudeControlTransport::arguments()
{
    static const QStringList list {
        QStringLiteral("-p"),
        QStringLiteral("--input-format"),
        QStringLiteral("stream-json"),
        QStringLiteral("--output-format"),
        QStringLiteral("stream-json"),
        QStringLiteral("--verbose"),
        QStringLiteral("--setting-sources"),
        QString(),
        QStringLiteral("--settings"),
        QStringLiteral("{\"disableAllHooks\":true}"),
        QStringLiteral("--strict-mcp-config"),
        QStringLiteral("--mcp-config"),
        QStringLiteral("{\"mcpServers\":{}}"),
        QStringLiteral("--tools"),
        QString(),
        QStringLiteral("--no-session-persistence"),
    };
    return list;
}

const QByteArray& ClaudeControlTransport::requestLine()
{
    static const QByteArray line = QByteArrayLiteral(
        "{\"type\":\"control_request\",\"request_id\":\"vl-usage\","
        "\"request\":{\"subtype\":\"get_usage\",\"skip_behaviors\":true}}\n");
    return line;
}

ProcessEnvironment ClaudeControlTransport::childEnvironment(const ProcessEnvironment& base,
                                                            const std::optional<QString>& directory,
                                                            const QString& executablePath)
{
    ProcessEnvironment env = childProcessEnvironment(base, executablePath);
    for (auto it = env.begin(); it != env.end();) {
        const QString& name = it.key();
        if (name.startsWith(QLatin1String("ANTHROPIC_")) || name.startsWith(QLatin1String("CLAUDE_"))
            || name == QLatin1String("CLAUDECODE"))
            it = env.erase(it);
        else
            ++it;
    }
    if (directory)
        env.insert(QStringLiteral("CLAUDE_CONFIG_DIR"), *directory);
    env.insert(QStringLiteral("DISABLE_AUTOUPDATER"), QStringLiteral("1"));
    return env;
}

std::optional<QByteArray> ClaudeControlTransport::answerPayload(const QByteArray& line)
{
    QJsonObject message;
    try {
        const QJsonValue value = json::parse(line);
        if (!value.isObject())
            return std::nullopt;
        message = value.toObject();
    } catch (const json::DecodeError&) {
        return std::nullopt;
    }
    const QJsonValue type = message.value(QStringLiteral("type"));
    const QJsonValue response = message.value(QStringLiteral("response"));
    if (!type.isString() || type.toString() != QLatin1String("control_response") || !response.isObject())
        return std::nullopt;
    const QJsonObject r = response.toObject();
    const QJsonValue id = r.value(QStringLiteral("request_id"));
    if (!id.isString() || id.toString() != kRequestId)
        return std::nullopt;

    const QJsonValue subtype = r.value(QStringLiteral("subtype"));
    const QJsonValue payload = r.value(QStringLiteral("response"));
    if (subtype.isString() && subtype.toString() == QLatin1String("success") && payload.isObject())
        return json::serialize(payload.toObject());

    const QJsonValue error = r.value(QStringLiteral("error"));
    const QString detail = error.isString() ? QStringLiteral(": ") + ProviderClientError::sanitized(error.toString()) : QString();
    throw ProviderClientError::requestFailed(QStringLiteral("Claude Code не выполнил запрос лимитов") + detail
                                             + QStringLiteral(". Если ошибка повторяется, обновите Claude Code."));
}

QByteArray ClaudeControlTransport::run(const CancelToken& cancel) const
{
    QString program;
    if (executable) {
        program = *executable;
    } else if (auto found = firstExecutable(paths::claudeProgramCandidates(QDir::homePath()))) {
        program = *found;
    } else {
        throw ProviderClientError::executableMissing(QStringLiteral("Установите Claude Code и войдите в нужный профиль."));
    }

    SpawnOptions options;
    options.program = program;
    options.arguments = arguments();
    options.environment = childEnvironment(environment, directory, program);
    options.workingDirectory = QDir::tempPath();
    options.stdinMode = StreamMode::Pipe;
    options.stdoutMode = StreamMode::Pipe;
    options.stderrMode = StreamMode::Null;
    options.outputCap = kOutputCap;
    options.terminateGrace = kTerminateGrace;
    // From here on every way out ends the program: the child's destructor sends
    // SIGTERM, waits the grace and kills it, and reaps it in any case.
    ChildProcess child = ChildProcess::start(options);

    child.writeAll(requestLine());
    child.closeStdin();

    const double deadline = child.deadlineAfter(timeout);
    if (!(deadline > child.uptime()))
        throw notAnswered();

    std::optional<QByteArray> payload;
    const WaitOutcome outcome = child.waitUntil(deadline, cancel, [&payload](QByteArray& output) {
        // Each read is held to the cap before any of its lines is taken out.
        if (output.size() >= kOutputCap)
            throw tooLarge();
        while (auto line = ChildProcess::takeLine(output)) {
            if ((payload = answerPayload(*line)))
                return true;
        }
        return false;
    });

    switch (outcome.kind) {
    case WaitOutcome::Kind::Ready:
        child.terminate(kTerminateGrace);
        return *payload;
    case WaitOutcome::Kind::Cancelled:
        throw CancellationError();
    case WaitOutcome::Kind::OutputCapReached:
        throw tooLarge();
    case WaitOutcome::Kind::Exited:
        // Too much output stays too much, whether or not the program is still there.
        if (child.output().size() >= kOutputCap)
            throw tooLarge();
        break;
    case WaitOutcome::Kind::DeadlinePassed:
    case WaitOutcome::Kind::PollError:
    case WaitOutcome::Kind::ReadError:
        break;
    }
    throw notAnswered();
}
