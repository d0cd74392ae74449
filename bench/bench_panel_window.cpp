// Time from constructing the edge panel coordinator to its first panel mapped
// on the X server, with eight visible profiles, over several rounds. Needs an
// X server with a window manager; run it as
//   tests/support/xvfb-session.sh build/bench/bench_panel_window
#include "accounts/ProfileDiscovery.h"
#include "accounts/UsageAccounts.h"
#include "platform/Defaults.h"
#include "platform/Scheduler.h"
#include "windows/EdgePanelCoordinator.h"
#include "windows/PanelDisplaySettings.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kProfiles = 8;
constexpr int kRounds = 20;

bool isMapped(const QWidget& window)
{
    return window.isVisible() && window.windowHandle() && window.windowHandle()->isExposed();
}

// Runs the event loop until `done`, or ten seconds have passed.
bool waitFor(const std::function<bool()>& done)
{
    QElapsedTimer limit;
    limit.start();
    QTimer wake;
    wake.start(50);
    while (!done()) {
        if (limit.elapsed() > 10000)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        std::fprintf(stderr, "bench_panel_window needs an X server (run it under tests/support/xvfb-session.sh)\n");
        return 1;
    }

    QTemporaryDir home;
    QList<ProviderProfile> profiles;
    for (int i = 0; i < kProfiles; ++i) {
        const QString folder = home.path() + QStringLiteral("/.codex-%1").arg(i);
        QDir().mkpath(folder);
        profiles << ProviderProfile {UsageProvider::codex, folder, QStringLiteral("Codex %1").arg(i), true, {}, {}};
    }
    MemoryDefaults defaults;
    defaults.setData(UsageAccounts::kProfilesKey, ProfileDiscovery::encodeProfileList(profiles));
    QtScheduler scheduler;
    UsageAccounts accounts(defaults, home.path(), {}, scheduler);
    if (accounts.visibleProfiles().size() != kProfiles) {
        std::fprintf(stderr, "expected %d visible profiles, found %d\n", kProfiles, int(accounts.visibleProfiles().size()));
        return 1;
    }
    PanelDisplaySettings settings(defaults, {}, [](Appearance::Forced) {});

    std::vector<double> millis;
    for (int round = 0; round < kRounds; ++round) {
        EdgePanelController* first = nullptr;
        QElapsedTimer timer;
        timer.start();
        EdgePanelCoordinator coordinator(settings, [&](const QString& id) {
            auto panel = EdgePanelCoordinator::makeDefaultPanel(id, accounts, settings);
            if (!first)
                first = panel.get();
            return panel;
        });
        coordinator.show();
        if (!first || !waitFor([&] { return isMapped(first->panel()); })) {
            std::fprintf(stderr, "the panel was not mapped\n");
            return 1;
        }
        millis.push_back(double(timer.nsecsElapsed()) / 1e6);
        coordinator.hide();
        waitFor([&] { return !first->panel().isVisible(); });
    }

    std::printf("edge panel, %d profiles: construction to first panel mapped\n", kProfiles);
    std::printf("  first round  %.2f ms\n", millis.front());
    std::vector<double> sorted = millis;
    std::sort(sorted.begin(), sorted.end());
    std::printf("  median       %.2f ms over %d rounds (min %.2f, max %.2f)\n", sorted[sorted.size() / 2], kRounds,
                sorted.front(), sorted.back());
    return 0;
}
