#include "UsageAccounts.h"

#include "platform/Defaults.h"
#include "platform/ForeignError.h"
#include "platform/MainThread.h"
#include "platform/Paths.h"
#include "platform/StrictJson.h"
#include "platform/Text.h"
#include "usage/CollectorInstaller.h"
#include "usage/ProfileDiscovery.h"
#include "usage/ProviderClientError.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <algorithm>
#include <set>

namespace {

QString distributionWord(UsageProvider provider)
{
    switch (provider) {
    case UsageProvider::codex: return QStringLiteral("Codex");
    case UsageProvider::claude: return QStringLiteral("Claude");
    case UsageProvider::copilot: return QStringLiteral("Copilot");
    case UsageProvider::antigravity: return QStringLiteral("Antigravity");
    }
    return rawValue(provider);
}


} // namespace

// ---------------------------------------------------------------------------
// DistributionError

UsageAccounts::DistributionError::DistributionError(UsageProvider provider)
    : m_provider(provider), m_what(description().toUtf8())
{
}

QString UsageAccounts::DistributionError::description() const
{
    return distributionWord(m_provider) + QStringLiteral(" недоступен в этой сборке Vantorel.");
}

// ---------------------------------------------------------------------------
// Construction, discovery and persistence

UsageAccounts::UsageAccounts(Defaults& defaults, const QString& home, ProcessEnvironment environment,
                             Scheduler& scheduler, AppDistributionChannel channel, Operations operations,
                             QObject* parent)
    : QObject(parent),
      m_defaults(defaults),
      m_home(QDir::cleanPath(home)),
      m_environment(std::move(environment)),
      m_scheduler(scheduler),
      m_availableProviders(ProfileDiscovery::offeredProviders(channel)),
      m_operations(std::move(operations))
{
    ASSERT_MAIN_THREAD();
    if (!m_operations.makeStore) {
        Defaults* storeDefaults = &m_defaults;
        Scheduler* storeScheduler = &m_scheduler;
        m_operations.makeStore = [storeDefaults, storeScheduler, home = m_home,
                                  environment = m_environment](const ProviderProfile& profile) {
            return makeDefaultStore(profile, *storeDefaults, home, environment, *storeScheduler);
        };
    }
    if (!m_operations.connectProfile) {
        Scheduler* target = &m_scheduler;
        m_operations.connectProfile = [target, installer = CollectorInstaller::standard(m_home)](
                                          const ProviderProfile& profile, CancelToken cancel, Completion<Unit> done) {
            installer.installAsync(*target, profile, systemEnvironment(), cancel, std::move(done));
        };
    }
    if (!m_operations.makeWatcher)
        m_operations.makeWatcher = &StatusLineWatcher::create;
    if (!m_operations.copilotAccounts) {
        CopilotLaunch launch = CopilotLaunch::standard();
        launch.environment = m_environment;
        // The operations live in the registry: `this` outlives the call. Each
        // listing takes the quit token of the moment.
        m_operations.copilotAccounts = [this, launch](const QString& folder,
                                                      Completion<QList<CopilotUsageClient::Account>> done) {
            CopilotUsageClient::discoverAccounts(m_scheduler, folder, std::move(done), m_quit, launch);
        };
    }
    if (!m_operations.makeResetConsumer)
        m_operations.makeResetConsumer = &CodexResetController::defaultConsumer;
    // Each spend takes the quit token of the moment, so a spend after a restart is not born cancelled.
    CodexResetController::Consumer consumer = [this](const ProviderProfile& profile, const CodexResetAttempt& attempt,
                                                     bool isRetry, Completion<CodexResetResult> done) {
        m_operations.makeResetConsumer(m_scheduler, m_quit)(profile, attempt, isRetry, std::move(done));
    };
    m_resets = std::make_unique<CodexResetController>(m_defaults, std::move(consumer), m_scheduler, this);
    loadProfiles();
    syncStores();
}

UsageAccounts::~UsageAccounts()
{
    // A running spend ends its child; its attempt stays pending for the next run.
    m_quit.cancel();
    if (m_connectionTask)
        m_connectionTask->cancel();
    m_resets.reset();
    // The stores go next, while the operations they were built with still exist.
    const StoreMap stores = std::exchange(m_stores, {});
    qDeleteAll(stores);
}

