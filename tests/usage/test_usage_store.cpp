#include "platform/Defaults.h"
#include "platform/Scheduler.h"
#include "platform/StrictJson.h"
#include "usage/ConnectivityMonitor.h"
#include "usage/ProviderClientError.h"
#include "usage/UsageStore.h"

#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <limits>
#include <memory>
#include <utility>

Q_DECLARE_METATYPE(UsageProvider)

namespace {

using Outcome = std::function<Result<ProviderUsage>(bool force)>;

// A fetch operation that records its calls and completes when the test says,
// or, with an automatic outcome, on the next turn of the loop.
class FakeFetch {
public:
    struct Call {
        bool force = false;
        CancelToken token;
        Completion<ProviderUsage> done;
        bool answered = false;
    };

    FakeFetch(Scheduler& scheduler, UsageProvider provider) : m_scheduler(scheduler), m_provider(provider) {}

    FetchOperation operation()
    {
        return [this](bool force, CancelToken token, Completion<ProviderUsage> done) {
            calls.push_back({force, token, done, false});
            if (automatic) {
                const std::size_t index = calls.size() - 1;
                Result<ProviderUsage> r = automatic(force);
                m_scheduler.post([this, index, r] { answer(index, r); });
            }
        };
    }

    int count() const { return static_cast<int>(calls.size()); }
    bool open() const { return !calls.empty() && !calls.back().answered; }
    Call& last() { return calls.back(); }

    void answer(std::size_t index, Result<ProviderUsage> r)
    {
        Call& c = calls.at(index);
        QVERIFY(!c.answered);
        c.answered = true;
        c.done(std::move(r));
    }
    void succeed(ProviderUsage u) { answer(calls.size() - 1, Result<ProviderUsage>::success(std::move(u))); }
    void fail(const ProviderClientError& e) { answer(calls.size() - 1, Result<ProviderUsage>::failure(std::make_exception_ptr(e))); }

    // A clean usage of this provider with one window.
    ProviderUsage clean(double percent = 40) const
    {
        ProviderUsage u = ProviderUsage::placeholder(m_provider);
        u.isLoading = false;
        u.planName = QStringLiteral("Pro");
        u.windows = {UsageWindow {QStringLiteral("w"), QStringLiteral("Окно"), percent, {}, 300, {}}};
        u.updatedAt = m_scheduler.clock().now();
        return u;
    }

    std::vector<Call> calls;
    Outcome automatic;

private:
    Scheduler& m_scheduler;
    UsageProvider m_provider;
};

class FakeMonitor final : public ConnectivityMonitor {
public:
    explicit FakeMonitor(bool reachable) : m_reachable(reachable) {}
    void start(Handler onUpdate) override
    {
        m_handler = std::move(onUpdate);
        m_handler(m_reachable);
    }
    void cancel() override { *cancelled = true; }
    void report(bool reachable)
    {
        m_reachable = reachable;
        if (!*cancelled && m_handler)
            m_handler(reachable);
    }
    // Outlives the monitor: the store destroys its monitor when it stops.
    std::shared_ptr<bool> cancelled = std::make_shared<bool>(false);

private:
    bool m_reachable;
    Handler m_handler;
};

ProviderProfile profileOf(UsageProvider provider, const QString& folder = QStringLiteral("/home/a/.tool"))
{
    ProviderProfile p;
    p.provider = provider;
    p.configDirectory = folder;
    p.name = QStringLiteral("По умолчанию");
    p.isVisible = true;
    return p;
}

struct Harness {
    VirtualScheduler scheduler;
    MemoryDefaults defaults;
    FakeFetch codex {scheduler, UsageProvider::codex};
    FakeFetch claude {scheduler, UsageProvider::claude};
    FakeFetch copilot {scheduler, UsageProvider::copilot};
    FakeFetch antigravity {scheduler, UsageProvider::antigravity};
    std::vector<FakeMonitor*> monitors; // owned by the store; gone once it stops
    std::vector<std::shared_ptr<bool>> monitorCancelled;
    bool reachableAtStart = true;
    std::unique_ptr<UsageStore> store;

    FakeFetch& fetch(UsageProvider p)
    {
        FakeFetch* const byProvider[] = {&codex, &claude, &copilot, &antigravity};
        return *byProvider[int(p)];
    }

    UsageStore& make(std::optional<ProviderProfile> profile, AccountScope scope = AccountScope::personal)
    {
        UsageFetchers f {codex.operation(), claude.operation(), copilot.operation(), antigravity.operation()};
        store = std::make_unique<UsageStore>(std::move(profile), scope, std::move(f), defaults, scheduler,
                                             [this] {
                                                 auto m = std::make_unique<FakeMonitor>(reachableAtStart);
                                                 monitors.push_back(m.get());
                                                 monitorCancelled.push_back(m->cancelled);
                                                 return m;
                                             });
        return *store;
    }
    UsageStore& make(UsageProvider provider) { return make(profileOf(provider)); }

    double since(Timestamp t) const { return t.secondsSince(scheduler.now()); }

    // Records the results of refresh calls.
    std::vector<bool> results;
    UsageStore::RefreshCompletion recorder()
    {
        return [this](bool clean) { results.push_back(clean); };
    }
};

} // namespace

class UsageStoreTest : public QObject {
    Q_OBJECT
private slots:
    void joinersAndForcedFollowUps_data();
    void joinersAndForcedFollowUps();
    void completesLaterNeverInline_data();
    void completesLaterNeverInline();
    void servedProviders_data();
    void servedProviders();
    void offline_data();
    void offline();
    void failureBackOff_data();
    void failureBackOff();
    void usageWithOwnError_data();
    void usageWithOwnError();
    void foreignProviderRejected();
    void refreshInterval_data();
    void refreshInterval();
    void resultAfterStop();
    void observerEndsFetchOnLoading_data();
    void observerEndsFetchOnLoading();
    void stopCancelsAndRestartsCleanly();
    void releasedStoreEndsItsWork();
    void resetSuspendsRefreshing();
    void resetQuickRereads_data();
    void resetQuickRereads();
    void endCodexReset();
    void snapshotsWrittenAndRestored_data();
    void snapshotsWrittenAndRestored();
    void snapshotsIgnoredWhenForeignOrCorrupt_data();
    void snapshotsIgnoredWhenForeignOrCorrupt();
    void connectivityLossAndReturn();
    void connectivityMonitorLifecycle();
    void systemMonitorReportsAtOnce();
    void notifiesOnlyOnChange();
    void loopOnRealClock();
};

