#include "accounts/CollectorInstaller.h"

#include "BuildInfo.h"

#include "platform/ChildProcess.h"
#include "platform/ForeignError.h"
#include "platform/Paths.h"
#include "platform/Workers.h"
#include "usage/ChildProcessEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const QString kFailedMessage = QStringLiteral(
    "Автоподключение не завершено. Проверьте settings.json и резервную копию vantorel в папке профиля. "
    "Изменённая вручную команда не перезаписывается.");

} // namespace

CollectorInstaller::CollectorInstaller(QString resourcesDirectory, QStringList nodeCandidates, double deadline,
                                       double terminateGrace)
    : m_resourcesDirectory(std::move(resourcesDirectory))
    , m_nodeCandidates(std::move(nodeCandidates))
    , m_deadline(deadline)
    , m_terminateGrace(terminateGrace)
{
}

CollectorInstaller CollectorInstaller::standard(const QString& home)
{
    return CollectorInstaller(defaultResourcesDirectory(), paths::nodeProgramCandidates(home));
}

QString CollectorInstaller::defaultResourcesDirectory()
{
    return resourcesDirectoryFor(QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString());
}

QString CollectorInstaller::resourcesDirectoryFor(const QString& programFolder)
{
    if (!programFolder.isEmpty()) {
        const QString installed = paths::besideProgram(programFolder, QString::fromUtf8(buildinfo::kDataFromProgram));
        if (QFileInfo(QDir(installed).filePath(*scriptName(UsageProvider::claude))).isFile())
            return installed;
    }
    return QStringLiteral(VANTOREL_RESOURCES_DIR);
}

std::optional<QString> CollectorInstaller::scriptName(UsageProvider provider)
{
    switch (provider) {
    case UsageProvider::claude:
        return QStringLiteral("install-claude-statusline.cjs");
    case UsageProvider::antigravity:
        return QStringLiteral("install-antigravity-statusline.cjs");
    case UsageProvider::codex:
    case UsageProvider::copilot:
        break;
    }
    return std::nullopt;
}

ProviderClientError CollectorInstaller::setupFailed(UsageProvider provider)
{
    return ProviderClientError::diagnostic(rawValue(provider).toUpper() + QStringLiteral("_SETUP_FAILED"), kFailedMessage,
                                           false);
}

QString CollectorInstaller::requireScript(UsageProvider provider) const
{
    const std::optional<QString> name = scriptName(provider);
    const QString path = name ? QDir(m_resourcesDirectory).filePath(*name) : QString();
    if (path.isEmpty() || m_resourcesDirectory.isEmpty() || !QFileInfo(path).isFile())
        throw ProviderClientError::diagnostic(QStringLiteral("SETUP_RESOURCE_MISSING"),
                                              QStringLiteral("Сборщик отсутствует в приложении."), false);
    return path;
}

void CollectorInstaller::install(const ProviderProfile& profile, const ProcessEnvironment& environment,
                                 const CancelToken& cancel) const
{
    if (!usesStatusLine(profile.provider))
        return;
    runScript(profile, requireScript(profile.provider), environment, cancel);
}

void CollectorInstaller::installAsync(Scheduler& scheduler, const ProviderProfile& profile,
                                      const ProcessEnvironment& environment, const CancelToken& cancel,
                                      Completion<Unit> done) const
{
    runOnWorker<Unit>(
        scheduler,
        [self = *this, profile, environment, cancel] {
            self.install(profile, environment, cancel);
            return Unit {};
        },
        std::move(done));
}

void CollectorInstaller::runScript(const ProviderProfile& profile, const QString& script,
                                   const ProcessEnvironment& environment, const CancelToken& cancel) const
{
    const std::optional<QString> node = firstExecutable(m_nodeCandidates);
    if (!node)
        throw ProviderClientError::diagnostic(QStringLiteral("NODE_NOT_FOUND"),
                                              QStringLiteral("Для локального сборщика требуется Node.js."), false);
    cancel.check();

    SpawnOptions options;
    options.program = *node;
    options.arguments = {script, QStringLiteral("--config-dir"), profile.configDirectory, QStringLiteral("--node"), *node};
    options.environment = childProcessEnvironment(environment, *node);
    // Nothing goes in and nothing is read back.
    options.stdinMode = StreamMode::Null;
    options.stdoutMode = StreamMode::Null;
    options.stderrMode = StreamMode::Null;
    options.terminateGrace = m_terminateGrace;

    ChildProcess child = ChildProcess::start(options);
    const double deadline = std::isfinite(m_deadline) ? child.deadlineAfter(std::max(0.0, m_deadline))
                                                      : std::numeric_limits<double>::infinity();
    const WaitOutcome outcome = child.waitUntil(deadline, cancel, nullptr);
    switch (outcome.kind) {
    case WaitOutcome::Kind::Exited:
        if (!outcome.exit.succeeded())
            throw setupFailed(profile.provider);
        return;
    case WaitOutcome::Kind::Cancelled:
        child.kill();
        throw CancellationError();
    case WaitOutcome::Kind::DeadlinePassed:
        // A hung script must not hold up the next profiles or outlive the app.
        child.terminate(m_terminateGrace);
        throw setupFailed(profile.provider);
    case WaitOutcome::Kind::PollError:
    case WaitOutcome::Kind::ReadError:
        child.terminate(m_terminateGrace);
        throw ForeignError::posix(outcome.error);
    case WaitOutcome::Kind::Ready:
    case WaitOutcome::Kind::OutputCapReached:
        break; // no predicate and no pipes: neither can happen
    }
    child.terminate(m_terminateGrace);
    throw setupFailed(profile.provider);
}