void UsageAccounts::loadProfiles()
{
    std::optional<QList<ProviderProfile>> saved;
    if (const auto data = m_defaults.data(kProfilesKey)) {
        try {
            saved = ProfileDiscovery::decodeProfileList(*data);
        } catch (const json::DecodeError&) {
            saved.reset();
        }
    }
    // The list is about to be replaced by a seeded one; keep what was there.
    if (!saved && m_defaults.contains(kProfilesKey))
        m_defaults.backUp(kProfilesKey, kProfilesBackupKey);

    if (saved) {
        QSet<QString> seen;
        QList<ProviderProfile> offered;
        for (const ProviderProfile& profile : *saved) {
            const QString id = profile.id();
            if (seen.contains(id))
                continue;
            seen.insert(id);
            if (m_availableProviders.contains(profile.provider))
                offered.append(profile);
            else
                m_retainedProfiles.append(profile);
        }
        m_profiles = offered;
        for (const ProviderProfile& found : scanHomeForProfiles()) {
            const QString id = found.id();
            if (seen.contains(id))
                continue;
            seen.insert(id);
            m_profiles.append(found);
        }
    } else {
        m_profiles = scanHomeForProfiles();
        ProfileDiscovery::seedVisibility(m_profiles, m_availableProviders, m_home,
                                         m_defaults.string(kSelectedAccountKey));
    }
    saveProfiles();
}

QList<ProviderProfile> UsageAccounts::scanHomeForProfiles() const
{
    ASSERT_MAIN_THREAD();
    return ProfileDiscovery::scanHome(m_home, m_environment, m_availableProviders, m_profiles);
}

bool UsageAccounts::folderPathOrder(const QString& a, const QString& b)
{
    return ProfileDiscovery::folderPathOrder(a, b);
}

void UsageAccounts::saveProfiles()
{
    ASSERT_MAIN_THREAD();
    QByteArray data;
    try {
        data = ProfileDiscovery::encodeProfileList(m_profiles + m_retainedProfiles);
    } catch (const std::exception&) {
        return; // the previous saved list stays
    }
    m_defaults.setData(kProfilesKey, data);
}

// ---------------------------------------------------------------------------
// Observed fields

void UsageAccounts::setProfiles(QList<ProviderProfile> profiles)
{
    if (profiles == m_profiles)
        return;
    m_profiles = std::move(profiles);
    emit profilesChanged();
}

void UsageAccounts::setDiscoveryError(std::optional<QString> error)
{
    if (error == m_discoveryError)
        return;
    m_discoveryError = std::move(error);
    emit discoveryErrorChanged();
}

void UsageAccounts::setConnectionErrors(ConnectionErrors errors)
{
    if (errors == m_connectionErrors)
        return;
    m_connectionErrors = std::move(errors);
    emit connectionErrorsChanged();
}

void UsageAccounts::later(std::function<void()> work)
{
    QPointer<UsageAccounts> self(this);
    m_scheduler.post([self, work = std::move(work)] {
        if (self)
            work();
    });
}

qsizetype UsageAccounts::indexOfProfile(const QString& id) const
{
    for (qsizetype i = 0; i < m_profiles.size(); ++i) {
        if (m_profiles.at(i).id() == id)
            return i;
    }
    return -1;
}

// ---------------------------------------------------------------------------
// Lifecycle

void UsageAccounts::start()
{
    ASSERT_MAIN_THREAD();
    if (m_started)
        return;
    m_started = true;
    syncStores();
    if (std::any_of(m_availableProviders.begin(), m_availableProviders.end(), usesStatusLine)) {
        QPointer<UsageAccounts> self(this);
        m_watcher.reset();
        m_watcher = m_operations.makeWatcher(paths::statusLineFolder(m_home, m_environment), [self] {
            if (self)
                self->statusLineFolderChanged();
        });
    }
}

void UsageAccounts::stop()
{
    ASSERT_MAIN_THREAD();
    m_started = false;
    if (m_connectionTask) {
        m_connectionTask->cancel();
        m_connectionTask.reset();
    }
    m_watcher.reset();
    m_quit.cancel();
    m_quit = CancelToken();
    for (UsageStore* store : std::as_const(m_stores))
        store->stop();
}

// ---------------------------------------------------------------------------
// Collector set-up

struct UsageAccounts::SetupPass {
    CancelToken cancel;
    QList<ProviderProfile> profiles; // the list when the pass started
    qsizetype next = 0;
};

