#pragma once

#include "platform/CancelToken.h"
#include "platform/ProcessEnvironment.h"
#include "platform/Result.h"
#include "platform/Scheduler.h"
#include "platform/Timestamp.h"
#include "providers/antigravity/AntigravityQuotaGroup.h"
#include "providers/codex/CodexResetController.h"
#include "providers/codex/CodexResetModels.h"
#include "providers/copilot/CopilotUsageClient.h"
#include "usage/ProviderCapabilities.h"
#include "usage/ProviderProfile.h"
#include "usage/ProviderUsage.h"
#include "usage/StatusLineWatcher.h"
#include "usage/UsageProvider.h"
#include "usage/UsageStore.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

class Defaults;

// The one registry of local accounts: the profile list (discovered, saved and
// restored), one UsageStore per profile (only the visible ones run), the Codex
// reset controller, the collector set-up pass, the bridge-folder watcher and
// the operations the panel and the settings window call. Main thread only.
class UsageAccounts final : public QObject, public CodexResetHost {
    Q_OBJECT
    Q_PROPERTY(QList<ProviderProfile> profiles READ profiles NOTIFY profilesChanged)
    Q_PROPERTY(std::optional<QString> discoveryError READ discoveryError NOTIFY discoveryErrorChanged)
    Q_PROPERTY(ConnectionErrors connectionErrors READ connectionErrors NOTIFY connectionErrorsChanged)
    Q_PROPERTY(StoreMap stores READ stores NOTIFY storesChanged)

public:
    using ConnectionErrors = QMap<QString, QString>;   // profile id to redacted text
    using StoreMap = QMap<QString, UsageStore*>;       // profile id to its store (owned here)

    // Builds the store of one profile.
    using StoreFactory = std::function<std::unique_ptr<UsageStore>(const ProviderProfile&)>;
    // Connects a profile's tool to the collector; `done` runs later on the main thread.
    using ConnectOperation = std::function<void(const ProviderProfile&, CancelToken, Completion<Unit> done)>;
    // Lists the accounts signed in within one Copilot folder; `done` runs later on the main thread.
    using CopilotAccountsOperation =
        std::function<void(const QString& folder, Completion<QList<CopilotUsageClient::Account>> done)>;
    // Receives every Codex usage a store sets (the reset controller's reconcile).
    using CodexUsageHandler = std::function<void(const ProviderUsage&)>;
    // Watches the statusLine bridge folder, calling `changed` on the main thread;
    // none when the folder cannot be watched.
    using WatcherFactory =
        std::function<std::unique_ptr<StatusLineWatcher>(const QString& folder, StatusLineWatcher::Handler changed)>;
    // Builds the reset controller's consumer for one spend; `quit` is cancelled
    // when the registry stops or goes, ending a running spend (its attempt stays pending).
    using ResetConsumerFactory = std::function<CodexResetController::Consumer(Scheduler& scheduler, CancelToken quit)>;

    // What the registry runs; an empty member takes the application's default.
    struct Operations {
        StoreFactory makeStore;                     // default: makeDefaultStore
        ConnectOperation connectProfile;            // default: CollectorInstaller with the process environment
        CopilotAccountsOperation copilotAccounts;   // default: CopilotUsageClient::discoverAccounts
                                                    // from the registry's environment, ended by stop
        CodexUsageHandler codexUsageChanged;        // default: the reset controller's reconcile
        WatcherFactory makeWatcher;                 // default: StatusLineWatcher::create
        ResetConsumerFactory makeResetConsumer;     // default: CodexResetController::defaultConsumer
    };

    // A provider this build does not offer.
    class DistributionError : public std::exception {
    public:
        explicit DistributionError(UsageProvider provider);
        UsageProvider provider() const { return m_provider; }
        // "<Codex|Claude|Copilot|Antigravity> недоступен в этой сборке Vantorel."
        QString description() const;
        const char* what() const noexcept override { return m_what.constData(); }
        bool operator==(const DistributionError& other) const { return m_provider == other.m_provider; }

    private:
        UsageProvider m_provider;
        QByteArray m_what;
    };

    // What a Codex reset needs from the registry, gathered for one visible profile.
    struct CodexResetPlan {
        ProviderProfile profile;             // the visible copy
        ProviderUsage usage;                 // usage(profile)
        QList<UsageStore*> codexStores;      // every Codex profile's store, in list order
        QList<UsageStore*> sameAccountStores; // those whose Codex usage has the account id
    };

