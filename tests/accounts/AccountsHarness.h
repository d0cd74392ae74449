#pragma once

// The registry on a temporary home with scripted stores, Copilot listing,
// collector set-up and watcher, shared by the registry's tests.

#include "HomeFixture.h"

#include "accounts/ConnectivityMonitor.h"
#include "accounts/ProfileDiscovery.h"
#include "accounts/UsageAccounts.h"
#include "platform/CancelToken.h"
#include "platform/Defaults.h"
#include "platform/Scheduler.h"

#include <QTest>
#include <memory>
#include <vector>

using Account = CopilotUsageClient::Account;
using AccountList = QList<Account>;

// A full home: two Claude Code folders, Codex, Copilot and Antigravity.
inline const QStringList kFullHome {"d:.claude",         "f:.claude.json",         "f:.claude-work/settings.json",
                             "f:.codex/auth.json", "f:.copilot/config.json", "f:.gemini/antigravity-cli/settings.json"};

class QuietMonitor final : public ConnectivityMonitor {
public:
    void start(Handler onUpdate) override { onUpdate(true); }
    void cancel() override {}
};

inline Account account(const QString& host, const QString& login)
{
    Account a;
    a.authInfo.host = host;
    a.authInfo.login = login;
    return a;
}

inline QString accountId(const QString& host, const QString& login)
{
    return host + QChar(u'\0') + login;
}

inline UsageWindow window(const QString& id, double percent = 10)
{
    return UsageWindow {id, id, percent, {}, 300, {}};
}

// The registry on a temporary home, with stores whose fetches answer on the
// next turn from `outcomes` (a clean usage by default) and a Copilot listing
// that answers from `copilotAnswers` or, when manual, when the test says.
struct Harness {
    HomeFixture home;
    VirtualScheduler scheduler;
    std::unique_ptr<MemoryDefaults> defaults = std::make_unique<MemoryDefaults>();
    ProcessEnvironment environment;

    QStringList storesMade;      // profile names
    QStringList fetchLog;        // profile name, "!" when forced
    QStringList monitorsStarted; // profile names
    QMap<QString, std::function<Result<ProviderUsage>(const ProviderProfile&)>> outcomes;

    bool copilotManual = false;
    QMap<QString, Result<AccountList>> copilotAnswers;
    struct CopilotCall {
        QString folder;
        Completion<AccountList> done;
    };
    std::vector<CopilotCall> copilotPending;
    QStringList copilotLog;
    int copilotOpen = 0;
    int copilotMostOpen = 0;

    // Collector set-up, logged by profile name. Held calls wait for
    // answerConnect (so tests that do not look at the set-up see none of it);
    // otherwise each answers on the next turn from `connectOutcomes`, success by default.
    bool connectHeld = true;
    QMap<QString, Result<Unit>> connectOutcomes;
    struct ConnectCall {
        QString name;
        CancelToken cancel;
        Completion<Unit> done;
    };
    std::vector<ConnectCall> connectPending;
    QStringList connectLog;

    QStringList watcherFolders;
    int folderEvents = 0; // bursts the watcher of home/bridge handed to the registry
    UsageAccounts::ResetConsumerFactory resetConsumers; // none: the registry's default

    std::unique_ptr<UsageAccounts> accounts;

    ProviderUsage cleanUsage(UsageProvider provider, double age = 0) const
    {
        ProviderUsage u = ProviderUsage::placeholder(provider);
        u.isLoading = false;
        u.windows = {window(QStringLiteral("w"))};
        u.updatedAt = scheduler.now().adding(-age);
        return u;
    }