// MARK: coalescing

void UsageStoreTest::joinersAndForcedFollowUps_data()
{
    QTest::addColumn<QList<bool>>("joinerForces");
    QTest::addColumn<bool>("fetchFails");
    QTest::addColumn<int>("followUps");

    QTest::newRow("unforced joiner waits only") << QList<bool> {false} << false << 0;
    QTest::newRow("three forced joiners, one follow-up") << QList<bool> {true, true, true} << false << 1;
    QTest::newRow("mixed joiners") << QList<bool> {false, true, false} << false << 1;
    QTest::newRow("forced joiner of a failing fetch") << QList<bool> {true} << true << 1;
    QTest::newRow("failing fetch without joiner") << QList<bool> {} << true << 0;
}

void UsageStoreTest::joinersAndForcedFollowUps()
{
    QFETCH(QList<bool>, joinerForces);
    QFETCH(bool, fetchFails);
    QFETCH(int, followUps);

    Harness h;
    UsageStore& store = h.make(UsageProvider::copilot);
    store.start(false);
    h.scheduler.advance(0);
    QCOMPARE(h.copilot.count(), 1);
    QVERIFY(!h.copilot.last().force);
    QVERIFY(store.copilot().isLoading);
    QVERIFY(store.isRefreshing());

    int waiters = 0;
    for (bool force : joinerForces) {
        store.refresh(UsageProvider::copilot, force, h.recorder());
        ++waiters;
    }
    h.scheduler.drainPosted();
    QCOMPARE(h.copilot.count(), 1); // joiners start no fetch
    QVERIFY(h.results.empty());

    if (fetchFails)
        h.copilot.fail(ProviderClientError::timedOut(QStringLiteral("Нет ответа")));
    else
        h.copilot.succeed(h.copilot.clean());
    QCOMPARE(int(h.results.size()), waiters);
    for (bool r : h.results)
        QCOMPARE(r, !fetchFails);
    QVERIFY(!store.isRefreshing());
    QCOMPARE(store.copilot().isLoading, false);

    h.scheduler.advance(0);
    QCOMPARE(h.copilot.count(), 1 + followUps);
    if (followUps) {
        QVERIFY(h.copilot.last().force);
        // The failure's retry time is not what schedules the follow-up.
        h.copilot.succeed(h.copilot.clean());
        h.scheduler.advance(0);
        QCOMPARE(h.copilot.count(), 2);
    }
    // The next read comes on the usual schedule.
    const double expected = fetchFails && !followUps ? 5 : 300;
    QCOMPARE(h.scheduler.nextDelay(), expected);
}

void UsageStoreTest::completesLaterNeverInline_data()
{
    QTest::addColumn<int>("mode"); // 0 completes inside the call, 1 throws inside the call
    QTest::newRow("completion inside the call") << 0;
    QTest::newRow("throws inside the call") << 1;
}

void UsageStoreTest::completesLaterNeverInline()
{
    QFETCH(int, mode);
    Harness h;
    UsageFetchers f;
    f.claude = [&](bool, CancelToken, Completion<ProviderUsage> done) {
        if (mode == 1)
            throw ProviderClientError::requestFailed(QStringLiteral("Сбой"));
        done(Result<ProviderUsage>::success(h.claude.clean()));
    };
    UsageStore store(profileOf(UsageProvider::claude), AccountScope::personal, f, h.defaults, h.scheduler);
    bool called = false;
    bool result = false;
    store.refresh(UsageProvider::claude, false, [&](bool r) { called = true; result = r; });
    QVERIFY(!called);
    QVERIFY(store.claude().isLoading);
    h.scheduler.drainPosted();
    QVERIFY(called);
    QCOMPARE(result, mode == 0);
    QCOMPARE(store.claude().errorCode, mode == 0 ? std::nullopt : std::optional<QString>("REQUEST_FAILED"));

    // Early answers are posted too.
    store.beginCodexReset();
    called = false;
    store.refresh(UsageProvider::claude, false, [&](bool r) { called = true; result = r; });
    QVERIFY(!called);
    h.scheduler.drainPosted();
    QVERIFY(called);
    QVERIFY(!result);
}

// MARK: served providers

void UsageStoreTest::servedProviders_data()
{
    QTest::addColumn<bool>("withProfile");
    QTest::addColumn<UsageProvider>("profileProvider");
    QTest::addColumn<UsageProvider>("asked");
    QTest::addColumn<bool>("served");

    QTest::newRow("codex profile, copilot asked") << true << UsageProvider::codex << UsageProvider::copilot << false;
    QTest::newRow("codex profile, codex asked") << true << UsageProvider::codex << UsageProvider::codex << true;
    QTest::newRow("antigravity profile, claude asked") << true << UsageProvider::antigravity << UsageProvider::claude << false;
    QTest::newRow("no profile, codex") << false << UsageProvider::codex << UsageProvider::codex << true;
    QTest::newRow("no profile, claude") << false << UsageProvider::codex << UsageProvider::claude << true;
    QTest::newRow("no profile, copilot") << false << UsageProvider::codex << UsageProvider::copilot << false;
    QTest::newRow("no profile, antigravity") << false << UsageProvider::codex << UsageProvider::antigravity << false;
}