void UsageAccounts::scheduleSetup()
{
    ASSERT_MAIN_THREAD();
    if (!m_started || m_connectionTask)
        return;
    const bool pending = std::any_of(m_profiles.begin(), m_profiles.end(),
                                     [&](const ProviderProfile& p) { return !m_setupAttempts.contains(p.id()); });
    if (!pending)
        return;
    auto pass = std::make_shared<SetupPass>();
    m_connectionTask = pass->cancel;
    later([this, pass] {
        pass->profiles = m_profiles;
        connectPendingProfiles(pass);
    });
}

void UsageAccounts::connectPendingProfiles(const std::shared_ptr<SetupPass>& pass)
{
    ASSERT_MAIN_THREAD();
    while (pass->next < pass->profiles.size()) {
        const ProviderProfile profile = pass->profiles.at(pass->next++);
        const QString id = profile.id();
        if (m_setupAttempts.contains(id))
            continue;
        if (pass->cancel.isCancelled())
            break;
        m_setupAttempts.insert(id);
        QPointer<UsageAccounts> self(this);
        m_operations.connectProfile(profile, pass->cancel, [self, pass, profile](Result<Unit> outcome) {
            if (self)
                self->finishSetupAttempt(pass, profile, outcome);
        });
        return;
    }
    finishSetupPass(pass);
}

void UsageAccounts::finishSetupAttempt(const std::shared_ptr<SetupPass>& pass, const ProviderProfile& profile,
                                       const Result<Unit>& outcome)
{
    ASSERT_MAIN_THREAD();
    const QString id = profile.id();
    if (outcome.ok() && pass->cancel.isCancelled()) {
        // Stopped meanwhile: the next run tries it again.
        m_setupAttempts.remove(id);
        finishSetupPass(pass);
        return;
    }
    if (!outcome.ok() && pass->cancel.isCancelled() && outcome.errorAs<CancellationError>()) {
        // The installer was ended by the cancellation; not a failure of the profile.
        // A cancellation the pass did not ask for counts as a failure (else the
        // follow-up pass would try the profile again at once, without end).
        m_setupAttempts.remove(id);
        finishSetupPass(pass);
        return;
    }
    ConnectionErrors errors = m_connectionErrors;
    if (outcome.ok())
        errors.remove(id);
    else
        errors.insert(id, ProviderClientError::redactedDescription(outcome.error()));
    setConnectionErrors(std::move(errors));

    if (outcome.ok() && m_started && usesStatusLine(profile.provider) && isProfileVisible(id)) {
        // A freshly connected collector's data shows at once.
        QPointer<UsageAccounts> self(this);
        refresh(profile, false, [self, pass](bool) {
            if (self)
                self->connectPendingProfiles(pass);
        });
        return;
    }
    connectPendingProfiles(pass);
}

void UsageAccounts::finishSetupPass(const std::shared_ptr<SetupPass>& pass)
{
    ASSERT_MAIN_THREAD();
    // A cancelled pass was already let go by stop, and a later start may run its own.
    if (pass->cancel.isCancelled())
        return;
    m_connectionTask.reset();
    // Profiles added or retried during the pass.
    scheduleSetup();
}

// ---------------------------------------------------------------------------
// Bridge folder

struct UsageAccounts::BridgeRefresh {
    QList<ProviderProfile> profiles;
    qsizetype next = 0;
};

void UsageAccounts::statusLineFolderChanged()
{
    ASSERT_MAIN_THREAD();
    auto refresh = std::make_shared<BridgeRefresh>();
    for (const ProviderProfile& profile : visibleProfiles()) {
        if (usesStatusLine(profile.provider))
            refresh->profiles.append(profile);
    }
    refreshNextBridgeProfile(refresh);
}

void UsageAccounts::refreshNextBridgeProfile(const std::shared_ptr<BridgeRefresh>& refresh)
{
    ASSERT_MAIN_THREAD();
    while (refresh->next < refresh->profiles.size()) {
        const ProviderProfile& profile = refresh->profiles.at(refresh->next++);
        UsageStore* store = isProfileVisible(profile.id()) ? m_stores.value(profile.id()) : nullptr;
        if (!store)
            continue;
        QPointer<UsageAccounts> self(this);
        store->refresh(profile.provider, false, [self, refresh](bool) {
            if (self)
                self->refreshNextBridgeProfile(refresh);
        });
        return;
    }
}

// ---------------------------------------------------------------------------
// Queries

QList<ProviderProfile> UsageAccounts::visibleProfiles() const
{
    QList<ProviderProfile> visible;
    for (const ProviderProfile& profile : m_profiles) {
        if (profile.isVisible)
            visible.append(profile);
    }
    return visible;
}

