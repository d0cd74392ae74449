#include "EdgePanelCoordinator.h"

#include "PanelDisplaySettings.h"
#include "platform/CoalescedCall.h"
#include "platform/MainThread.h"

#include <QSet>

EdgePanelCoordinator::EdgePanelCoordinator(PanelDisplaySettings& displays, PanelFactory makePanel, QObject* parent)
    : QObject(parent)
    , m_displays(displays)
    , m_makePanel(std::move(makePanel))
    , m_resync(new CoalescedCall(
          [this] {
              m_observationArmed = false;
              sync();
          },
          this))
{
    ASSERT_MAIN_THREAD();
    connect(&m_displays, &PanelDisplaySettings::selectionChanged, this, &EdgePanelCoordinator::targetsChanged);
    connect(&m_displays, &PanelDisplaySettings::connectedDisplaysChanged, this,
            &EdgePanelCoordinator::targetsChanged);
}

EdgePanelCoordinator::~EdgePanelCoordinator() = default;

EdgePanelPresenting* EdgePanelCoordinator::panel(const QString& displayId) const
{
    auto it = m_panels.find(displayId);
    return it == m_panels.end() ? nullptr : it->second.get();
}

void EdgePanelCoordinator::show()
{
    ASSERT_MAIN_THREAD();
    m_isShown = true;
    sync();
}

void EdgePanelCoordinator::sync()
{
    ASSERT_MAIN_THREAD();
    if (!m_isShown)
        return;
    const QList<PanelDisplay> targets = m_displays.targetDisplays();
    QSet<QString> ids;
    for (const PanelDisplay& target : targets)
        ids.insert(target.id);

    QStringList gone;
    for (const auto& entry : m_panels)
        if (!ids.contains(entry.first))
            gone << entry.first;
    for (const QString& id : gone) {
        auto node = m_panels.extract(id);
        node.mapped()->close();
    }

    for (const PanelDisplay& target : targets) {
        if (EdgePanelPresenting* existing = panel(target.id)) {
            existing->updateFrame();
            continue;
        }
        std::unique_ptr<EdgePanelPresenting> made = m_makePanel(target.id);
        EdgePanelPresenting* fresh = made.get();
        m_panels[target.id] = std::move(made);
        fresh->updateFrame();
        fresh->show();
    }

    if (!m_observationArmed)
        m_observationArmed = true;
}

void EdgePanelCoordinator::targetsChanged()
{
    // One re-synchronisation per armed observation, however many fields changed.
    if (m_observationArmed)
        m_resync->request();
}

void EdgePanelCoordinator::hide()
{
    ASSERT_MAIN_THREAD();
    m_isShown = false;
    for (auto& entry : m_panels)
        entry.second->close();
    m_panels.clear();
}

std::unique_ptr<EdgePanelController> EdgePanelCoordinator::makeDefaultPanel(
    const QString& displayId, UsageAccounts& store, PanelDisplaySettings& displays,
    const EdgePanelController::Options& content)
{
    ASSERT_MAIN_THREAD();
    EdgePanelController::Options options;
    options.makeRootView = content.makeRootView;
    options.viewActions = content.viewActions;
    options.playSelection = content.playSelection;
    options.animationsEnabled = true;
    options.visibleFrameProvider = [&displays, displayId]() -> std::optional<QRect> {
        ASSERT_MAIN_THREAD();
        for (const PanelDisplay& display : displays.connectedDisplays())
            if (display.id == displayId)
                return display.visibleFrame;
        return std::nullopt;
    };
    options.screenProvider = [displayId] { return PanelDisplaySettings::screenWithId(displayId); };
    return std::make_unique<EdgePanelController>(store, std::move(options));
}