void UsageStoreTest::servedProviders()
{
    QFETCH(bool, withProfile);
    QFETCH(UsageProvider, profileProvider);
    QFETCH(UsageProvider, asked);
    QFETCH(bool, served);

    Harness h;
    UsageStore& store = withProfile ? h.make(profileProvider) : h.make(std::nullopt);
    const ProviderUsage before = store.usage(asked);
    h.fetch(asked).automatic = [&](bool) { return Result<ProviderUsage>::success(h.fetch(asked).clean()); };
    store.refresh(asked, true, h.recorder());
    h.scheduler.drainPosted();
    QCOMPARE(h.fetch(asked).count(), served ? 1 : 0);
    QCOMPARE(h.results, std::vector<bool> {served});
    if (!served)
        QCOMPARE(store.usage(asked), before);

    // Starting schedules every served provider, in order, at once.
    Harness g;
    UsageStore& started = withProfile ? g.make(profileProvider) : g.make(std::nullopt);
    started.start(false);
    g.scheduler.advance(0);
    for (UsageProvider p : kAllUsageProviders)
        QCOMPARE(g.fetch(p).count(), started.serves(p) ? 1 : 0);
    QCOMPARE(int(started.servedProviders().size()), withProfile ? 1 : 2);
}

// MARK: offline

void UsageStoreTest::offline_data()
{
    QTest::addColumn<UsageProvider>("provider");
    QTest::addColumn<bool>("read");          // the fetch runs regardless
    QTest::addColumn<bool>("keepsWindows");

    QTest::newRow("codex") << UsageProvider::codex << false << true;
    QTest::newRow("copilot") << UsageProvider::copilot << false << false;
    QTest::newRow("claude") << UsageProvider::claude << true << true;
    QTest::newRow("antigravity") << UsageProvider::antigravity << true << true;
}

void UsageStoreTest::offline()
{
    QFETCH(UsageProvider, provider);
    QFETCH(bool, read);
    QFETCH(bool, keepsWindows);

    Harness h;
    UsageStore& store = h.make(provider);
    FakeFetch& fetch = h.fetch(provider);
    store.start(true);
    h.scheduler.advance(0);
    QCOMPARE(fetch.count(), 1);
    ProviderUsage first = fetch.clean();
    first.sourceNote = QStringLiteral("заметка");
    fetch.succeed(first);

    h.monitors.back()->report(false);
    h.scheduler.drainPosted();
    QVERIFY(!store.hasNetwork());

    store.refresh(provider, false, h.recorder());
    QVERIFY(store.usage(provider).isLoading); // loading until the next turn, like any fetch
    h.scheduler.drainPosted();
    QCOMPARE(fetch.count(), read ? 2 : 1);
    if (read) {
        fetch.succeed(fetch.clean(50));
        QCOMPARE(store.usage(provider).windows.first().usedPercent, 50.0);
        return;
    }
    const ProviderUsage& u = store.usage(provider);
    QCOMPARE(h.results, std::vector<bool> {false});
    QCOMPARE(u.errorCode, std::optional<QString>("NETWORK_OFFLINE"));
    QCOMPARE(u.errorMessage, std::optional<QString>("Нет подключения к сети. Повторю запрос после восстановления соединения."));
    QCOMPARE(u.failureCount, 1);
    QVERIFY(u.nextRetryAt);
    QCOMPARE(h.since(*u.nextRetryAt), 60.0);
    QCOMPARE(h.scheduler.nextDelay(), 60.0);
    QCOMPARE(u.windows.size(), keepsWindows ? 1 : 0);
    QCOMPARE(u.sourceNote.has_value(), keepsWindows);
    QCOMPARE(u.updatedAt.has_value(), keepsWindows);
    QCOMPARE(u.planName, std::optional<QString>("Pro")); // the plan stays for every provider
    QVERIFY(!u.isLoading);
}

// MARK: failures

void UsageStoreTest::failureBackOff_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QList<double>>("delays"); // per failure in a row; -1: no retry

    QTest::newRow("timeout") << 0 << "TIMEOUT" << QList<double> {5, 15, 30, 60, 120, 300, 300};
    QTest::newRow("missing program") << 1 << "CLI_NOT_FOUND" << QList<double> {-1};
    QTest::newRow("expired session") << 2 << "AUTH_EXPIRED" << QList<double> {60, 60};
    QTest::newRow("diagnostic with short retry-after") << 3 << "CODEX_AUTH" << QList<double> {1, 1};
    QTest::newRow("diagnostic not retryable") << 4 << "CODEX_EXIT_2" << QList<double> {-1};
    QTest::newRow("foreign error") << 5 << "NSPOSIXErrorDomain 32" << QList<double> {5, 15};
    QTest::newRow("diagnostic with endless retry-after") << 6 << "SLOW" << QList<double> {ProviderClientError::kMaximumRetryDelay};
}

