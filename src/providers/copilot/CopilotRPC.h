#pragma once

#include "platform/CancelToken.h"
#include "platform/ChildProcess.h"
#include "platform/Clock.h"
#include "platform/ProcessEnvironment.h"
#include "providers/copilot/CopilotFraming.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

// Where the copilot program is looked for and what it starts from.
struct CopilotLaunch {
    QStringList programCandidates;   // the first executable one is started
    ProcessEnvironment environment;  // before the child-process rules are applied
    QString workingDirectory;        // the user's temporary folder
    const Clock* clock = nullptr;    // deadlines and the moment of a reading; none: the system clock

    // The fixed program folders, this process's environment and temporary folder.
    static CopilotLaunch standard();
    const Clock& effectiveClock() const;
};

// One running `copilot --headless --stdio` program spoken to with
// Content-Length framed JSON-RPC 2.0. Blocking; one thread at a time.
// Calling order: construct, call one or more times, shutdown once (also
// after a call threw). The destructor still ends a program left running.
class CopilotRPC {
public:
    static constexpr double kCallTimeout = 20.0;
    static constexpr double kTerminateGrace = 0.5;

    // Finds and starts the program for the Copilot home `copilotHome`.
    // Throws ProviderClientError::executableMissing when no candidate is
    // executable, the launch failure (ForeignError) unchanged, and
    // CancellationError when `cancel` is already set.
    CopilotRPC(const QString& copilotHome, const CopilotLaunch& launch = CopilotLaunch::standard(),
               CancelToken cancel = {});

    // Sends one request with the next id and waits up to 20 s for the reply
    // with that id; returns its "result" as compact JSON. A cancelled token
    // kills the program at once and throws CancellationError.
    QByteArray call(const QString& method, const QMap<QString, QString>& params = {});

    // Closes the program's input, asks it to terminate, kills it after 0.5 s,
    // reaps it and closes the pipes. Never throws.
    void shutdown();

    // The program's environment for `copilotHome`, built from `base` for the program at `program`.
    static ProcessEnvironment environmentFor(const ProcessEnvironment& base, const QString& program,
                                             const QString& copilotHome);

    // The "result" of a reply body when it answers `id`; none for other messages.
    // Throws json::DecodeError for a body that is no JSON object or array, the
    // reply's error object as a diagnostic, invalidResponse for a reply without a
    // result and json::EncodeError for a result that is no object or array.
    static std::optional<QByteArray> examine(const QByteArray& body, qint64 id);

private:

    ChildProcess m_process;
    CopilotFrameBuffer m_pending;
    qint64 m_nextID = 0;
    CancelToken m_cancel;
};
