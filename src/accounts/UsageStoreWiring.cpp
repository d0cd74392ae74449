// The stores of the registry: one per profile, wired to the client of its provider.

#include "UsageAccounts.h"

#include "platform/MainThread.h"
#include "platform/Workers.h"
#include "providers/antigravity/AntigravityStatusLineClient.h"
#include "providers/claude/ClaudeUsageClient.h"
#include "providers/codex/CodexUsageClient.h"
#include "providers/copilot/CopilotUsageClient.h"

#include <QPointer>
#include <QSet>
#include <memory>

std::unique_ptr<UsageStore> UsageAccounts::makeDefaultStore(const ProviderProfile& profile, Defaults& defaults,
                                                            const QString& home, const ProcessEnvironment& environment,
                                                            Scheduler& scheduler)
{
    Scheduler* target = &scheduler;
    UsageFetchers fetchers;

    // Codex: "CODEX_HOME" is the profile's folder; 20 s per reply.
    const CodexUsageClient codex = CodexUsageClient::forProfile(profile, environment);
    fetchers.codex = [codex, target](bool, CancelToken cancel, Completion<ProviderUsage> done) {
        codex.fetchUsage(*target, std::move(cancel), std::move(done));
    };

    // Claude Code: one client per store keeps its cache and account between reads.
    auto claude = std::make_shared<ClaudeUsageClient>(profile, home, scheduler, std::nullopt, environment);
    fetchers.claude = [claude, target](bool force, CancelToken cancel, Completion<ProviderUsage> done) {
        claude->fetchUsage(force, target->clock().now(), cancel, std::move(done));
    };

    CopilotLaunch launch = CopilotLaunch::standard();
    launch.environment = environment;
    const CopilotUsageClient copilot(profile, launch);
    fetchers.copilot = [copilot, target](bool, CancelToken cancel, Completion<ProviderUsage> done) {
        copilot.fetchUsage(*target, cancel, std::move(done));
    };

    const AntigravityStatusLineClient antigravity(profile, home, environment);
    fetchers.antigravity = [antigravity, target](bool, CancelToken cancel, Completion<ProviderUsage> done) {
        const Clock* clock = &target->clock();
        runOnWorker<ProviderUsage>(
            *target,
            [antigravity, clock, cancel] {
                cancel.check();
                return antigravity.read(*clock);
            },
            std::move(done));
    };

    return std::make_unique<UsageStore>(profile, AccountScope::personal, std::move(fetchers), defaults, scheduler);
}

void UsageAccounts::syncStores()
{
    ASSERT_MAIN_THREAD();
    QSet<QString> visible;
    for (const ProviderProfile& profile : visibleProfiles())
        visible.insert(profile.id());

    for (const ProviderProfile& profile : std::as_const(m_profiles)) {
        const QString id = profile.id();
        UsageStore* store = m_stores.value(id);
        if (!store) {
            store = m_operations.makeStore(profile).release();
            if (const CodexUsageHandler& handler = m_operations.codexUsageChanged) {
                store->setOnCodexUpdate(handler);
            } else {
                QPointer<CodexResetController> resets(m_resets.get());
                store->setOnCodexUpdate([resets](const ProviderUsage& usage) {
                    if (resets)
                        resets->reconcile(usage);
                });
            }
            m_stores.insert(id, store);
            emit storesChanged();
        }
        if (m_started && visible.contains(id))
            store->start(profile.provider != UsageProvider::antigravity);
        else if (store->isStarted() || store->isRefreshing())
            store->stop(); // an idle store that never ran keeps its loading state

    }
    scheduleSetup();
}

void UsageAccounts::refreshAll(bool force, std::function<void(bool)> done)
{
    ASSERT_MAIN_THREAD();
    const QList<ProviderProfile> visible = visibleProfiles();
    if (visible.isEmpty()) {
        if (done)
            later([done = std::move(done)] { done(true); });
        return;
    }
    struct Join {
        qsizetype remaining;
        bool allClean = true;
        std::function<void(bool)> done;
    };
    auto join = std::make_shared<Join>(Join{visible.size(), true, std::move(done)});
    QPointer<UsageAccounts> self(this);
    for (const ProviderProfile& profile : visible) {
        refresh(profile, force, [self, join](bool clean) {
            join->allClean = join->allClean && clean;
            if (--join->remaining > 0 || !self)
                return;
            if (join->done)
                join->done(join->allClean);
        });
    }
}