    static inline const QString kProfilesKey = QStringLiteral("providerProfiles.v1");
    // Bytes of a saved list that could not be read, kept before it is replaced.
    static inline const QString kProfilesBackupKey = QStringLiteral("providerProfiles.v1.backup");
    static inline const QString kSelectedAccountKey = QStringLiteral("selectedAccount");
    static inline const QString kResetRefusedMessage =
        QStringLiteral("Аккаунт больше не отображается. Сброс не отправлен.");
    static constexpr qsizetype kNameLimit = 80;

    // Loads the saved profile list (or seeds one from the home folder on the
    // first run), adds folders found since, saves, and builds one store per
    // profile, none running. `defaults` and `scheduler` must outlive the registry.
    UsageAccounts(Defaults& defaults, const QString& home, ProcessEnvironment environment, Scheduler& scheduler,
                  AppDistributionChannel channel = AppDistributionChannel::direct, Operations operations = {},
                  QObject* parent = nullptr);
    ~UsageAccounts() override;

    // Observed state.
    const QList<ProviderProfile>& profiles() const { return m_profiles; }
    const std::optional<QString>& discoveryError() const { return m_discoveryError; }
    const ConnectionErrors& connectionErrors() const { return m_connectionErrors; }
    const StoreMap& stores() const { return m_stores; }

    // Fixed at construction.
    const QList<UsageProvider>& availableProviders() const { return m_availableProviders; }
    Defaults& defaults() const { return m_defaults; }
    const QString& home() const { return m_home; }
    const ProcessEnvironment& environment() const { return m_environment; }
    // The registry's clock and timers; the views showing it tick on the same time.
    Scheduler& scheduler() const { return m_scheduler; }
    // Saved profiles of providers this build does not offer, written back on every save.
    const QList<ProviderProfile>& retainedProfiles() const { return m_retainedProfiles; }
    bool isStarted() const { return m_started; }
    // The bridge-folder watcher, between start and stop; none when it could not be built.
    const StatusLineWatcher* watcher() const { return m_watcher.get(); }
    // The one Codex reset controller (the reset control's queries and confirmations).
    CodexResetController& resets() const { return *m_resets; }

    // Lifecycle. `start` runs once until `stop`: starts the visible stores and the watcher.
    void start();
    // Stops every store and the set-up pass and drops the watcher; keeps the maps.
    void stop();
    // Merges the accounts of every Copilot folder into the list; `done` runs
    // on the main thread when a merge that began after this call has ended.
    // Two merges never run at once: a call during a merge is served by one
    // follow-up merge.
    void refreshCopilotAccounts(std::function<void()> done = {});

    // Queries.
    QList<ProviderProfile> visibleProfiles() const;
    // Visible profiles regrouped Claude Code, Codex, Copilot, Antigravity, list order within each.
    QList<ProviderProfile> visibleProfilesByProvider() const;
    bool isProfileVisible(const QString& id) const;
    // The profile's usage from its store (a loading placeholder when it has
    // none), as the current copy of the profile shows it.
    ProviderUsage usage(const ProviderProfile& profile) const;
    bool hasConnectionErrors() const;
    bool isRecoveringConnection() const;
    bool isRefreshing() const;
    // The oldest updatedAt of the visible usages; none when there is no visible
    // profile or any of them has an error, is stale or has no date.
    std::optional<Timestamp> lastUpdated() const;
    // Refreshes a visible profile's store; `done` (later, main thread) gets
    // the store's answer, or false for a hidden or unknown profile.
    void refresh(const ProviderProfile& profile, bool force, std::function<void(bool)> done = {});
    // Spends a Codex reset credit for a visible profile through the reset
    // controller; `done` (later, main thread) gets the message for the control,
    // kResetRefusedMessage without spending when the profile is hidden or gone
    // or Codex is not offered.
    void requestCodexReset(const CodexResetController::Confirmation& confirmation, const ProviderProfile& profile,
                           Completion<QString> done);

    // Changes (the settings window).
    void discoverProfiles();
    // Throws DistributionError, or ForeignError (Cocoa 260, no such file) when
    // `folder` is missing or no folder.
    ProviderProfile addProfileFolder(const QString& folder, UsageProvider provider);
    void setVisible(bool visible, const QString& profileID);
    void rename(const QString& profileID, const QString& name);
    void setAntigravityGroupHidden(AntigravityQuotaGroup group, bool hidden, const QString& profileID);
    void retrySetup(const ProviderProfile& profile);