void UsageStoreTest::failureBackOff()
{
    QFETCH(int, kind);
    QFETCH(QString, code);
    QFETCH(QList<double>, delays);

    const QString secret = QStringLiteral("Bearer abc.def ghp_0123456789abcdefABCDEF");
    auto error = [&]() -> std::exception_ptr {
        switch (kind) {
        case 0:
            return std::make_exception_ptr(ProviderClientError::timedOut(QStringLiteral("Нет ответа")));
        case 1:
            return std::make_exception_ptr(ProviderClientError::executableMissing(QStringLiteral("Нет программы")));
        case 2:
            return std::make_exception_ptr(ProviderClientError::sessionExpired(QStringLiteral("Войдите снова")));
        case 3:
            return std::make_exception_ptr(ProviderClientError::diagnostic(code, secret, true, 0.2));
        case 4:
            return std::make_exception_ptr(ProviderClientError::diagnostic(code, QStringLiteral("Выход"), false, 90));
        case 5:
            return std::make_exception_ptr(ForeignError::posix(32));
        default:
            return std::make_exception_ptr(ProviderClientError::diagnostic(
                code, QStringLiteral("Позже"), true, std::numeric_limits<double>::infinity()));
        }
    };

    Harness h;
    UsageStore& store = h.make(UsageProvider::copilot);
    store.start(false);
    h.scheduler.advance(0);
    h.copilot.succeed(h.copilot.clean());
    store.refresh(UsageProvider::copilot, false);

    for (int i = 0; i < delays.size(); ++i) {
        QCOMPARE(h.copilot.count(), i + 2);
        h.copilot.answer(h.copilot.calls.size() - 1, Result<ProviderUsage>::failure(error()));
        const ProviderUsage& u = store.copilot();
        QCOMPARE(u.failureCount, i + 1);
        QCOMPARE(u.errorCode, std::optional<QString>(code));
        QVERIFY(u.errorMessage);
        QVERIFY(!u.errorMessage->contains(QStringLiteral("ghp_")));
        QVERIFY(u.windows.isEmpty());
        if (delays[i] < 0) {
            QVERIFY(!u.nextRetryAt);
            QCOMPARE(h.scheduler.scheduledCount(), std::size_t(0));
            break;
        }
        QVERIFY(u.nextRetryAt);
        QCOMPARE(h.since(*u.nextRetryAt), delays[i]);
        QCOMPARE(h.scheduler.nextDelay(), delays[i]);
        QVERIFY(h.scheduler.runNext());
        QVERIFY(!h.copilot.last().force);
    }
    if (kind == 3)
        QCOMPARE(*store.copilot().errorMessage, QStringLiteral("[redacted] [redacted]"));

    // A clean read ends the run of failures.
    if (h.copilot.open()) {
        h.copilot.succeed(h.copilot.clean());
        QCOMPARE(store.copilot().failureCount, 0);
        QVERIFY(!store.copilot().errorMessage);
        QVERIFY(!store.copilot().nextRetryAt);
    }
}

void UsageStoreTest::usageWithOwnError_data()
{
    QTest::addColumn<UsageProvider>("provider");
    QTest::addColumn<double>("clientRetry"); // NaN: not set; inf: not finite
    QTest::addColumn<double>("retryAt");     // recorded nextRetryAt, from now
    QTest::addColumn<double>("delay");       // until the retry

    const double unset = std::nan("");
    QTest::newRow("claude without retry time") << UsageProvider::claude << unset << 300.0 << 300.0;
    QTest::newRow("antigravity without retry time") << UsageProvider::antigravity << unset << 30.0 << 30.0;
    QTest::newRow("codex without retry time") << UsageProvider::codex << unset << 30.0 << 30.0;
    QTest::newRow("copilot with its own retry time") << UsageProvider::copilot << 77.0 << 77.0 << 77.0;
    QTest::newRow("claude with a retry time in the past") << UsageProvider::claude << -10.0 << -10.0 << 0.0;
    QTest::newRow("endless retry time") << UsageProvider::antigravity << std::numeric_limits<double>::infinity() << 30.0 << 30.0;
}

void UsageStoreTest::usageWithOwnError()
{
    QFETCH(UsageProvider, provider);
    QFETCH(double, clientRetry);
    QFETCH(double, retryAt);
    QFETCH(double, delay);

    Harness h;
    UsageStore& store = h.make(provider);
    FakeFetch& fetch = h.fetch(provider);
    store.start(false);
    for (int round = 1; round <= 2; ++round) {
        h.scheduler.runNext();
        QCOMPARE(fetch.count(), round);
        ProviderUsage u = fetch.clean();
        u.isStale = true;
        u.errorCode = QStringLiteral("STATUSLINE_STALE");
        u.errorMessage = QStringLiteral("Устарело: access_token=abcdef123");
        if (!std::isnan(clientRetry))
            u.nextRetryAt = std::isfinite(clientRetry) ? h.scheduler.now().adding(clientRetry)
                                                       : Timestamp::fromSinceReference(clientRetry);
        fetch.succeed(u);
        const ProviderUsage& got = store.usage(provider);
        QCOMPARE(got.failureCount, round);
        QCOMPARE(got.windows.size(), 1); // the data stays
        QCOMPARE(got.errorCode, std::optional<QString>("STATUSLINE_STALE"));
        QCOMPARE(got.errorMessage, std::optional<QString>("Устарело: [redacted]"));
        QVERIFY(!got.isLoading);
        QVERIFY(got.nextRetryAt);
        QCOMPARE(h.since(*got.nextRetryAt), retryAt);
        QCOMPARE(h.scheduler.nextDelay(), delay);
    }
}

void UsageStoreTest::foreignProviderRejected()
{
    Harness h;
    UsageStore& store = h.make(UsageProvider::copilot);
    store.refresh(UsageProvider::copilot, false, h.recorder());
    h.copilot.succeed(h.claude.clean());
    QCOMPARE(h.results, std::vector<bool> {false});
    QCOMPARE(store.copilot().errorCode, std::optional<QString>("INVALID_RESPONSE"));
    QCOMPARE(store.copilot().errorMessage, std::optional<QString>("Ответ другого провайдера отклонён."));
    QCOMPARE(store.claude(), ProviderUsage::placeholder(UsageProvider::claude));
}

// MARK: schedule

void UsageStoreTest::refreshInterval_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<double>("codex");
    QTest::addColumn<double>("claude");
    QTest::addColumn<double>("copilot");

    QTest::newRow("60") << QVariant(60.0) << 60.0 << 300.0 << 60.0;
    QTest::newRow("900") << QVariant(900.0) << 900.0 << 900.0 << 900.0;
    QTest::newRow("missing") << QVariant() << 300.0 << 300.0 << 300.0;
    QTest::newRow("zero") << QVariant(0.0) << 300.0 << 300.0 << 300.0;
    QTest::newRow("negative") << QVariant(-5.0) << 300.0 << 300.0 << 300.0;
    QTest::newRow("not a number") << QVariant(std::nan("")) << 300.0 << 300.0 << 300.0;
    QTest::newRow("infinite") << QVariant(std::numeric_limits<double>::infinity()) << 300.0 << 300.0 << 300.0;
    QTest::newRow("text") << QVariant(QStringLiteral("soon")) << 300.0 << 300.0 << 300.0;
}

