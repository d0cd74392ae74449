#pragma once

#include "platform/CancelToken.h"
#include "platform/ProcessEnvironment.h"
#include "platform/Result.h"
#include "platform/Scheduler.h"
#include "usage/ProviderClientError.h"
#include "usage/ProviderProfile.h"
#include "usage/UsageProvider.h"

#include <QString>
#include <QStringList>
#include <optional>

// Connects our statusLine collector to a Claude Code or Antigravity profile by
// running the provider's installer script with Node.js. Codex and Copilot need
// nothing. A copyable value: the async form works on a copy.
class CollectorInstaller {
public:
    // How long the script may run before it is ended and the set-up counts as failed.
    static constexpr double kDeadline = 60.0;
    // Between SIGTERM and SIGKILL when the deadline has passed.
    static constexpr double kTerminateGrace = 0.5;

    // `resourcesDirectory` holds the installer scripts; `nodeCandidates` are the
    // Node.js paths to try, in order.
    CollectorInstaller(QString resourcesDirectory, QStringList nodeCandidates, double deadline = kDeadline,
                       double terminateGrace = kTerminateGrace);

    // The application's installer: scripts from defaultResourcesDirectory(),
    // Node.js from the fixed folders for `home`.
    static CollectorInstaller standard(const QString& home);
    // The scripts of the running program (resourcesDirectoryFor its folder).
    static QString defaultResourcesDirectory();
    // The scripts installed beside a program in `programFolder` when they are
    // there, else the source tree's resources (a program run from the build tree).
    static QString resourcesDirectoryFor(const QString& programFolder);

    // File name of the provider's installer script; none for Codex and Copilot.
    static std::optional<QString> scriptName(UsageProvider provider);
    // "<PROVIDER>_SETUP_FAILED" with the hint about settings.json and the backup.
    static ProviderClientError setupFailed(UsageProvider provider);

    // Blocking (run it on a worker). Returns at once for Codex and Copilot.
    // Throws ProviderClientError "SETUP_RESOURCE_MISSING", "NODE_NOT_FOUND" or
    // "<PROVIDER>_SETUP_FAILED" (the script exited with another status than 0,
    // was killed by a signal, or outran the deadline and was ended), the
    // ForeignError of a failed launch, or CancellationError (the script is
    // killed at once). `environment` is the base of the script's environment.
    void install(const ProviderProfile& profile, const ProcessEnvironment& environment,
                 const CancelToken& cancel = {}) const;
    // `install` on the worker pool; `done` runs on the main thread, never inside this call.
    void installAsync(Scheduler& scheduler, const ProviderProfile& profile, const ProcessEnvironment& environment,
                      const CancelToken& cancel, Completion<Unit> done) const;

    const QString& resourcesDirectory() const { return m_resourcesDirectory; }
    const QStringList& nodeCandidates() const { return m_nodeCandidates; }

private:
    // The script's path; throws "SETUP_RESOURCE_MISSING" when it is not there.
    QString requireScript(UsageProvider provider) const;
    void runScript(const ProviderProfile& profile, const QString& script, const ProcessEnvironment& environment,
                   const CancelToken& cancel) const;

    QString m_resourcesDirectory;
    QStringList m_nodeCandidates;
    double m_deadline;
    double m_terminateGrace;
};
