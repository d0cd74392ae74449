#include "UsageStore.h"

#include "platform/Defaults.h"
#include "platform/MainThread.h"
#include "platform/StrictJson.h"
#include "usage/ProviderClientError.h"

#include <QPointer>
#include <algorithm>
#include <climits>
#include <cmath>

static_assert(std::size_t(UsageProvider::codex) == 0 && std::size_t(UsageProvider::claude) == 1
                  && std::size_t(UsageProvider::copilot) == 2 && std::size_t(UsageProvider::antigravity) == 3,
              "usages are indexed by provider");

namespace {

const QString kOfflineCode = QStringLiteral("NETWORK_OFFLINE");
const QString kOfflineMessage = QStringLiteral("Нет подключения к сети. Повторю запрос после восстановления соединения.");
constexpr double kOfflineRetry = 60;
const QString kForeignProviderMessage = QStringLiteral("Ответ другого провайдера отклонён.");
const QString kAwaitingResetNote = QStringLiteral("Ожидаю свежие лимиты после запроса сброса.");

// Claude Code is never read more often than this.
constexpr double kClaudeMinimumInterval = 300;
constexpr double kAntigravityInterval = 30;
// Retry of a usage that came back with its own error and no retry time.
constexpr double kClaudeErrorRetry = 300;
constexpr double kOtherErrorRetry = 30;
constexpr double kPostResetInterval = 2;
constexpr int kPostResetRefreshes = 3;
constexpr double kRefreshAllDelay = 1;

std::vector<UsageProvider> servedBy(const std::optional<ProviderProfile>& profile)
{
    if (profile)
        return {profile->provider};
    return {UsageProvider::codex, UsageProvider::claude};
}

int oneMore(int count)
{
    return count < INT_MAX ? count + 1 : INT_MAX;
}

} // namespace

const FetchOperation& UsageFetchers::operator[](UsageProvider provider) const
{
    switch (provider) {
    case UsageProvider::codex:
        return codex;
    case UsageProvider::claude:
        return claude;
    case UsageProvider::copilot:
        return copilot;
    case UsageProvider::antigravity:
        break;
    }
    return antigravity;
}

UsageStore::UsageStore(std::optional<ProviderProfile> profile, AccountScope accountScope, UsageFetchers fetchers,
                       Defaults& defaults, Scheduler& scheduler, ConnectivityMonitorFactory makeMonitor, QObject* parent)
    : QObject(parent)
    , m_fetchers(std::move(fetchers))
    , m_defaults(defaults)
    , m_scheduler(scheduler)
    , m_accountScope(accountScope)
    , m_profile(std::move(profile))
    , m_served(servedBy(m_profile))
    , m_makeMonitor(std::move(makeMonitor))
{
    ASSERT_MAIN_THREAD();
    for (UsageProvider provider : kAllUsageProviders)
        m_usage[std::size_t(provider)] = ProviderUsage::placeholder(provider);
    if (auto restored = restoreSnapshots(UsageProvider::codex))
        m_usage[std::size_t(UsageProvider::codex)] = *restored;
}

UsageStore::~UsageStore()
{
    if (m_monitor)
        m_monitor->cancel();
    cancelAllScheduled();
    cancelAllInFlight();
}

bool UsageStore::serves(UsageProvider provider) const
{
    return std::find(m_served.begin(), m_served.end(), provider) != m_served.end();
}

double UsageStore::refreshInterval() const
{
    const double seconds = m_defaults.doubleValue(kRefreshIntervalKey);
    if (!std::isfinite(seconds) || seconds <= 0)
        return kDefaultRefreshInterval;
    return seconds;
}

// The refresh loop

void UsageStore::start(bool followConnectivity)
{
    ASSERT_MAIN_THREAD();
    if (m_started)
        return;
    m_started = true;
    if (followConnectivity)
        startConnectivityMonitor();
    for (UsageProvider provider : m_served)
        scheduleRefresh(provider, false, 0);
}

void UsageStore::stop()
{
    ASSERT_MAIN_THREAD();
    m_started = false;
    if (m_monitor) {
        m_monitor->cancel();
        m_monitor.reset();
    }
    cancelAllScheduled();
    cancelAllInFlight();
    m_forcedAfterRequest.clear();
    setIsRefreshing(false);
    for (UsageProvider provider : kAllUsageProviders)
        clearLoading(provider);
}

void UsageStore::refreshAllSoon()
{
    ASSERT_MAIN_THREAD();
    if (!m_started)
        return;
    for (UsageProvider provider : m_served)
        scheduleRefresh(provider, true, kRefreshAllDelay);
}

