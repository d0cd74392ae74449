// The store of one profile, wired to the client of its provider.

#include "UsageAccounts.h"

#include "platform/Workers.h"
#include "providers/antigravity/AntigravityStatusLineClient.h"
#include "providers/claude/ClaudeUsageClient.h"
#include "providers/codex/CodexUsageClient.h"
#include "providers/copilot/CopilotUsageClient.h"

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