QList<ProviderProfile> UsageAccounts::visibleProfilesByProvider() const
{
    const QList<ProviderProfile> visible = visibleProfiles();
    QList<ProviderProfile> ordered;
    for (UsageProvider provider :
         {UsageProvider::claude, UsageProvider::codex, UsageProvider::copilot, UsageProvider::antigravity}) {
        for (const ProviderProfile& profile : visible) {
            if (profile.provider == provider)
                ordered.append(profile);
        }
    }
    return ordered;
}

bool UsageAccounts::isProfileVisible(const QString& id) const
{
    return std::any_of(m_profiles.begin(), m_profiles.end(),
                       [&](const ProviderProfile& p) { return p.isVisible && p.id() == id; });
}

ProviderUsage UsageAccounts::usage(const ProviderProfile& profile) const
{
    const QString id = profile.id();
    const UsageStore* store = m_stores.value(id);
    const ProviderUsage usage = store ? store->usage(profile.provider) : ProviderUsage::placeholder(profile.provider);
    const qsizetype index = indexOfProfile(id);
    const ProviderProfile& current = index >= 0 ? m_profiles.at(index) : profile;
    return current.removingHiddenAntigravityGroups(usage);
}

bool UsageAccounts::hasConnectionErrors() const
{
    const QList<ProviderProfile> visible = visibleProfiles();
    return std::any_of(visible.begin(), visible.end(),
                       [&](const ProviderProfile& p) { return usage(p).errorMessage.has_value(); });
}

bool UsageAccounts::isRecoveringConnection() const
{
    const QList<ProviderProfile> visible = visibleProfiles();
    return std::any_of(visible.begin(), visible.end(),
                       [&](const ProviderProfile& p) { return usage(p).nextRetryAt.has_value(); });
}

bool UsageAccounts::isRefreshing() const
{
    const QList<ProviderProfile> visible = visibleProfiles();
    return std::any_of(visible.begin(), visible.end(), [&](const ProviderProfile& p) {
        const UsageStore* store = m_stores.value(p.id());
        return store && store->isRefreshing();
    });
}

std::optional<Timestamp> UsageAccounts::lastUpdated() const
{
    const QList<ProviderProfile> visible = visibleProfiles();
    if (visible.isEmpty())
        return std::nullopt;
    std::optional<Timestamp> oldest;
    for (const ProviderProfile& profile : visible) {
        const ProviderUsage u = usage(profile);
        if (u.errorMessage || u.isStale == true || !u.updatedAt)
            return std::nullopt;
        if (!oldest || *u.updatedAt < *oldest)
            oldest = u.updatedAt;
    }
    return oldest;
}

void UsageAccounts::refresh(const ProviderProfile& profile, bool force, std::function<void(bool)> done)
{
    ASSERT_MAIN_THREAD();
    const QString id = profile.id();
    UsageStore* store = isProfileVisible(id) ? m_stores.value(id) : nullptr;
    if (!store) {
        if (done)
            later([done = std::move(done)] { done(false); });
        return;
    }
    QPointer<UsageAccounts> self(this);
    store->refresh(profile.provider, force, [self, done = std::move(done)](bool clean) {
        if (self && done)
            done(clean);
    });
}

// ---------------------------------------------------------------------------
// Changes

void UsageAccounts::discoverProfiles()
{
    ASSERT_MAIN_THREAD();
    QSet<QString> known;
    for (const ProviderProfile& profile : std::as_const(m_profiles))
        known.insert(profile.id());
    QList<ProviderProfile> profiles = m_profiles;
    for (const ProviderProfile& found : scanHomeForProfiles()) {
        if (!known.contains(found.id()))
            profiles.append(found);
    }
    setProfiles(std::move(profiles));
    saveProfiles();
    syncStores();
}

ProviderProfile UsageAccounts::addProfileFolder(const QString& folder, UsageProvider provider)
{
    ASSERT_MAIN_THREAD();
    if (!m_availableProviders.contains(provider))
        throw DistributionError(provider);
    if (!QFileInfo(folder).isDir()) {
        // The platform's "no such file" error, with no details about the path.
        throw ForeignError(ForeignError::kCocoaDomain, 260,
                           QStringLiteral("Не удалось открыть файл, так как он не существует."));
    }
    ProviderProfile profile;
    profile.provider = provider;
    profile.configDirectory = paths::standardizedResolvedPath(folder);
    profile.name = ProviderProfile::defaultName(ProfileDiscovery::folderName(folder), provider);
    profile.isVisible = false;

    const qsizetype existing = indexOfProfile(profile.id());
    if (existing >= 0)
        return m_profiles.at(existing);
    QList<ProviderProfile> profiles = m_profiles;
    profiles.append(profile);
    setProfiles(std::move(profiles));
    saveProfiles();
    syncStores();
    return profile;
}

