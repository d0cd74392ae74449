#include "app/AppDelegate.h"

#include "windows/EdgePanelCoordinator.h"
#include "windows/PanelDisplaySettings.h"

#include "accounts/UsageAccounts.h"
#include "platform/Defaults.h"
#include "platform/MainThread.h"
#include "platform/Scheduler.h"
#include "platform/WakeSource.h"

#include <QDir>

AppDelegate::Services AppDelegate::standardServices(Defaults& defaults, Scheduler& scheduler,
                                                    std::function<void()> openSettings)
{
    Services services;
    services.environment = systemEnvironment();
    Defaults* storeDefaults = &defaults;
    Scheduler* storeScheduler = &scheduler;
    services.makeStore = [storeDefaults, storeScheduler, environment = services.environment] {
        return std::make_unique<UsageAccounts>(*storeDefaults, QDir::homePath(), environment, *storeScheduler,
                                               AppDistributionChannel::direct);
    };
    services.makePanelDisplays = [storeDefaults] { return std::make_unique<PanelDisplaySettings>(*storeDefaults); };
    services.makePanel = [openSettings](const QString& displayId, UsageAccounts& store, PanelDisplaySettings& displays) {
        EdgePanelController::Options content;
        content.viewActions.openSettings = openSettings;
        return EdgePanelCoordinator::makeDefaultPanel(displayId, store, displays, content);
    };
    services.makeWakeSource = [] { return std::make_unique<LogindWakeSource>(); };
    return services;
}

AppDelegate::AppDelegate(Services services, QObject* parent)
    : QObject(parent),
      m_services(std::move(services)),
      m_store(m_services.makeStore()),
      m_panelDisplays(m_services.makePanelDisplays())
{
    ASSERT_MAIN_THREAD();
}

AppDelegate::~AppDelegate()
{
    ASSERT_MAIN_THREAD();
}

void AppDelegate::applicationDidFinishLaunching()
{
    ASSERT_MAIN_THREAD();
    m_edgePanelController = std::make_unique<EdgePanelCoordinator>(
        *m_panelDisplays, [this](const QString& displayId) {
            return m_services.makePanel(displayId, *m_store, *m_panelDisplays);
        });
    // The panels come first: every profile still shows its loading state.
    m_edgePanelController->show();
    if (m_services.environment.contains(kTestConfigurationVariable))
        return;
    m_store->start();
    m_store->refreshCopilotAccounts();
    m_wake = m_services.makeWakeSource();
    connect(m_wake.get(), &WakeSource::woke, this, &AppDelegate::didWake);
}

void AppDelegate::didWake()
{
    ASSERT_MAIN_THREAD();
    for (const ProviderProfile& profile : m_store->visibleProfiles()) {
        if (UsageStore* store = m_store->stores().value(profile.id()))
            store->refreshAllSoon();
    }
}

void AppDelegate::applicationWillTerminate()
{
    ASSERT_MAIN_THREAD();
    m_wake.reset();
    m_store->stop();
    if (m_edgePanelController)
        m_edgePanelController->hide();
}