    UsageAccounts::Operations operations()
    {
        UsageAccounts::Operations ops;
        ops.makeStore = [this](const ProviderProfile& profile) {
            storesMade << profile.name;
            FetchOperation fetch = [this, profile](bool force, CancelToken, Completion<ProviderUsage> done) {
                fetchLog << profile.name + (force ? QStringLiteral("!") : QString());
                const auto outcome = outcomes.value(profile.name);
                Result<ProviderUsage> r = outcome ? outcome(profile) : Result<ProviderUsage>::success(cleanUsage(profile.provider));
                scheduler.post([done, r] { done(r); });
            };
            return std::make_unique<UsageStore>(profile, AccountScope::personal,
                                                UsageFetchers {fetch, fetch, fetch, fetch}, *defaults, scheduler,
                                                [this, profile] {
                                                    monitorsStarted << profile.name;
                                                    return std::make_unique<QuietMonitor>();
                                                });
        };
        ops.copilotAccounts = [this](const QString& folder, Completion<AccountList> done) {
            copilotLog << home.shorten(folder);
            copilotMostOpen = std::max(copilotMostOpen, ++copilotOpen);
            if (copilotManual) {
                copilotPending.push_back({folder, done});
                return;
            }
            const Result<AccountList> r = copilotAnswers.value(folder, Result<AccountList>::success({}));
            scheduler.post([this, done, r] {
                --copilotOpen;
                done(r);
            });
        };
        ops.connectProfile = [this](const ProviderProfile& profile, CancelToken cancel, Completion<Unit> done) {
            connectLog << profile.name;
            if (connectHeld) {
                connectPending.push_back({profile.name, cancel, done});
                return;
            }
            const Result<Unit> r = connectOutcomes.value(profile.name, Result<Unit>::success({}));
            scheduler.post([done, r] { done(r); });
        };
        ops.makeResetConsumer = resetConsumers;
        ops.makeWatcher = [this](const QString& folder, StatusLineWatcher::Handler changed) {
            watcherFolders << folder;
            return StatusLineWatcher::create(home.path("bridge"), [this, changed] {
                ++folderEvents;
                changed();
            });
        };
        return ops;
    }

    UsageAccounts& make(AppDistributionChannel channel = AppDistributionChannel::direct)
    {
        return make(operations(), channel);
    }
    // The registry with `ops` (usually operations() with a member replaced).
    UsageAccounts& make(UsageAccounts::Operations ops, AppDistributionChannel channel = AppDistributionChannel::direct)
    {
        accounts.reset();
        accounts = std::make_unique<UsageAccounts>(*defaults, home.home(), environment, scheduler, channel, std::move(ops));
        return *accounts;
    }

    // What a restarted process finds: the defaults as written, a new registry.
    UsageAccounts& restart()
    {
        accounts.reset();
        defaults->flush();
        defaults = defaults->restarted();
        return make();
    }

    void answerCopilot(const Result<AccountList>& r)
    {
        QVERIFY(!copilotPending.empty());
        CopilotCall call = copilotPending.front();
        copilotPending.erase(copilotPending.begin());
        scheduler.post([this, call, r] {
            --copilotOpen;
            call.done(r);
        });
        scheduler.drainPosted();
    }

    // Answers the oldest held set-up call and runs what follows.
    void answerConnect(const Result<Unit>& r)
    {
        QVERIFY(!connectPending.empty());
        ConnectCall call = connectPending.front();
        connectPending.erase(connectPending.begin());
        scheduler.post([call, r] { call.done(r); });
        scheduler.drainPosted();
    }

    void saveList(const QList<ProviderProfile>& profiles)
    {
        defaults->setData(UsageAccounts::kProfilesKey, ProfileDiscovery::encodeProfileList(profiles));
    }
    QByteArray saved() const { return defaults->data(UsageAccounts::kProfilesKey).value_or(QByteArray()); }

    ProviderProfile profile(UsageProvider provider, const QString& relative, const QString& name, bool visible) const
    {
        return ProviderProfile {provider, home.path(relative), name, visible, {}, {}};
    }

    ProviderProfile named(const QString& name) const
    {
        for (const ProviderProfile& p : accounts->profiles()) {
            if (p.name == name)
                return p;
        }
        qFatal("no profile named %s", qPrintable(name));
    }
    UsageStore* storeOf(const QString& name) const { return accounts->stores().value(named(name).id()); }

    void settle() { scheduler.advance(0); }
};

