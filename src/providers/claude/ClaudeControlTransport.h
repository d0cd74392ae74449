#pragma once

#include "platform/CancelToken.h"
#include "platform/ProcessEnvironment.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

// Asks the `claude` program for the usage limits of one configuration folder: one
// "get_usage" control request over stream-JSON, one matching "control_response" back.
struct ClaudeControlTransport {
    std::optional<QString> directory;   // CLAUDE_CONFIG_DIR; none: the program's default folder
    std::optional<QString> executable;  // program path; none: the first executable candidate
    ProcessEnvironment environment;     // base environment
    double timeout = 20;                // seconds for the answer, from the moment the request is written

    // Blocking: starts the program, writes the request, reads until the answer, ends
    // the program and returns the answer's payload as compact JSON. Throws
    // ProviderClientError (executableMissing, timedOut, invalidResponse, requestFailed),
    // the ForeignError of starting the program or writing its input, or
    // CancellationError when `cancel` is set (the program is ended first).
    QByteArray run(const CancelToken& cancel = CancelToken()) const;

    // The program's arguments, in order.
    static const QStringList& arguments();
    // The request line, line feed included (107 bytes).
    static const QByteArray& requestLine();
    // The program's environment: the shared child environment without ANTHROPIC_*,
    // CLAUDE_* and CLAUDECODE, with CLAUDE_CONFIG_DIR = `directory` when set and
    // DISABLE_AUTOUPDATER=1.
    static ProcessEnvironment childEnvironment(const ProcessEnvironment& base, const std::optional<QString>& directory,
                                               const QString& executablePath);
    // The payload of `line` when it is the answer to our request; none for any other line.
    // Throws requestFailed when it is the answer but not a success with an object payload.
    static std::optional<QByteArray> answerPayload(const QByteArray& line);

    static inline const QString kRequestId = QStringLiteral("vl-usage");
    static constexpr qsizetype kOutputCap = 2'000'000;  // unconsumed bytes that fail the read
    static constexpr double kTerminateGrace = 0.5;
};