void UsageAccounts::setVisible(bool visible, const QString& profileID)
{
    ASSERT_MAIN_THREAD();
    const qsizetype index = indexOfProfile(profileID);
    if (index < 0)
        return;
    QList<ProviderProfile> profiles = m_profiles;
    profiles[index].isVisible = visible;
    setProfiles(std::move(profiles));
    saveProfiles();
    syncStores();
}

void UsageAccounts::rename(const QString& profileID, const QString& name)
{
    ASSERT_MAIN_THREAD();
    const qsizetype index = indexOfProfile(profileID);
    if (index < 0)
        return;
    QList<ProviderProfile> profiles = m_profiles;
    profiles[index].name = text::prefixGraphemes(name, kNameLimit);
    setProfiles(std::move(profiles));
    saveProfiles();
}

void UsageAccounts::setAntigravityGroupHidden(AntigravityQuotaGroup group, bool hidden, const QString& profileID)
{
    ASSERT_MAIN_THREAD();
    const qsizetype index = indexOfProfile(profileID);
    if (index < 0 || m_profiles.at(index).provider != UsageProvider::antigravity)
        return;
    QList<ProviderProfile> profiles = m_profiles;
    std::set<AntigravityQuotaGroup> groups = profiles[index].hiddenAntigravityGroups.value_or(std::set<AntigravityQuotaGroup>{});
    if (hidden)
        groups.insert(group);
    else
        groups.erase(group);
    profiles[index].hiddenAntigravityGroups = groups;
    setProfiles(std::move(profiles));
    saveProfiles();
}

void UsageAccounts::retrySetup(const ProviderProfile& profile)
{
    ASSERT_MAIN_THREAD();
    const QString id = profile.id();
    m_setupAttempts.remove(id);
    ConnectionErrors errors = m_connectionErrors;
    errors.remove(id);
    setConnectionErrors(std::move(errors));
    scheduleSetup();
}

ProcessEnvironment UsageAccounts::codexEnvironment(AccountScope scope)
{
    ProcessEnvironment environment = systemEnvironment();
    const QString folder = scope == AccountScope::work ? QStringLiteral(".codex-umbo") : QStringLiteral(".codex-personal");
    environment.insert(QStringLiteral("CODEX_HOME"), paths::joined(QDir::homePath(), folder));
    return environment;
}

// ---------------------------------------------------------------------------
// Copilot accounts

struct UsageAccounts::CopilotMerge {
    QStringList folders;
    qsizetype next = 0;
    std::vector<std::function<void()>> waiters;
};

void UsageAccounts::refreshCopilotAccounts(std::function<void()> done)
{
    ASSERT_MAIN_THREAD();
    if (done)
        m_copilotWaiters.push_back(std::move(done));
    if (m_copilotMergeRunning) {
        // Served by one follow-up merge, which sees the folders added meanwhile.
        m_copilotMergeRequested = true;
        return;
    }
    startCopilotMerge();
}

void UsageAccounts::startCopilotMerge()
{
    m_copilotMergeRunning = true;
    m_copilotMergeRequested = false;
    auto merge = std::make_shared<CopilotMerge>();
    merge->waiters = std::exchange(m_copilotWaiters, {});

    setDiscoveryError(std::nullopt);
    if (m_availableProviders.contains(UsageProvider::copilot)) {
        std::set<QString> folders;
        for (const ProviderProfile& profile : std::as_const(m_profiles)) {
            if (profile.provider == UsageProvider::copilot)
                folders.insert(profile.configDirectory);
        }
        merge->folders = QStringList(folders.begin(), folders.end());
    }
    mergeNextCopilotFolder(merge);
}

void UsageAccounts::mergeNextCopilotFolder(const std::shared_ptr<CopilotMerge>& merge)
{
    if (merge->next >= merge->folders.size()) {
        // Ends on a later turn, so a caller is never answered inside its own call.
        later([this, merge] { finishCopilotMerge(merge); });
        return;
    }
    QPointer<UsageAccounts> self(this);
    const QString folder = merge->folders.at(merge->next++);
    m_operations.copilotAccounts(folder, [self, merge, folder](Result<QList<CopilotUsageClient::Account>> accounts) {
        if (!self)
            return;
        // Ended by stop: the merge ends too, without a message.
        if (accounts.errorAs<CancellationError>())
            merge->next = merge->folders.size();
        else
            self->mergeCopilotFolder(folder, accounts);
        self->mergeNextCopilotFolder(merge);
    });
}

