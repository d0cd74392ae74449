#pragma once

#include "accounts/ConnectivityMonitor.h"
#include "platform/CancelToken.h"
#include "platform/Result.h"
#include "platform/Scheduler.h"
#include "providers/codex/CodexResetModels.h"
#include "usage/ProviderProfile.h"
#include "usage/ProviderUsage.h"
#include "usage/UsageProvider.h"

#include <QObject>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

class Defaults;

// Reads one provider's usage. `force` asks the client to bypass its own cache.
// The operation completes through `done` on the main thread, never inside the
// call itself; it should end its work early when the token is cancelled (its
// result is discarded then anyway).
using FetchOperation = std::function<void(bool force, CancelToken cancel, Completion<ProviderUsage> done)>;

// The four fetch operations of a store, one per provider.
struct UsageFetchers {
    FetchOperation codex;
    FetchOperation claude;
    FetchOperation copilot;
    FetchOperation antigravity;

    const FetchOperation& operator[](UsageProvider provider) const;
};

// The current usage of one profile (or, without a profile, of the older
// single-account scheme) and the loop that keeps it fresh: per provider at
// most one fetch in flight and at most one scheduled refresh. Main thread only.
class UsageStore final : public QObject {
    Q_OBJECT
    Q_PROPERTY(ProviderUsage codex READ codex NOTIFY codexChanged)
    Q_PROPERTY(ProviderUsage claude READ claude NOTIFY claudeChanged)
    Q_PROPERTY(ProviderUsage copilot READ copilot NOTIFY copilotChanged)
    Q_PROPERTY(ProviderUsage antigravity READ antigravity NOTIFY antigravityChanged)
    Q_PROPERTY(bool isRefreshing READ isRefreshing NOTIFY isRefreshingChanged)
    Q_PROPERTY(bool hasNetwork READ hasNetwork NOTIFY hasNetworkChanged)
    Q_PROPERTY(bool resetInProgress READ resetInProgress NOTIFY resetInProgressChanged)
    Q_PROPERTY(int postResetRefreshes READ postResetRefreshes NOTIFY postResetRefreshesChanged)

public:
    using RefreshCompletion = std::function<void(bool clean)>;
    using CodexUpdateHandler = std::function<void(const ProviderUsage&)>;

    // A store for `profile` serves exactly its provider; a store without a
    // profile serves Codex and Claude Code and keys its snapshots by `accountScope`.
    // `defaults` and `scheduler` must outlive the store. Without a monitor
    // factory the store follows the system's network reachability.
    // The Codex usage starts as the restored Codex snapshot when there is one.
    UsageStore(std::optional<ProviderProfile> profile, AccountScope accountScope, UsageFetchers fetchers,
               Defaults& defaults, Scheduler& scheduler, ConnectivityMonitorFactory makeMonitor = {},
               QObject* parent = nullptr);
    ~UsageStore() override;

    const ProviderUsage& codex() const { return usage(UsageProvider::codex); }
    const ProviderUsage& claude() const { return usage(UsageProvider::claude); }
    const ProviderUsage& copilot() const { return usage(UsageProvider::copilot); }
    const ProviderUsage& antigravity() const { return usage(UsageProvider::antigravity); }
    const ProviderUsage& usage(UsageProvider provider) const { return m_usage[std::size_t(provider)]; }

    bool isRefreshing() const { return m_isRefreshing; }
    bool hasNetwork() const { return m_hasNetwork; }
    bool resetInProgress() const { return m_resetInProgress; }
    int postResetRefreshes() const { return m_postResetRefreshes; }

    // Called with every Codex usage the store sets, changed or not.
    void setOnCodexUpdate(CodexUpdateHandler handler) { m_onCodexUpdate = std::move(handler); }

    const std::optional<ProviderProfile>& profile() const { return m_profile; }
    AccountScope accountScope() const { return m_accountScope; }
    bool isStarted() const { return m_started; }
    const std::vector<UsageProvider>& servedProviders() const { return m_served; }
    bool serves(UsageProvider provider) const;

    // The "refreshInterval" default in seconds; 300 when missing, not positive or not finite.
    double refreshInterval() const;

    // Starts the loop: an unforced refresh of every served provider at once.
    // Does nothing when already started.
    void start(bool followConnectivity);
    // Stops the loop, cancels every scheduled refresh and every fetch in flight
    // (their waiters get false) and clears the loading flags.
    void stop();

