#include "app/VantorelApp.h"

#include "BuildInfo.h"
#include "app/CrashReportingLibrary.h"
#include "platform/Defaults.h"
#include "platform/Paths.h"
#include "settings/SettingsScene.h"

VantorelApp::Setup VantorelApp::standardSetup(const QString& programFolder, const QString& home,
                                              const ProcessEnvironment& environment)
{
    Setup setup;
    setup.info = buildinfo::infoDictionary();
    setup.libraryFolder = paths::besideProgram(programFolder, QString::fromUtf8(buildinfo::kLibrariesFromProgram));
    setup.crashReportsFolder = paths::crashReportsFolder(home, environment);
    return setup;
}

VantorelApp::VantorelApp(Defaults& defaults, const Setup& setup, const ServicesFactory& services)
{
    defaults.registerDefaults({{kCrashOnExceptionsKey, true}});
    m_reporter = crashreporting::CrashReporter::startForBuild(setup.info, setup.libraryFolder, setup.crashReportsFolder);
    m_delegate = std::make_unique<AppDelegate>(services([this] { openSettings(); }));
    m_settings = std::make_unique<SettingsScene>(m_delegate->store(), m_delegate->panelDisplays(), defaults);
}

void VantorelApp::openSettings() const
{
    m_settings->openSettings();
}

VantorelApp::~VantorelApp() = default;
