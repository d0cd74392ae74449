#include "app/VantorelApp.h"

#include "BuildInfo.h"
#include "app/CrashReportingLibrary.h"
#include "platform/Defaults.h"
#include "platform/Paths.h"

VantorelApp::Setup VantorelApp::standardSetup(const QString& programFolder, const QString& home,
                                              const ProcessEnvironment& environment)
{
    Setup setup;
    setup.info = buildinfo::infoDictionary();
    setup.libraryFolder = paths::besideProgram(programFolder, QString::fromUtf8(buildinfo::kLibrariesFromProgram));
    setup.crashReportsFolder = paths::crashReportsFolder(home, environment);
    return setup;
}

VantorelApp::VantorelApp(Defaults& defaults, const Setup& setup, const std::function<AppDelegate::Services()>& services)
{
    defaults.registerDefaults({{kCrashOnExceptionsKey, true}});
    m_reporter = crashreporting::CrashReporter::startForBuild(setup.info, setup.libraryFolder, setup.crashReportsFolder);
    m_delegate = std::make_unique<AppDelegate>(services());
}

VantorelApp::~VantorelApp() = default;
