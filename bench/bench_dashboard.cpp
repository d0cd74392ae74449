// Applies 1,000 snapshot updates to a dashboard of 8 cards, one store
// answering per update on virtual time, and prints the time per update (the
// store's change, the one coalesced re-render and, separately, a paint) and
// whether any card widget was built again.
#include "accounts/ProfileDiscovery.h"
#include "accounts/UsageAccounts.h"
#include "panel/DashboardView.h"
#include "platform/Defaults.h"
#include "platform/Scheduler.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kCards = 8;
constexpr int kUpdates = 1000;
constexpr int kPaintEvery = 10;

class QuietMonitor final : public ConnectivityMonitor {
public:
    void start(Handler onUpdate) override { onUpdate(true); }
    void cancel() override {}
};

ProviderUsage answerFor(UsageProvider provider, Timestamp now, long n)
{
    ProviderUsage u = ProviderUsage::placeholder(provider);
    u.isLoading = false;
    u.planName = QStringLiteral("Pro");
    u.updatedAt = now;
    u.windows = {UsageWindow {QStringLiteral("five_hour"), QStringLiteral("5 ч"), double(n % 100), now.adding(3600), 300, now},
                 UsageWindow {QStringLiteral("seven_day"), QStringLiteral("Неделя"), 12.5, now.adding(86400), 10080, now}};
    return u;
}

double mean(const std::vector<double>& values)
{
    double sum = 0;
    for (double v : values)
        sum += v;
    return values.empty() ? 0 : sum / double(values.size());
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir home;
    VirtualScheduler scheduler;
    MemoryDefaults defaults;

    const UsageProvider providers[] = {UsageProvider::claude, UsageProvider::codex, UsageProvider::copilot,
                                       UsageProvider::antigravity};
    QList<ProviderProfile> profiles;
    for (int i = 0; i < kCards; ++i) {
        const QString folder = home.filePath(QStringLiteral("profile-%1").arg(i));
        QDir().mkpath(folder);
        profiles << ProviderProfile {providers[i % 4], folder, QStringLiteral("Профиль %1").arg(i + 1), true, {}, {}};
    }
    defaults.setData(UsageAccounts::kProfilesKey, ProfileDiscovery::encodeProfileList(profiles));

    long fetches = 0;
    UsageAccounts::Operations ops;
    ops.makeStore = [&](const ProviderProfile& profile) {
        FetchOperation fetch = [&, provider = profile.provider](bool, CancelToken, Completion<ProviderUsage> done) {
            const ProviderUsage u = answerFor(provider, scheduler.now(), ++fetches);
            scheduler.post([done, u] { done(Result<ProviderUsage>::success(u)); });
        };
        return std::make_unique<UsageStore>(profile, AccountScope::personal, UsageFetchers {fetch, fetch, fetch, fetch},
                                            defaults, scheduler, [] { return std::make_unique<QuietMonitor>(); });
    };
    ops.connectProfile = [](const ProviderProfile&, CancelToken, Completion<Unit>) {}; // never answers
    ops.copilotAccounts = [&](const QString&, Completion<QList<CopilotUsageClient::Account>> done) {
        scheduler.post([done] { done(Result<QList<CopilotUsageClient::Account>>::success({})); });
    };
    ops.makeWatcher = [](const QString&, StatusLineWatcher::Handler) { return std::unique_ptr<StatusLineWatcher>(); };
    UsageAccounts accounts(defaults, home.path(), ProcessEnvironment {}, scheduler, AppDistributionChannel::direct,
                           ops);
    accounts.start();
    scheduler.advance(0);

    DashboardView dashboard(accounts, {});
    dashboard.resize(300, 570);
    dashboard.show();
    QCoreApplication::processEvents();
    const QList<ProviderProfile> visible = accounts.visibleProfilesByProvider();
    std::vector<QWidget*> cards;
    for (const ProviderProfile& p : visible)
        cards.push_back(dashboard.card(p.id()));
    const int builtBefore = dashboard.cardsBuilt();

    QImage canvas(dashboard.size(), QImage::Format_ARGB32_Premultiplied);
    std::vector<double> updates, paints;
    QElapsedTimer total;
    total.start();
    for (int i = 0; i < kUpdates; ++i) {
        QElapsedTimer t;
        t.start();
        accounts.refresh(visible.at(i % kCards), true);
        scheduler.advance(0);                 // the fetch answers, the store changes
        QCoreApplication::processEvents();   // the one coalesced re-render
        updates.push_back(t.nsecsElapsed() / 1e6);
        if (i % kPaintEvery == 0) {
            QElapsedTimer p;
            p.start();
            canvas.fill(Qt::transparent);
            dashboard.render(&canvas);
            paints.push_back(p.nsecsElapsed() / 1e6);
        }
    }
    const double totalMs = total.nsecsElapsed() / 1e6;

    bool same = dashboard.cardsBuilt() == builtBefore;
    for (int i = 0; i < kCards; ++i)
        same = same && dashboard.card(visible.at(i).id()) == cards[std::size_t(i)];

    std::printf("dashboard of %d cards, %d snapshot updates (%ld fetches)\n", kCards, kUpdates, fetches);
    std::printf("update (store change + re-render): median %.3f ms, mean %.3f ms\n", median(updates), mean(updates));
    std::printf("whole run with the paints: %.1f ms\n", totalMs);
    std::printf("paint of the whole dashboard (every %dth update): median %.3f ms\n", kPaintEvery, median(paints));
    std::printf("card widgets built: %d before, %d after; every card the same widget: %s\n", builtBefore,
                dashboard.cardsBuilt(), same ? "yes" : "no");
    return same ? 0 : 1;
}