void UsageStoreTest::refreshInterval()
{
    QFETCH(QVariant, stored);
    QFETCH(double, codex);
    QFETCH(double, claude);
    QFETCH(double, copilot);
    const QMap<UsageProvider, double> expected {{UsageProvider::codex, codex},
                                                {UsageProvider::claude, claude},
                                                {UsageProvider::copilot, copilot},
                                                {UsageProvider::antigravity, 30.0}};

    for (UsageProvider p : kAllUsageProviders) {
        Harness h;
        if (stored.isValid() && stored.typeId() == QMetaType::Double)
            h.defaults.setDouble(UsageStore::kRefreshIntervalKey, stored.toDouble());
        else if (stored.isValid())
            h.defaults.setString(UsageStore::kRefreshIntervalKey, stored.toString());
        UsageStore& store = h.make(p);
        FakeFetch& fetch = h.fetch(p);
        fetch.automatic = [&](bool) { return Result<ProviderUsage>::success(fetch.clean()); };
        store.start(false);
        h.scheduler.advance(0);
        const double start = h.scheduler.uptime();
        // Three more reads, each one interval after the one before.
        for (int i = 1; i <= 3; ++i) {
            QVERIFY(h.scheduler.runNext());
            QCOMPARE(fetch.count(), i + 1);
            QCOMPARE(h.scheduler.uptime() - start, i * expected[p]);
        }
    }
}

// MARK: stop

void UsageStoreTest::resultAfterStop()
{
    Harness h;
    UsageStore& store = h.make(UsageProvider::codex);
    store.start(true);
    h.scheduler.advance(0);
    store.refresh(UsageProvider::codex, true, h.recorder()); // a joiner
    QVERIFY(store.codex().isLoading);
    const CancelToken token = h.codex.last().token;

    store.stop();
    QVERIFY(token.isCancelled()); // the client ends its child
    QVERIFY(!store.isRefreshing());
    QVERIFY(*h.monitorCancelled.back());
    for (UsageProvider p : kAllUsageProviders)
        QVERIFY(!store.usage(p).isLoading);
    QVERIFY(h.results.empty()); // answered on the next turn
    h.scheduler.drainPosted();
    QCOMPARE(h.results, std::vector<bool> {false});

    const ProviderUsage afterStop = store.codex();
    QSignalSpy changed(&store, &UsageStore::codexChanged);
    h.codex.succeed(h.codex.clean());
    QCOMPARE(store.codex(), afterStop);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(h.scheduler.scheduledCount(), std::size_t(0));
    QVERIFY(h.defaults.values().isEmpty()); // no snapshot either
    h.scheduler.advance(3600);
    QCOMPARE(h.codex.count(), 1);
}

void UsageStoreTest::observerEndsFetchOnLoading_data()
{
    QTest::addColumn<bool>("reset"); // false: the observer stops the store
    QTest::newRow("stop") << false;
    QTest::newRow("reset begins") << true;
}

void UsageStoreTest::observerEndsFetchOnLoading()
{
    // Someone who hears of the loading state ends the loop before the fetch starts.
    QFETCH(bool, reset);
    Harness h;
    UsageStore& store = h.make(UsageProvider::codex);
    store.start(false);
    h.scheduler.advance(0);
    h.codex.succeed(h.codex.clean()); // so the next loading state is a change
    bool once = true;
    QObject::connect(&store, &UsageStore::codexChanged, &store, [&] {
        if (!std::exchange(once, false))
            return;
        if (reset)
            store.beginCodexReset();
        else
            store.stop();
    });
    store.refresh(UsageProvider::codex, true, h.recorder());
    QCOMPARE(h.codex.count(), 1);
    QVERIFY(!store.isRefreshing());
    h.scheduler.advance(3600);
    QCOMPARE(h.results, std::vector<bool> {false});
    QCOMPARE(h.codex.count(), 1);
    QVERIFY(!store.isRefreshing());
}

void UsageStoreTest::stopCancelsAndRestartsCleanly()
{
    // A hidden-then-shown profile: the abandoned fetch's late answer does not
    // end or overwrite the new one.
    Harness h;
    UsageStore& store = h.make(UsageProvider::claude);
    store.start(false);
    h.scheduler.advance(0);
    store.stop();
    store.start(false);
    h.scheduler.advance(0);
    QCOMPARE(h.claude.count(), 2);
    QVERIFY(h.claude.calls[0].token.isCancelled());
    QVERIFY(!h.claude.calls[1].token.isCancelled());

    h.claude.answer(0, Result<ProviderUsage>::success(h.claude.clean(99)));
    QVERIFY(store.claude().isLoading);
    QVERIFY(store.isRefreshing());
    h.claude.answer(1, Result<ProviderUsage>::success(h.claude.clean(10)));
    QCOMPARE(store.claude().windows.first().usedPercent, 10.0);
    QVERIFY(!store.isRefreshing());
    QCOMPARE(h.scheduler.nextDelay(), 300.0);
}

void UsageStoreTest::releasedStoreEndsItsWork()
{
    Harness h;
    h.make(std::nullopt);
    h.store->start(false);
    h.scheduler.advance(0);
    h.store->refresh(UsageProvider::codex, false, h.recorder());
    h.store->refreshAllSoon();
    const CancelToken token = h.codex.last().token;
    h.store.reset();
    QVERIFY(token.isCancelled());
    QCOMPARE(h.scheduler.scheduledCount(), std::size_t(0));
    h.codex.succeed(h.codex.clean()); // nothing left to touch
    h.scheduler.advance(3600);
    QCOMPARE(h.results, std::vector<bool> {false});
    QCOMPARE(h.codex.count(), 1);
}

// MARK: Codex reset

