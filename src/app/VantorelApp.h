#pragma once

#include "app/AppDelegate.h"

#include <QString>
#include <QVariantMap>
#include <functional>
#include <memory>

class Defaults;
class SettingsScene;

namespace crashreporting {
class CrashReporter;
}

// The application: prepares the process (the registered crash default and
// crash reporting), builds the one delegate, and declares the one settings
// window (the scene around the settings form). SIGPIPE is ignored before any
// of this, in main, ahead of the application object and every thread.
class VantorelApp {
public:
    static inline const QString kCrashOnExceptionsKey = QStringLiteral("NSApplicationCrashOnExceptions");

    // What the process set-up reads.
    struct Setup {
        QVariantMap info;            // the build's information dictionary
        QString libraryFolder;       // where the reporting library may be
        QString crashReportsFolder;  // the reporting library's database
    };
    // The installed program's set-up: the build's dictionary, the library folder
    // beside the program, the database in the cache folder of `home`.
    static Setup standardSetup(const QString& programFolder, const QString& home, const ProcessEnvironment& environment);

    // The delegate's services, given the panels' "Настройки" action.
    using ServicesFactory = std::function<AppDelegate::Services(std::function<void()> openSettings)>;

    // In this order: registers "NSApplicationCrashOnExceptions" = true in
    // `defaults`, starts crash reporting when the dictionary has a usable key
    // and the library is there, builds the delegate from `services`, then the
    // settings scene over the delegate's registry and display settings.
    VantorelApp(Defaults& defaults, const Setup& setup, const ServicesFactory& services);
    ~VantorelApp();
    VantorelApp(const VantorelApp&) = delete;
    VantorelApp& operator=(const VantorelApp&) = delete;

    AppDelegate& appDelegate() const { return *m_delegate; }
    SettingsScene& settingsScene() const { return *m_settings; }
    // The panels' "Настройки": fronts the settings window, or opens it.
    void openSettings() const;
    bool isReportingCrashes() const { return m_reporter != nullptr; }

private:
    // Declared first: reporting outlives the delegate's teardown.
    std::unique_ptr<crashreporting::CrashReporter> m_reporter;
    std::unique_ptr<AppDelegate> m_delegate;
    // Declared last: the window goes before the registry it shows.
    std::unique_ptr<SettingsScene> m_settings;
};
