#pragma once

#include "EdgePanelController.h"
#include "EdgePanelPresenting.h"

#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <memory>

class CoalescedCall;
class PanelDisplaySettings;
class UsageAccounts;

// Keeps one edge panel on each screen the display settings name as a target:
// makes a panel for a screen that became one, closes the panel of a screen that
// stopped being one, lays out the panels it keeps, and does it again whenever
// the targets change (once per turn of the event loop). Main thread only.
class EdgePanelCoordinator final : public QObject {
    Q_OBJECT
public:
    using PanelFactory = std::function<std::unique_ptr<EdgePanelPresenting>(const QString& displayId)>;

    // Nothing is shown until `show`. `displays` must outlive the coordinator.
    EdgePanelCoordinator(PanelDisplaySettings& displays, PanelFactory makePanel, QObject* parent = nullptr);
    ~EdgePanelCoordinator() override;

    void show();
    // Brings the panels in line with the targets.
    void sync();
    // Closes every panel.
    void hide();

    bool isShown() const { return m_isShown; }
    bool isObservationArmed() const { return m_observationArmed; }
    // The live panels by display id.
    const std::map<QString, std::unique_ptr<EdgePanelPresenting>>& panels() const { return m_panels; }
    EdgePanelPresenting* panel(const QString& displayId) const;

    // The application's panel for `displayId`: a controller with animations whose
    // visible frame is that display's, looked up when asked (none once it is gone),
    // on that display's screen. Of `content` only the root view, its actions and
    // the selection cue are taken.
    static std::unique_ptr<EdgePanelController> makeDefaultPanel(const QString& displayId, UsageAccounts& store,
                                                                 PanelDisplaySettings& displays,
                                                                 const EdgePanelController::Options& content = {});

private:
    void targetsChanged();

    PanelDisplaySettings& m_displays;
    PanelFactory m_makePanel;
    std::map<QString, std::unique_ptr<EdgePanelPresenting>> m_panels;
    bool m_isShown = false;
    bool m_observationArmed = false;
    CoalescedCall* m_resync;
};