void UsageStoreTest::resetSuspendsRefreshing()
{
    Harness h;
    UsageStore& store = h.make(UsageProvider::codex);
    store.start(false);
    h.scheduler.advance(0);
    store.refresh(UsageProvider::codex, true, h.recorder());
    const CancelToken token = h.codex.last().token;

    store.beginCodexReset();
    QVERIFY(store.resetInProgress());
    QVERIFY(token.isCancelled());
    QVERIFY(!store.isRefreshing());
    QCOMPARE(h.scheduler.scheduledCount(), std::size_t(0));
    h.codex.succeed(h.codex.clean()); // late: ignored, also the forced follow-up
    store.refresh(UsageProvider::codex, true, h.recorder());
    store.refreshAllSoon();
    h.scheduler.advance(3600);
    QCOMPARE(h.codex.count(), 1);
    QCOMPARE(h.results, (std::vector<bool> {false, false}));
}

void UsageStoreTest::resetQuickRereads_data()
{
    QTest::addColumn<int>("outcome"); // -1: no result
    QTest::addColumn<bool>("withUsage");
    QTest::addColumn<bool>("usageShowsReset");
    QTest::addColumn<int>("resetAt");      // the quick read that first shows the reset; 0: none does
    QTest::addColumn<double>("firstDelay");
    QTest::addColumn<int>("quickReads");   // reads 2 s apart after the apply

    const int reset = int(CodexResetOutcome::reset);
    QTest::newRow("reset, limits still spent") << reset << true << false << 0 << 2.0 << 4;
    QTest::newRow("already redeemed, limits back on the second read")
        << int(CodexResetOutcome::alreadyRedeemed) << true << false << 2 << 2.0 << 2;
    QTest::newRow("reset, usage already shows it") << reset << true << true << 0 << 300.0 << 0;
    QTest::newRow("nothing to reset") << int(CodexResetOutcome::nothingToReset) << true << false << 0 << 300.0 << 0;
    QTest::newRow("reset without usage") << reset << false << false << 0 << 2.0 << 4;
    QTest::newRow("no result") << -1 << false << false << 0 << 2.0 << 1;
}

void UsageStoreTest::resetQuickRereads()
{
    QFETCH(int, outcome);
    QFETCH(bool, withUsage);
    QFETCH(bool, usageShowsReset);
    QFETCH(int, resetAt);
    QFETCH(double, firstDelay);
    QFETCH(int, quickReads);

    Harness h;
    UsageStore& store = h.make(UsageProvider::codex);
    QList<ProviderUsage> handed;
    store.setOnCodexUpdate([&](const ProviderUsage& u) { handed << u; });
    auto codexUsage = [&](bool shows) {
        ProviderUsage u = h.codex.clean();
        u.codexAccountID = QStringLiteral("acct");
        u.codexOrdinaryUsageAllowed = shows;
        u.windows = {UsageWindow {QStringLiteral("codex-primary"), QStringLiteral("5 ч"), shows ? 0.0 : 100.0, {}, 300, {}}};
        return u;
    };
    int reads = 0;
    h.codex.automatic = [&](bool) {
        ++reads;
        return Result<ProviderUsage>::success(codexUsage(resetAt > 0 && reads >= resetAt));
    };
    store.start(false);
    h.scheduler.advance(0);
    reads = 0;
    const int before = h.codex.count();

    store.beginCodexReset();
    std::optional<CodexResetResult> result;
    if (outcome >= 0) {
        result = CodexResetResult {};
        result->outcome = CodexResetOutcome(outcome);
        if (withUsage)
            result->usage = codexUsage(usageShowsReset);
    }
    handed.clear();
    store.applyCodexResetResult(result);
    QVERIFY(!store.resetInProgress());
    QCOMPARE(handed.size(), 1); // the controller hears of the usage at once
    const bool tookEffect = outcome >= 0 && didReset(CodexResetOutcome(outcome));
    QCOMPARE(store.postResetRefreshes(), tookEffect && !(withUsage && usageShowsReset) ? 3 : 0);
    if (!withUsage) {
        QVERIFY(!store.codex().isLoading);
        QCOMPARE(store.codex().isStale, std::optional<bool>(true));
        QCOMPARE(store.codex().sourceNote, std::optional<QString>("Ожидаю свежие лимиты после запроса сброса."));
    } else {
        QCOMPARE(store.codex(), *result->usage);
        QCOMPARE(json::parse(*h.defaults.data(store.snapshotKey(UsageProvider::codex))),
                 QJsonValue(result->usage->toJson()));
    }
    QCOMPARE(h.scheduler.nextDelay(), firstDelay);

    // Count the reads that follow 2 s apart, then the return to the interval.
    int quick = 0;
    double gap = firstDelay;
    while (gap == 2.0 && quick < 10) {
        QVERIFY(h.scheduler.runNext());
        ++quick;
        gap = h.scheduler.nextDelay();
    }
    QCOMPARE(quick, quickReads);
    QCOMPARE(gap, 300.0);
    QCOMPARE(store.postResetRefreshes(), 0);
    QCOMPARE(h.codex.count(), before + quickReads);
    // No re-read is left over for later: a spent window seen next time waits the interval.
    QVERIFY(h.scheduler.runNext());
    QCOMPARE(h.scheduler.nextDelay(), 300.0);
}

void UsageStoreTest::endCodexReset()
{
    Harness h;
    UsageStore& store = h.make(UsageProvider::codex);
    int updates = 0;
    store.setOnCodexUpdate([&](const ProviderUsage&) { ++updates; });
    store.start(false);
    h.scheduler.advance(0);
    store.beginCodexReset();
    QVERIFY(store.codex().isLoading); // the cancelled fetch left it loading
    store.endCodexReset();
    QVERIFY(!store.resetInProgress());
    QVERIFY(!store.codex().isLoading);
    QCOMPARE(updates, 1); // only the loading state of the first refresh
    QCOMPARE(h.scheduler.nextDelay(), 0.0);
    h.scheduler.advance(0);
    QCOMPARE(h.codex.count(), 2);
    QVERIFY(!h.codex.last().force);
}

// MARK: snapshots

