#pragma once

#include "platform/CancelToken.h"
#include "platform/ChildProcess.h"
#include "platform/ProcessEnvironment.h"

#include <QByteArray>
#include <QString>
#include <optional>

// Runs a statusLine command as the tool does: through the shell, the input on
// standard input. Returns what it printed, or none when it did not exit 0.
inline std::optional<QByteArray> runStatusLine(const QString& command, const QByteArray& input,
                                               const ProcessEnvironment& env)
{
    SpawnOptions options;
    options.program = QStringLiteral("/bin/sh");
    options.arguments = {QStringLiteral("-c"), command};
    options.environment = env;
    options.stdinMode = StreamMode::Pipe;
    options.stdoutMode = StreamMode::Pipe;
    ChildProcess child = ChildProcess::start(options);
    child.writeAll(input);
    child.closeStdin();
    const WaitOutcome outcome = child.waitUntil(child.deadlineAfter(30), CancelToken(), nullptr);
    if (outcome.kind != WaitOutcome::Kind::Exited || !outcome.exit.succeeded())
        return std::nullopt;
    return child.output();
}
