#include "app/AppDelegate.h"

#include "app/EdgePanelCoordinator.h"
#include "app/PanelDisplaySettings.h"

#include "platform/Defaults.h"
#include "platform/MainThread.h"
#include "platform/Scheduler.h"
#include "platform/WakeSource.h"
#include "usage/UsageAccounts.h"

#include <QDir>

namespace {

// One edge panel per chosen screen, each with the application's root view and cue.
class CoordinatedEdgePanels final : public EdgePanels {
public:
    CoordinatedEdgePanels(UsageAccounts& store, PanelDisplaySettings& displays, std::function<void()> openSettings)
        : m_coordinator(displays, [&store, &displays, openSettings](const QString& id) {
            EdgePanelController::Options content;
            content.viewActions.openSettings = openSettings;
            return EdgePanelCoordinator::makeDefaultPanel(id, store, displays, content);
        })
    {
    }
    void show() override { m_coordinator.show(); }
    void hide() override { m_coordinator.hide(); }

private:
    EdgePanelCoordinator m_coordinator;
};

} // namespace

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
    services.makeEdgePanels = [openSettings](UsageAccounts& store, PanelDisplaySettings& displays) {
        return std::make_unique<CoordinatedEdgePanels>(store, displays, openSettings);
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
    m_edgePanels = m_services.makeEdgePanels(*m_store, *m_panelDisplays);
    // The panels come first: every profile still shows its loading state.
    m_edgePanels->show();
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
    if (m_edgePanels)
        m_edgePanels->hide();
}