void UsageStoreTest::snapshotsWrittenAndRestored_data()
{
    QTest::addColumn<bool>("withProfile");
    QTest::addColumn<AccountScope>("scope");
    QTest::addColumn<QString>("keyPrefix");
    QTest::newRow("profile") << true << AccountScope::personal << "usageSnapshot.v3.";
    QTest::newRow("no profile, personal") << false << AccountScope::personal << "usageSnapshot.v2.personal.";
    QTest::newRow("no profile, work") << false << AccountScope::work << "usageSnapshot.v2.work.";
}

void UsageStoreTest::snapshotsWrittenAndRestored()
{
    QFETCH(bool, withProfile);
    QFETCH(AccountScope, scope);
    QFETCH(QString, keyPrefix);

    const ProviderProfile profile = profileOf(UsageProvider::codex, QStringLiteral("/home/a/.codex"));
    Harness h;
    UsageStore& store = withProfile ? h.make(profile) : h.make(std::nullopt, scope);
    const QString key = store.snapshotKey(UsageProvider::codex);
    QCOMPARE(key, withProfile ? keyPrefix + profile.id() + ".codex" : keyPrefix + "codex");
    QCOMPARE(store.snapshotKey(UsageProvider::claude), QString(key).replace(".codex", ".claude"));

    // A clean read is saved; a failure is not; a usage with its own error is, with its counters.
    store.refresh(UsageProvider::codex, false);
    ProviderUsage first = h.codex.clean(70);
    first.codexAccountID = QStringLiteral("acct");
    first.codexResetCredits = CodexResetCredits {2, std::nullopt};
    h.codex.succeed(first);
    QCOMPARE(ProviderUsage::fromJson(json::parse(*h.defaults.data(key))), first);
    store.refresh(UsageProvider::codex, false);
    h.codex.fail(ProviderClientError::requestFailed(QStringLiteral("Сбой")));
    QCOMPARE(ProviderUsage::fromJson(json::parse(*h.defaults.data(key))), first);
    store.refresh(UsageProvider::codex, false);
    ProviderUsage withError = first;
    withError.errorMessage = QStringLiteral("Частично");
    h.codex.succeed(withError);
    const ProviderUsage saved = ProviderUsage::fromJson(json::parse(*h.defaults.data(key)));
    QCOMPARE(saved.failureCount, 2);
    QVERIFY(saved.nextRetryAt);
    // Claude Code of a store without a profile is never saved.
    if (!withProfile) {
        store.refresh(UsageProvider::claude, false);
        h.claude.succeed(h.claude.clean());
        QVERIFY(!h.defaults.data(store.snapshotKey(UsageProvider::claude)));
    }

    // A new store of the same profile (or scope) shows it at once, loading and without error.
    h.defaults.flush();
    auto restarted = h.defaults.restarted();
    UsageStore again(withProfile ? std::optional(profile) : std::nullopt, scope, {}, *restarted, h.scheduler);
    ProviderUsage expected = withError;
    expected.isLoading = true;
    expected.errorMessage.reset();
    expected.nextRetryAt.reset();
    expected.failureCount = 0;
    QCOMPARE(again.codex(), expected);
    QCOMPARE(again.restoreSnapshots(UsageProvider::codex), std::optional(expected));

    // Another profile, or the other scope, keeps its own snapshot.
    UsageStore other(withProfile ? std::optional(profileOf(UsageProvider::codex, "/home/a/.codex-work")) : std::nullopt,
                     scope == AccountScope::work ? AccountScope::personal : AccountScope::work, {}, *restarted,
                     h.scheduler);
    QCOMPARE(other.codex(), ProviderUsage::placeholder(UsageProvider::codex));
}

void UsageStoreTest::snapshotsIgnoredWhenForeignOrCorrupt_data()
{
    QTest::addColumn<QByteArray>("stored");
    ProviderUsage claude = ProviderUsage::placeholder(UsageProvider::claude);
    claude.isLoading = false;
    QTest::newRow("claude usage under the codex key") << json::serialize(claude.toJson());
    QTest::newRow("not JSON") << QByteArray("{oops");
    QTest::newRow("missing failureCount") << QByteArray(R"({"provider":"codex","windows":[],"isLoading":false})");
    QTest::newRow("unknown provider") << QByteArray(R"({"provider":"gemini","windows":[],"isLoading":false,"failureCount":0})");
}

void UsageStoreTest::snapshotsIgnoredWhenForeignOrCorrupt()
{
    QFETCH(QByteArray, stored);
    Harness h;
    const ProviderProfile profile = profileOf(UsageProvider::codex);
    const QString key = QStringLiteral("usageSnapshot.v3.") + profile.id() + QStringLiteral(".codex");
    h.defaults.setData(key, stored);
    UsageStore& store = h.make(profile);
    QCOMPARE(store.codex(), ProviderUsage::placeholder(UsageProvider::codex));
    QCOMPARE(*h.defaults.data(key), stored); // left untouched
}

// MARK: connectivity

void UsageStoreTest::connectivityLossAndReturn()
{
    Harness h;
    UsageStore& store = h.make(std::nullopt);
    h.codex.automatic = [&](bool) { return Result<ProviderUsage>::success(h.codex.clean()); };
    h.claude.automatic = [&](bool) { return Result<ProviderUsage>::success(h.claude.clean()); };
    QSignalSpy network(&store, &UsageStore::hasNetworkChanged);
    store.start(true);
    QCOMPARE(h.monitors.size(), std::size_t(1));
    h.scheduler.advance(0); // the first report (reachable) changes nothing
    QCOMPARE(network.count(), 0);
    QCOMPARE(h.codex.count(), 1);
    QCOMPARE(h.claude.count(), 1);
    FakeMonitor& monitor = *h.monitors.back();

    monitor.report(false);
    h.scheduler.drainPosted();
    QVERIFY(!store.hasNetwork());
    QCOMPARE(network.count(), 1);
    monitor.report(false);
    h.scheduler.advance(5);
    QCOMPARE(network.count(), 1);
    QCOMPARE(h.codex.count() + h.claude.count(), 2); // going offline starts nothing

    monitor.report(true);
    monitor.report(true); // a repeat adds nothing
    h.scheduler.drainPosted();
    QVERIFY(store.hasNetwork());
    QCOMPARE(network.count(), 2);
    QCOMPARE(h.scheduler.nextDelay(), 1.0);
    h.scheduler.advance(1);
    QCOMPARE(h.codex.count(), 2);
    QCOMPARE(h.claude.count(), 2);
    QVERIFY(h.codex.last().force);
    QVERIFY(h.claude.last().force);
    h.scheduler.advance(300);
    QCOMPARE(h.codex.count(), 3);
    QVERIFY(!h.codex.last().force);
}