void UsageStore::refresh(UsageProvider provider, bool force, RefreshCompletion done)
{
    ASSERT_MAIN_THREAD();
    if (m_resetInProgress || !serves(provider)) {
        complete(std::move(done), false);
        return;
    }
    if (auto it = m_inFlight.find(provider); it != m_inFlight.end()) {
        if (force)
            m_forcedAfterRequest.insert(provider);
        if (done)
            it->second.waiters.push_back(std::move(done));
        return;
    }

    cancelScheduled(provider);
    const std::uint64_t fetchId = m_nextFetchId++;
    // Registered before observers hear of the loading state, so a refresh
    // they start joins this fetch.
    InFlight& flight = m_inFlight[provider];
    flight.id = fetchId;
    if (done)
        flight.waiters.push_back(std::move(done));

    ProviderUsage loading = usage(provider);
    loading.isLoading = true;
    loading.nextRetryAt.reset();
    setUsage(loading);
    if (auto it = m_inFlight.find(provider); it == m_inFlight.end() || it->second.id != fetchId)
        return; // an observer of the loading state stopped the store or began a reset
    setIsRefreshing(true);
    launchFetch(provider, fetchId, force);
}

void UsageStore::scheduleRefresh(UsageProvider provider, bool force, double delaySeconds)
{
    if (!m_started)
        return;
    cancelScheduled(provider);
    QPointer<UsageStore> self(this);
    const Scheduler::TaskId id = m_scheduler.schedule(delaySeconds, [self, provider, force] {
        if (!self || !self->m_started)
            return;
        self->m_scheduled.erase(provider);
        self->refresh(provider, force);
    });
    m_scheduled[provider] = id;
}

void UsageStore::cancelScheduled(UsageProvider provider)
{
    auto it = m_scheduled.find(provider);
    if (it == m_scheduled.end())
        return;
    m_scheduler.cancel(it->second);
    m_scheduled.erase(it);
}

void UsageStore::cancelAllScheduled()
{
    for (const auto& [provider, id] : m_scheduled)
        m_scheduler.cancel(id);
    m_scheduled.clear();
}

void UsageStore::cancelAllInFlight()
{
    std::map<UsageProvider, InFlight> flights;
    flights.swap(m_inFlight);
    for (auto& [provider, flight] : flights) {
        flight.token.cancel();
        for (RefreshCompletion& waiter : flight.waiters)
            complete(std::move(waiter), false);
    }
}

void UsageStore::complete(RefreshCompletion done, bool clean)
{
    if (!done)
        return;
    m_scheduler.post([done = std::move(done), clean] { done(clean); });
}

// Fetches

void UsageStore::launchFetch(UsageProvider provider, std::uint64_t fetchId, bool force)
{
    const CancelToken token = m_inFlight.at(provider).token;
    QPointer<UsageStore> self(this);
    Scheduler* scheduler = &m_scheduler;
    // Records the result on the next turn of the loop.
    auto finishLater = [self, scheduler, provider, fetchId](Result<ProviderUsage> result) {
        scheduler->post([self, provider, fetchId, result] {
            if (self)
                self->fetchFinished(provider, fetchId, result);
        });
    };
    auto failLater = [finishLater](std::exception_ptr error) { finishLater(Result<ProviderUsage>::failure(error)); };

    if (!usesStatusLine(provider) && !m_hasNetwork) {
        failLater(std::make_exception_ptr(
            ProviderClientError::diagnostic(kOfflineCode, kOfflineMessage, true, kOfflineRetry)));
        return;
    }
    const FetchOperation& operation = m_fetchers[provider];
    if (!operation) {
        failLater(std::make_exception_ptr(ProviderClientError::invalidResponse(
            QStringLiteral("Чтение %1 не настроено.").arg(displayName(provider)))));
        return;
    }

    Completion<ProviderUsage> done = [self, provider, fetchId, finishLater](Result<ProviderUsage> result) {
        ASSERT_MAIN_THREAD();
        if (!self)
            return;
        if (self->m_launching) {
            // Completed inside the call that started it: record it on the next turn.
            finishLater(std::move(result));
            return;
        }
        self->fetchFinished(provider, fetchId, std::move(result));
    };

    const bool wasLaunching = m_launching;
    m_launching = true;
    try {
        operation(force, token, std::move(done));
    } catch (...) {
        failLater(std::current_exception());
    }
    if (self)
        self->m_launching = wasLaunching;
}