    // Reads the provider unless a fetch is in flight, which it joins instead
    // (a forced call then leaves one forced follow-up). `done` gets true for a
    // clean read; it is always called later on the main thread, never inside
    // this call (false, without a fetch, during a reset or for a provider not served).
    void refresh(UsageProvider provider, bool force, RefreshCompletion done = {});
    // A forced refresh of every served provider in 1 s (wake, network back).
    void refreshAllSoon();

    // The Codex reset hand-shake: begin suspends every refresh and cancels the
    // fetches in flight; apply records the result of the store whose credit
    // was spent; end resumes the other stores.
    void beginCodexReset();
    void applyCodexResetResult(const std::optional<CodexResetResult>& result);
    void endCodexReset();

    // "usageSnapshot.v3.<profile id>.<provider>", or without a profile
    // "usageSnapshot.v2.<scope>.<provider>".
    QString snapshotKey(UsageProvider provider) const;
    // The stored snapshot of `provider`, prepared to be shown while loading;
    // none when absent, undecodable or of another provider.
    std::optional<ProviderUsage> restoreSnapshots(UsageProvider provider) const;

    static inline const QString kRefreshIntervalKey = QStringLiteral("refreshInterval");
    static constexpr double kDefaultRefreshInterval = 300;

signals:
    void codexChanged();
    void claudeChanged();
    void copilotChanged();
    void antigravityChanged();
    void isRefreshingChanged();
    void hasNetworkChanged();
    void resetInProgressChanged();
    void postResetRefreshesChanged();

private:
    struct InFlight {
        std::uint64_t id = 0;
        CancelToken token;
        std::vector<RefreshCompletion> waiters;
    };

    void scheduleRefresh(UsageProvider provider, bool force, double delaySeconds);
    void cancelScheduled(UsageProvider provider);
    void cancelAllScheduled();
    void cancelAllInFlight();
    void launchFetch(UsageProvider provider, std::uint64_t fetchId, bool force);
    void fetchFinished(UsageProvider provider, std::uint64_t fetchId, Result<ProviderUsage> result);
    bool recordResult(UsageProvider provider, Result<ProviderUsage> result);
    bool recordFailure(UsageProvider provider, std::exception_ptr error);
    void scheduleAfterFetch(UsageProvider provider, bool clean);
    bool showsSpentReset(const ProviderUsage& usage) const;
    void saveCodexSnapshot(const ProviderUsage& usage);
    void startConnectivityMonitor();
    void networkUpdate(bool reachable);
    void complete(RefreshCompletion done, bool clean);

    // Writes the usage into its provider's field; Codex also reaches onCodexUpdate.
    void setUsage(const ProviderUsage& usage);
    // Writes without calling onCodexUpdate.
    void assignUsage(const ProviderUsage& usage);
    // Ends the provider's loading state (without calling onCodexUpdate).
    void clearLoading(UsageProvider provider);
    void setIsRefreshing(bool value);
    void setHasNetwork(bool value);
    void setResetInProgress(bool value);
    void setPostResetRefreshes(int value);

    // Indexed by provider, in case order.
    std::array<ProviderUsage, kAllUsageProviders.size()> m_usage;
    bool m_isRefreshing = false;
    bool m_hasNetwork = true;
    CodexUpdateHandler m_onCodexUpdate;
    bool m_resetInProgress = false;
    int m_postResetRefreshes = 0;

    const UsageFetchers m_fetchers;
    Defaults& m_defaults;
    Scheduler& m_scheduler;
    const AccountScope m_accountScope;
    const std::optional<ProviderProfile> m_profile;
    const std::vector<UsageProvider> m_served;
    ConnectivityMonitorFactory m_makeMonitor;

    std::map<UsageProvider, Scheduler::TaskId> m_scheduled;
    std::map<UsageProvider, InFlight> m_inFlight;
    std::set<UsageProvider> m_forcedAfterRequest;
    bool m_started = false;
    std::uint64_t m_nextFetchId = 1;
    std::unique_ptr<ConnectivityMonitor> m_monitor;
    // Set while a fetch operation is being called, so a completion that comes
    // back inside that call is deferred to the next turn.
    bool m_launching = false;
};
