// Drives 1,000 stores through 100 refresh cycles each on virtual time, with
// fetches that answer on the next turn of the loop, and prints the time per
// refresh and the peak memory.
#include "accounts/UsageStore.h"
#include "platform/Defaults.h"
#include "platform/Scheduler.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int kStores = 1000;
constexpr int kCycles = 100;
constexpr double kInterval = 300;

long peakKilobytes()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

ProviderUsage answerFor(UsageProvider provider, Timestamp now, long n)
{
    ProviderUsage u = ProviderUsage::placeholder(provider);
    u.isLoading = false;
    u.planName = QStringLiteral("Pro");
    u.updatedAt = now;
    u.windows = {UsageWindow {QStringLiteral("five_hour"), QStringLiteral("5 ч"), double(n % 100), now.adding(3600), 300, now},
                 UsageWindow {QStringLiteral("seven_day"), QStringLiteral("Неделя"), 12.5, now.adding(86400), 10080, now}};
    if (provider == UsageProvider::codex)
        u.codexAccountID = QStringLiteral("acct-%1").arg(n % kStores);
    return u;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    VirtualScheduler scheduler;
    MemoryDefaults defaults;
    const long baseline = peakKilobytes();

    long fetches = 0;
    auto fetchOf = [&](UsageProvider provider) -> FetchOperation {
        return [&, provider](bool, CancelToken, Completion<ProviderUsage> done) {
            const long n = ++fetches;
            ProviderUsage u = answerFor(provider, scheduler.now(), n);
            scheduler.post([done = std::move(done), u = std::move(u)] { done(Result<ProviderUsage>::success(u)); });
        };
    };
    const UsageFetchers fetchers {fetchOf(UsageProvider::codex), fetchOf(UsageProvider::claude),
                                  fetchOf(UsageProvider::copilot), fetchOf(UsageProvider::antigravity)};

    // Codex, Claude Code and Copilot all read every 300 s at the default interval.
    const UsageProvider providers[] = {UsageProvider::codex, UsageProvider::claude, UsageProvider::copilot};
    std::vector<std::unique_ptr<UsageStore>> stores;
    stores.reserve(kStores);
    for (int i = 0; i < kStores; ++i) {
        ProviderProfile profile;
        profile.provider = providers[i % 3];
        profile.configDirectory = QStringLiteral("/home/bench/.tool-%1").arg(i);
        profile.name = QString::number(i);
        profile.isVisible = true;
        stores.push_back(std::make_unique<UsageStore>(profile, AccountScope::personal, fetchers, defaults, scheduler));
    }
    const long afterBuild = peakKilobytes();

    QElapsedTimer timer;
    timer.start();
    for (auto& store : stores)
        store->start(false);
    scheduler.advance(0);
    for (int cycle = 1; cycle < kCycles; ++cycle)
        scheduler.advance(kInterval);
    const qint64 nanos = timer.nsecsElapsed();

    const long expected = long(kStores) * kCycles;
    std::printf("stores: %d, cycles: %d, refreshes: %ld (expected %ld)\n", kStores, kCycles, fetches, expected);
    std::printf("time: %.1f ms total, %.2f us per refresh\n", nanos / 1e6, nanos / 1e3 / double(fetches));
    std::printf("peak memory: %ld KiB (baseline %ld KiB, after building the stores %ld KiB)\n", peakKilobytes(),
                baseline, afterBuild);
    for (auto& store : stores)
        store->stop();
    return fetches == expected ? 0 : 1;
}