void UsageStore::fetchFinished(UsageProvider provider, std::uint64_t fetchId, Result<ProviderUsage> result)
{
    // Stopping and a reset remove every flight, and fetch ids are never reused.
    auto isCurrent = [this, provider, fetchId] {
        auto it = m_inFlight.find(provider);
        return it != m_inFlight.end() && it->second.id == fetchId && !it->second.token.isCancelled();
    };
    if (!isCurrent())
        return; // stopped, cancelled or a reset began: the result changes nothing
    const bool clean = recordResult(provider, std::move(result));
    if (!isCurrent())
        return; // an observer of the new usage stopped the store; its waiters are answered
    auto it = m_inFlight.find(provider);
    std::vector<RefreshCompletion> waiters = std::move(it->second.waiters);
    m_inFlight.erase(it);
    setIsRefreshing(!m_inFlight.empty());
    scheduleAfterFetch(provider, clean);
    for (RefreshCompletion& waiter : waiters) {
        if (waiter)
            waiter(clean);
    }
}

bool UsageStore::recordResult(UsageProvider provider, Result<ProviderUsage> result)
{
    if (!result.ok())
        return recordFailure(provider, result.error());
    ProviderUsage u = result.take();
    if (u.provider != provider)
        return recordFailure(provider, std::make_exception_ptr(ProviderClientError::invalidResponse(kForeignProviderMessage)));

    u.isLoading = false;
    bool clean = true;
    if (!u.errorMessage) {
        u.nextRetryAt.reset();
        u.failureCount = 0;
    } else {
        clean = false;
        u.errorMessage = ProviderClientError::sanitized(*u.errorMessage);
        if (!u.nextRetryAt || !std::isfinite(u.nextRetryAt->sinceReference())) {
            const double wait = provider == UsageProvider::claude ? kClaudeErrorRetry : kOtherErrorRetry;
            u.nextRetryAt = m_scheduler.clock().now().adding(wait);
        }
        u.failureCount = oneMore(usage(provider).failureCount);
    }
    setUsage(u);
    if (provider == UsageProvider::codex)
        saveCodexSnapshot(u);
    return clean;
}

bool UsageStore::recordFailure(UsageProvider provider, std::exception_ptr error)
{
    const ProviderClientError e = ProviderClientError::from(error);
    ProviderUsage u = usage(provider);
    if (provider != UsageProvider::codex) {
        // Only Codex keeps its last known limits beside the error.
        u.windows.clear();
        u.updatedAt.reset();
        u.sourceNote.reset();
        u.isStale.reset();
        u.unlimitedCategories.reset();
        u.waitingForObservation.reset();
    }
    u.isLoading = false;
    u.failureCount = oneMore(u.failureCount);
    u.errorCode = e.errorCode();
    u.errorMessage = ProviderClientError::sanitized(e.errorDescription());
    const std::optional<double> delay = e.retryDelay(u.failureCount);
    if (delay && std::isfinite(*delay))
        u.nextRetryAt = m_scheduler.clock().now().adding(*delay);
    else
        u.nextRetryAt.reset();
    setUsage(u);
    return false;
}

void UsageStore::scheduleAfterFetch(UsageProvider provider, bool clean)
{
    if (m_forcedAfterRequest.erase(provider) > 0) {
        scheduleRefresh(provider, true, 0);
        return;
    }
    if (m_scheduled.count(provider) > 0)
        return; // scheduled by someone while the fetch ran
    const ProviderUsage& u = usage(provider);
    if (!clean) {
        if (u.nextRetryAt) {
            const double wait = u.nextRetryAt->secondsSince(m_scheduler.clock().now());
            scheduleRefresh(provider, false, wait > 0 ? wait : 0);
        }
        return;
    }
    double delay = refreshInterval();
    switch (provider) {
    case UsageProvider::claude:
        delay = std::max(delay, kClaudeMinimumInterval);
        break;
    case UsageProvider::antigravity:
        delay = kAntigravityInterval;
        break;
    case UsageProvider::copilot:
        break;
    case UsageProvider::codex:
        if (m_postResetRefreshes > 0) {
            if (!showsSpentReset(u)) {
                setPostResetRefreshes(m_postResetRefreshes - 1);
                delay = kPostResetInterval;
            } else {
                setPostResetRefreshes(0);
            }
        }
        break;
    }
    scheduleRefresh(provider, false, delay);
}

bool UsageStore::showsSpentReset(const ProviderUsage& usage) const
{
    return usage.codexOrdinaryUsageAllowed == true && !usage.hasExhaustedCodexWindow();
}

// Codex reset

void UsageStore::beginCodexReset()
{
    ASSERT_MAIN_THREAD();
    setResetInProgress(true);
    cancelAllInFlight();
    m_forcedAfterRequest.clear();
    cancelAllScheduled();
    setIsRefreshing(false);
}