void UsageAccounts::mergeCopilotFolder(const QString& folder,
                                       const Result<QList<CopilotUsageClient::Account>>& accounts)
{
    ASSERT_MAIN_THREAD();
    if (!accounts.ok()) {
        setDiscoveryError(ProviderClientError::redactedDescription(accounts.error()));
        return;
    }
    const QList<CopilotUsageClient::Account>& listed = accounts.value();
    if (listed.isEmpty())
        return;

    // The list as it is now: the user may have changed it while the program ran.
    QList<ProviderProfile> profiles = m_profiles;
    profiles.removeIf([&](const ProviderProfile& p) {
        return p.provider == UsageProvider::copilot && p.configDirectory == folder && !p.accountIdentifier
            && !p.isVisible;
    });
    const QString resolvedFolder = paths::standardizedResolvedPath(folder);
    for (const CopilotUsageClient::Account& account : listed) {
        ProviderProfile candidate;
        candidate.provider = UsageProvider::copilot;
        candidate.configDirectory = resolvedFolder;
        candidate.name = account.authInfo.login;
        candidate.isVisible = false;
        candidate.accountIdentifier = account.identifier();
        const QString id = candidate.id();
        const bool known = std::any_of(profiles.begin(), profiles.end(),
                                       [&](const ProviderProfile& p) { return p.id() == id; });
        if (!known)
            profiles.append(candidate);
    }
    setProfiles(std::move(profiles));
    saveProfiles();
    syncStores();
}

void UsageAccounts::finishCopilotMerge(const std::shared_ptr<CopilotMerge>& merge)
{
    m_copilotMergeRunning = false;
    for (const auto& waiter : merge->waiters)
        waiter();
    if (m_copilotMergeRequested)
        startCopilotMerge();
}

// ---------------------------------------------------------------------------
// Store wiring

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

void UsageAccounts::beginCodexReset(const QList<UsageStore*>& stores)
{
    ASSERT_MAIN_THREAD();
    for (UsageStore* store : stores)
        store->beginCodexReset();
}

void UsageAccounts::finishCodexReset(const std::optional<CodexResetResult>& result, const QList<UsageStore*>& stores,
                                     const QList<UsageStore*>& sameAccount)
{
    ASSERT_MAIN_THREAD();
    for (UsageStore* store : stores) {
        if (sameAccount.contains(store))
            store->applyCodexResetResult(result);
        else
            store->endCodexReset();
    }
}

void UsageAccounts::requestCodexReset(const CodexResetController::Confirmation& confirmation,
                                      const ProviderProfile& profile, Completion<QString> done)
{
    ASSERT_MAIN_THREAD();
    const std::optional<CodexResetPlan> plan = codexResetPlan(profile.id(), confirmation.accountID);
    if (!plan) {
        later([done = std::move(done)] {
            if (done)
                done(Result<QString>::success(kResetRefusedMessage));
        });
        return;
    }
    QPointer<UsageAccounts> self(this);
    m_resets->performReset(confirmation, plan->profile, plan->usage, plan->codexStores, plan->sameAccountStores,
                           [self, done = std::move(done)](Result<QString> message) {
                               if (self && done)
                                   done(std::move(message));
                           });
}

std::optional<UsageAccounts::CodexResetPlan> UsageAccounts::codexResetPlan(const QString& profileID,
                                                                          const QString& accountID) const
{
    ASSERT_MAIN_THREAD();
    const qsizetype index = indexOfProfile(profileID);
    if (index < 0 || !m_profiles.at(index).isVisible || !m_availableProviders.contains(UsageProvider::codex))
        return std::nullopt;
    CodexResetPlan plan {m_profiles.at(index), {}, {}, {}};
    for (const ProviderProfile& profile : m_profiles) {
        if (profile.provider != UsageProvider::codex)
            continue;
        UsageStore* store = m_stores.value(profile.id());
        if (!store)
            continue;
        plan.codexStores.append(store);
        if (store->codex().codexAccountID == accountID)
            plan.sameAccountStores.append(store);
    }
    plan.usage = usage(plan.profile);
    return plan;
}