    // The process environment with CODEX_HOME set to the current user's
    // ".codex-umbo" (work) or ".codex-personal" (personal) folder.
    static ProcessEnvironment codexEnvironment(AccountScope scope);

    // The profiles found on this machine for the offered providers (hidden).
    QList<ProviderProfile> scanHomeForProfiles() const;
    // Writes profiles and retained profiles under kProfilesKey, keys sorted.
    void saveProfiles();
    static bool folderPathOrder(const QString& a, const QString& b);

    // Store wiring.
    // A store for `profile` reading through its provider's client; every
    // client starts from `environment` (Codex with CODEX_HOME set to the folder).
    static std::unique_ptr<UsageStore> makeDefaultStore(const ProviderProfile& profile, Defaults& defaults,
                                                        const QString& home, const ProcessEnvironment& environment,
                                                        Scheduler& scheduler);
    // Builds the stores of profiles met for the first time, runs the visible
    // ones when started and stops the others.
    void syncStores();
    // Refreshes every visible profile at once; `done` gets true when all were clean.
    void refreshAll(bool force, std::function<void(bool)> done = {});
    void beginCodexReset(const QList<UsageStore*>& stores) override;
    // Applies `result` to the stores of `stores` that are also in `sameAccount`; ends the reset on the rest.
    void finishCodexReset(const std::optional<CodexResetResult>& result, const QList<UsageStore*>& stores,
                          const QList<UsageStore*>& sameAccount) override;
    // Steps of a reset request before the controller: none (refused, spend
    // nothing; show kResetRefusedMessage) when no visible profile has the id
    // or Codex is not offered.
    std::optional<CodexResetPlan> codexResetPlan(const QString& profileID, const QString& accountID) const;

    // Set-up bookkeeping: the profiles the set-up pass has tried this run.
    const QSet<QString>& setupAttempts() const { return m_setupAttempts; }
    // Whether a set-up pass is running.
    bool isSettingUp() const { return m_connectionTask.has_value(); }

signals:
    void profilesChanged();
    void discoveryErrorChanged();
    void connectionErrorsChanged();
    void storesChanged();

private:
    struct CopilotMerge;
    struct SetupPass;
    struct BridgeRefresh;

    void loadProfiles();
    void setProfiles(QList<ProviderProfile> profiles);
    void setDiscoveryError(std::optional<QString> error);
    void setConnectionErrors(ConnectionErrors errors);
    qsizetype indexOfProfile(const QString& id) const;
    // Runs `work` on a later turn of the main thread, unless the registry is gone by then.
    void later(std::function<void()> work);

    void startCopilotMerge();
    void mergeNextCopilotFolder(const std::shared_ptr<CopilotMerge>& merge);
    void mergeCopilotFolder(const QString& folder, const Result<QList<CopilotUsageClient::Account>>& accounts);
    void finishCopilotMerge(const std::shared_ptr<CopilotMerge>& merge);

    // Starts a collector set-up pass when started, none runs and some profile was not tried yet.
    void scheduleSetup();
    // The pass: tries each profile of the list as it was at the start once per run.
    void connectPendingProfiles(const std::shared_ptr<SetupPass>& pass);
    void finishSetupAttempt(const std::shared_ptr<SetupPass>& pass, const ProviderProfile& profile,
                            const Result<Unit>& outcome);
    void finishSetupPass(const std::shared_ptr<SetupPass>& pass);
    // Something in the statusLine bridge folder changed: refresh the bridge-fed profiles one after another.
    void statusLineFolderChanged();
    void refreshNextBridgeProfile(const std::shared_ptr<BridgeRefresh>& refresh);

    Defaults& m_defaults;
    const QString m_home;
    const ProcessEnvironment m_environment;
    Scheduler& m_scheduler;
    const QList<UsageProvider> m_availableProviders;
    Operations m_operations;

    QList<ProviderProfile> m_profiles;
    QList<ProviderProfile> m_retainedProfiles;
    std::optional<QString> m_discoveryError;
    ConnectionErrors m_connectionErrors;
    StoreMap m_stores;
    bool m_started = false;
    std::unique_ptr<StatusLineWatcher> m_watcher;
    QSet<QString> m_setupAttempts;
    std::optional<CancelToken> m_connectionTask;
    // Cancelled at stop and at destruction, ending a running spend or Copilot
    // listing; a fresh one after each stop.
    CancelToken m_quit;
    std::unique_ptr<CodexResetController> m_resets;

    bool m_copilotMergeRunning = false;
    bool m_copilotMergeRequested = false;
    std::vector<std::function<void()>> m_copilotWaiters;
};