void UsageStore::applyCodexResetResult(const std::optional<CodexResetResult>& result)
{
    ASSERT_MAIN_THREAD();
    setResetInProgress(false);
    setPostResetRefreshes(result && didReset(result->outcome) ? kPostResetRefreshes : 0);
    if (!result || !result->usage || result->usage->provider != UsageProvider::codex) {
        ProviderUsage u = codex();
        u.isLoading = false;
        u.isStale = true;
        u.sourceNote = kAwaitingResetNote;
        setUsage(u);
        scheduleRefresh(UsageProvider::codex, false, kPostResetInterval);
        return;
    }
    ProviderUsage u = *result->usage;
    if (u.errorMessage)
        u.errorMessage = ProviderClientError::sanitized(*u.errorMessage);
    setUsage(u);
    saveCodexSnapshot(u);
    if (showsSpentReset(u)) {
        // Limits already back: no quick re-reads left for a later read to spend.
        setPostResetRefreshes(0);
        scheduleRefresh(UsageProvider::codex, false, refreshInterval());
        return;
    }
    scheduleRefresh(UsageProvider::codex, false, m_postResetRefreshes > 0 ? kPostResetInterval : refreshInterval());
}

void UsageStore::endCodexReset()
{
    ASSERT_MAIN_THREAD();
    setResetInProgress(false);
    clearLoading(UsageProvider::codex);
    scheduleRefresh(UsageProvider::codex, false, 0);
}

// Snapshots

QString UsageStore::snapshotKey(UsageProvider provider) const
{
    if (m_profile)
        return QStringLiteral("usageSnapshot.v3.") + m_profile->id() + QLatin1Char('.') + rawValue(provider);
    return QStringLiteral("usageSnapshot.v2.") + rawValue(m_accountScope) + QLatin1Char('.') + rawValue(provider);
}

std::optional<ProviderUsage> UsageStore::restoreSnapshots(UsageProvider provider) const
{
    const std::optional<QByteArray> data = m_defaults.data(snapshotKey(provider));
    if (!data)
        return std::nullopt;
    std::optional<ProviderUsage> usage;
    try {
        usage = ProviderUsage::fromJson(json::parse(*data));
    } catch (...) {
        return std::nullopt;
    }
    if (usage->provider != provider)
        return std::nullopt;
    usage->isLoading = true;
    usage->errorMessage.reset();
    usage->errorCode.reset();
    usage->nextRetryAt.reset();
    usage->failureCount = 0;
    return usage;
}

void UsageStore::saveCodexSnapshot(const ProviderUsage& usage)
{
    QByteArray data;
    try {
        data = json::serialize(usage.toJson());
    } catch (...) {
        return; // a value that cannot be encoded loses only this snapshot
    }
    m_defaults.setData(snapshotKey(UsageProvider::codex), data);
}

// Connectivity

void UsageStore::startConnectivityMonitor()
{
    m_monitor = m_makeMonitor ? m_makeMonitor() : makeSystemConnectivityMonitor();
    if (!m_monitor)
        return;
    QPointer<UsageStore> self(this);
    Scheduler* scheduler = &m_scheduler;
    m_monitor->start([self, scheduler](bool reachable) {
        scheduler->post([self, reachable] {
            if (self)
                self->networkUpdate(reachable);
        });
    });
}

void UsageStore::networkUpdate(bool reachable)
{
    if (m_hasNetwork == reachable)
        return;
    setHasNetwork(reachable);
    if (reachable)
        refreshAllSoon();
}

// Observed fields

void UsageStore::setUsage(const ProviderUsage& usage)
{
    assignUsage(usage);
    if (usage.provider == UsageProvider::codex && m_onCodexUpdate)
        m_onCodexUpdate(usage);
}

void UsageStore::assignUsage(const ProviderUsage& usage)
{
    using Notify = void (UsageStore::*)();
    static constexpr Notify kChanged[] = {&UsageStore::codexChanged, &UsageStore::claudeChanged,
                                          &UsageStore::copilotChanged, &UsageStore::antigravityChanged};
    ProviderUsage& slot = m_usage[std::size_t(usage.provider)];
    if (slot == usage)
        return;
    slot = usage;
    emit (this->*kChanged[std::size_t(usage.provider)])();
}

void UsageStore::clearLoading(UsageProvider provider)
{
    if (!usage(provider).isLoading)
        return;
    ProviderUsage u = usage(provider);
    u.isLoading = false;
    assignUsage(u);
}

void UsageStore::setIsRefreshing(bool value)
{
    if (m_isRefreshing == value)
        return;
    m_isRefreshing = value;
    emit isRefreshingChanged();
}

void UsageStore::setHasNetwork(bool value)
{
    if (m_hasNetwork == value)
        return;
    m_hasNetwork = value;
    emit hasNetworkChanged();
}

void UsageStore::setResetInProgress(bool value)
{
    if (m_resetInProgress == value)
        return;
    m_resetInProgress = value;
    emit resetInProgressChanged();
}

void UsageStore::setPostResetRefreshes(int value)
{
    if (m_postResetRefreshes == value)
        return;
    m_postResetRefreshes = value;
    emit postResetRefreshesChanged();
}
