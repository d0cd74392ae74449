#pragma once

// The application's edge panels over the X server's screens, for a test home
// with two visible profiles.

#include "X11Tools.h"
#include "accounts/AccountsHarness.h"
#include "panel/Motion.h"
#include "platform/Defaults.h"
#include "windows/EdgePanelCoordinator.h"
#include "windows/PanelDisplaySettings.h"

#include <QGuiApplication>
#include <QTest>

namespace x11test {

// What every test on the X server starts with: the xcb platform, and frames
// that move at once (their animation is tested offscreen).
inline bool prepare()
{
    motion::setReduceMotion(true);
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

struct PanelDesktop {
    Harness h;
    MemoryDefaults defaults;
    bool unplugged = false; // hides the second screen from the screen list
    std::unique_ptr<PanelDisplaySettings> settings;
    std::unique_ptr<EdgePanelCoordinator> coordinator;

    explicit PanelDesktop(const QString& selection = PanelDisplaySettings::kPrimary,
                          EdgePanelController::RootViewFactory makeRootView = {})
        : defaults(QVariantMap {{PanelDisplaySettings::kSelectionKey, selection}})
    {
        h.saveList({h.profile(UsageProvider::claude, ".claude", "Claude", true),
                    h.profile(UsageProvider::codex, ".codex", "Codex", true)});
        h.make();
        settings = std::make_unique<PanelDisplaySettings>(
            defaults,
            [this] {
                QList<PanelDisplay> displays = PanelDisplaySettings::currentScreens();
                if (unplugged && displays.size() > 1)
                    displays.removeAt(1);
                return displays;
            },
            [](Appearance::Forced) {});
        EdgePanelController::Options content;
        content.makeRootView = std::move(makeRootView); // empty: the application's root view
        content.playSelection = [] {};
        coordinator = std::make_unique<EdgePanelCoordinator>(*settings, [this, content](const QString& id) {
            return EdgePanelCoordinator::makeDefaultPanel(id, *h.accounts, *settings, content);
        });
    }
    ~PanelDesktop() { coordinator->hide(); }

    EdgePanelController* panel(const QString& id) const
    {
        return dynamic_cast<EdgePanelController*>(coordinator->panel(id));
    }
    // The one panel there is.
    EdgePanelController& onlyPanel() const
    {
        return dynamic_cast<EdgePanelController&>(*coordinator->panels().begin()->second);
    }
};

} // namespace x11test