void UsageStoreTest::connectivityMonitorLifecycle()
{
    Harness h;
    h.reachableAtStart = false;
    UsageStore& store = h.make(UsageProvider::copilot);
    store.start(false);
    QVERIFY(h.monitors.empty()); // not asked to follow connectivity
    store.stop();

    store.start(true);
    h.scheduler.drainPosted();
    QVERIFY(!store.hasNetwork()); // the first report is taken as it is
    h.scheduler.advance(0);
    QCOMPARE(h.copilot.count(), 0); // offline: no read
    QCOMPARE(store.copilot().errorCode, std::optional<QString>("NETWORK_OFFLINE"));
    store.stop();
    QVERIFY(*h.monitorCancelled.back());
    QVERIFY(!store.hasNetwork()); // kept across stop and start

    h.reachableAtStart = true;
    store.start(true);
    QCOMPARE(h.monitors.size(), std::size_t(2));
    h.scheduler.advance(0);
    QVERIFY(store.hasNetwork());
    // The unforced start refresh was replaced by the forced one of the recovery.
    QCOMPARE(h.copilot.count(), 0);
    h.scheduler.advance(1);
    QCOMPARE(h.copilot.count(), 1);
    QVERIFY(h.copilot.last().force);
}

void UsageStoreTest::systemMonitorReportsAtOnce()
{
    auto monitor = makeSystemConnectivityMonitor();
    QList<bool> reports;
    monitor->start([&](bool reachable) { reports << reachable; });
    QCOMPARE(reports.size(), 1);
    monitor->cancel();
    monitor.reset();
}

// MARK: observation

void UsageStoreTest::notifiesOnlyOnChange()
{
    Harness h;
    UsageStore& store = h.make(UsageProvider::codex);
    QSignalSpy codex(&store, &UsageStore::codexChanged);
    QSignalSpy claude(&store, &UsageStore::claudeChanged);
    QSignalSpy refreshing(&store, &UsageStore::isRefreshingChanged);
    int updates = 0;
    store.setOnCodexUpdate([&](const ProviderUsage&) { ++updates; });

    store.refresh(UsageProvider::codex, false); // the placeholder already shows loading
    QCOMPARE(codex.count(), 0);
    QCOMPARE(updates, 1);
    QCOMPARE(refreshing.count(), 1);
    const ProviderUsage u = h.codex.clean();
    h.codex.succeed(u);
    QCOMPARE(codex.count(), 1);
    QCOMPARE(updates, 2);
    QCOMPARE(refreshing.count(), 2);

    // The same result again: loading and back, nothing else.
    store.refresh(UsageProvider::codex, false);
    h.codex.succeed(u);
    QCOMPARE(codex.count(), 3);
    QCOMPARE(updates, 4);
    QCOMPARE(claude.count(), 0);

    // A difference in one window's observation time counts.
    store.refresh(UsageProvider::codex, false);
    ProviderUsage observed = u;
    observed.windows[0].observedAt = h.scheduler.now();
    h.codex.succeed(observed);
    QCOMPARE(codex.count(), 5);
    QCOMPARE(store.property("codex").value<ProviderUsage>(), observed);
}

// The loop wired to the application's scheduler and the system clock: reads
// keep coming one interval apart, and a read that failed is retried at the
// time its usage names.
void UsageStoreTest::loopOnRealClock()
{
    constexpr double kInterval = 0.15;
    constexpr double kRetry = 0.4;
    constexpr int kFailingRead = 5; // the sixth read
    QtScheduler scheduler;
    MemoryDefaults defaults;
    defaults.setDouble(UsageStore::kRefreshIntervalKey, kInterval);
    FakeFetch fetch(scheduler, UsageProvider::codex);
    std::vector<double> readAt;
    fetch.automatic = [&](bool) {
        readAt.push_back(scheduler.clock().uptime());
        ProviderUsage u = fetch.clean();
        if (readAt.size() == kFailingRead + 1) {
            u.errorCode = QStringLiteral("REQUEST_FAILED");
            u.errorMessage = QStringLiteral("Сервер недоступен.");
            u.nextRetryAt = scheduler.clock().now().adding(kRetry);
        }
        return Result<ProviderUsage>::success(u);
    };
    UsageStore store(profileOf(UsageProvider::codex), AccountScope::personal,
                     UsageFetchers {fetch.operation(), {}, {}, {}}, defaults, scheduler);
    bool sawError = false;
    connect(&store, &UsageStore::codexChanged, this, [&] { sawError = sawError || store.codex().errorMessage; });
    store.start(false);

    QTRY_VERIFY2_WITH_TIMEOUT(readAt.size() >= kFailingRead + 3,
                              qPrintable(QStringLiteral("%1 reads").arg(readAt.size())), 5000);
    store.stop();
    QVERIFY(sawError);
    QVERIFY(!store.codex().errorMessage);
    QCOMPARE(store.codex().failureCount, 0);

    // Timers never fire early; a little slack for the clocks' rounding.
    constexpr double kSlack = 0.002;
    for (int i = 1; i < int(readAt.size()); ++i) {
        const double expected = i == kFailingRead + 1 ? kRetry : kInterval;
        QVERIFY2(readAt[i] - readAt[i - 1] >= expected - kSlack,
                 qPrintable(QStringLiteral("read %1 came %2 s after the one before").arg(i).arg(readAt[i] - readAt[i - 1])));
    }
}

QTEST_GUILESS_MAIN(UsageStoreTest)
#include "test_usage_store.moc"
