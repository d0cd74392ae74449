#pragma once

#include "platform/ProcessEnvironment.h"

#include <QObject>
#include <functional>
#include <memory>

class Defaults;
class EdgePanelCoordinator;
class EdgePanelPresenting;
class PanelDisplaySettings;
class Scheduler;
class UsageAccounts;
class WakeSource;

// The application's delegate: builds the profile registry and the screen and
// theme settings, starts them in a fixed order at launch, refreshes after a
// wake and tears down at termination. Main thread only.
class AppDelegate final : public QObject {
    Q_OBJECT
public:
    // How the delegate builds what it owns.
    struct Services {
        std::function<std::unique_ptr<UsageAccounts>()> makeStore;
        std::function<std::unique_ptr<PanelDisplaySettings>()> makePanelDisplays;
        // The panel of one screen, for the coordinator.
        std::function<std::unique_ptr<EdgePanelPresenting>(const QString& displayId, UsageAccounts& store,
                                                           PanelDisplaySettings& panelDisplays)>
            makePanel;
        std::function<std::unique_ptr<WakeSource>()> makeWakeSource;
        // The process environment (its "XCTestConfigurationFilePath" stops launch after the panels).
        ProcessEnvironment environment;
    };

    static inline const QString kTestConfigurationVariable = QStringLiteral("XCTestConfigurationFilePath");

    // The application's services: the registry over `defaults`, the home folder,
    // the process environment and `scheduler`; the display settings over
    // `defaults` with the real screens; the application's panels, whose
    // "Настройки" calls `openSettings`; logind's wake.
    static Services standardServices(Defaults& defaults, Scheduler& scheduler, std::function<void()> openSettings);

    // Builds the registry (nothing starts yet), then the display settings
    // (the stored theme is applied, the screens are read).
    explicit AppDelegate(Services services, QObject* parent = nullptr);
    ~AppDelegate() override;

    UsageAccounts& store() const { return *m_store; }
    PanelDisplaySettings& panelDisplays() const { return *m_panelDisplays; }
    // The panels' coordinator, from launch on.
    EdgePanelCoordinator* edgePanelController() const { return m_edgePanelController.get(); }
    bool isObservingWake() const { return m_wake != nullptr; }

    // Shows the panels, then (unless the test variable is set) starts the
    // registry, merges the Copilot accounts and observes the wake.
    void applicationDidFinishLaunching();
    // Stops observing the wake, stops the registry, hides the panels.
    void applicationWillTerminate();
    // Closing the settings window leaves the application running.
    static bool applicationShouldTerminateAfterLastWindowClosed() { return false; }

    // Every visible profile's store refreshes soon.
    void didWake();

private:
    Services m_services;
    std::unique_ptr<UsageAccounts> m_store;
    std::unique_ptr<PanelDisplaySettings> m_panelDisplays;
    std::unique_ptr<EdgePanelCoordinator> m_edgePanelController;
    std::unique_ptr<WakeSource> m_wake;
};
