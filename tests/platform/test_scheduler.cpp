#include "platform/Scheduler.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>

namespace {

// One case of the scheduling contract: `setup` schedules tasks that write to
// the log; once the loop has run, the log must read as expected.
using Setup = std::function<void(Scheduler& s, QStringList& log)>;

enum class Kind { virtualTime, qtTimers };

// Shared slots for the ids a case's tasks need before they run.
struct Ids {
    std::shared_ptr<Scheduler::TaskId> a = std::make_shared<Scheduler::TaskId>(0);
    std::shared_ptr<Scheduler::TaskId> b = std::make_shared<Scheduler::TaskId>(0);
};

} // namespace

Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(Kind)

class SchedulerTest : public QObject {
    Q_OBJECT
private slots:
    void contract_data();
    void contract();
    void virtualRunsInTimeOrder();
    void virtualCancel_data();
    void virtualCancel();
    void virtualClampsDelays_data();
    void virtualClampsDelays();
    void virtualPostFromWorker();
    void virtualWallTimeMovesAlone();
    void qtRunsPostedAndDelayed();
    void qtHugeDelayNeitherFiresNorOverflows();
    void timestampConversions();
};

// The contract every scheduler keeps, run against virtual time and against
// real timers on the event loop. Delays stay under 0.1 s.
void SchedulerTest::contract_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QStringList>("expected");

    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        Setup setup;
        QStringList expected;
    };
    const Case cases[] = {
        {"zero delay runs on a later turn", [](Scheduler& s, QStringList& log) { s.schedule(0, [&log] { log << "ran"; }); },
         {"ran"}},
        {"negative delay runs on a later turn",
         [](Scheduler& s, QStringList& log) { s.schedule(-3, [&log] { log << "ran"; }); }, {"ran"}},
        {"NaN delay runs on a later turn", [nan](Scheduler& s, QStringList& log) { s.schedule(nan, [&log] { log << "ran"; }); },
         {"ran"}},
        {"the id is known before the task runs",
         [](Scheduler& s, QStringList& log) {
             Ids ids;
             *ids.a = s.schedule(0, [ids, &log] { log << (*ids.a != 0 ? "knew its id" : "ran before its id was known"); });
         },
         {"knew its id"}},
        {"cancelled before it runs",
         [](Scheduler& s, QStringList& log) {
             s.cancel(s.schedule(0, [&log] { log << "cancelled"; }));
             s.cancel(s.schedule(0.02, [&log] { log << "cancelled later"; }));
             s.schedule(0.01, [&log] { log << "kept"; });
         },
         {"kept"}},
        {"a task cancels another due at the same time: exactly one runs",
         [](Scheduler& s, QStringList& log) {
             Ids ids;
             *ids.a = s.schedule(0.02, [ids, &s, &log] {
                 log << "first";
                 s.cancel(*ids.b);
             });
             *ids.b = s.schedule(0.02, [ids, &s, &log] {
                 log << "second";
                 s.cancel(*ids.a);
             });
         },
         {"first"}},
        {"a task cancels a later one",
         [](Scheduler& s, QStringList& log) {
             Ids ids;
             s.schedule(0.01, [ids, &s, &log] {
                 log << "early";
                 s.cancel(*ids.b);
             });
             *ids.b = s.schedule(0.05, [&log] { log << "late"; });
         },
         {"early"}},
        {"cancelling a spent or unknown id changes nothing",
         [](Scheduler& s, QStringList& log) {
             Ids ids;
             *ids.a = s.schedule(0, [&log] { log << "a"; });
             s.schedule(0.01, [ids, &s, &log] {
                 s.cancel(*ids.a);
                 s.cancel(987654);
                 log << "b";
             });
             s.schedule(0.02, [&log] { log << "c"; });
         },
         {"a", "b", "c"}},
        {"a task scheduled by a task runs after it",
         [](Scheduler& s, QStringList& log) {
             s.schedule(0.01, [&s, &log] {
                 log << "outer";
                 s.schedule(0, [&log] { log << "inner"; });
                 log << "outer ends";
             });
         },
         {"outer", "outer ends", "inner"}},
        {"a task rescheduling itself keeps its loop going",
         [](Scheduler& s, QStringList& log) {
             auto again = std::make_shared<std::function<void()>>();
             *again = [again, &s, &log] {
                 log << "tick";
                 if (log.size() < 3)
                     s.schedule(0, *again);
                 else
                     *again = nullptr; // ends the cycle of the shared function
             };
             s.schedule(0, *again);
         },
         {"tick", "tick", "tick"}},
        {"the earlier due runs first",
         [](Scheduler& s, QStringList& log) {
             s.schedule(0.05, [&log] { log << "late"; });
             s.schedule(0.01, [&log] { log << "early"; });
             s.schedule(0, [&log] { log << "now"; });
         },
         {"now", "early", "late"}},
        {"the same due runs in the order scheduled",
         [](Scheduler& s, QStringList& log) {
             for (const char* name : {"1", "2", "3"})
                 s.schedule(0, [&log, name] { log << name; });
         },
         {"1", "2", "3"}},
        {"an infinite or enormous delay never runs",
         [inf](Scheduler& s, QStringList& log) {
             s.schedule(inf, [&log] { log << "infinite"; });
             s.schedule(86400.0 * 1e7, [&log] { log << "enormous"; });
             s.schedule(0.01, [&log] { log << "soon"; });
         },
         {"soon"}},
    };
    for (const auto& [kind, prefix] : {std::pair {Kind::virtualTime, "virtual"}, std::pair {Kind::qtTimers, "qt"}})
        for (const Case& c : cases)
            QTest::addRow("%s: %s", prefix, c.name) << kind << c.setup << c.expected;
}

void SchedulerTest::contract()
{
    QFETCH(Kind, kind);
    QFETCH(Setup, setup);
    QFETCH(QStringList, expected);
    QStringList log;
    if (kind == Kind::virtualTime) {
        VirtualScheduler s;
        setup(s, log);
        QCOMPARE(log, QStringList {}); // nothing runs inside schedule()
        s.advance(1);
        QCOMPARE(log, expected);
        return;
    }
    QtScheduler s;
    setup(s, log);
    QCOMPARE(log, QStringList {});
    QTRY_COMPARE_WITH_TIMEOUT(log, expected, 5000);
    // Whatever else was due (a cancelled task) has had its time by then.
    bool settled = false;
    s.schedule(0.1, [&] { settled = true; });
    QTRY_VERIFY_WITH_TIMEOUT(settled, 5000);
    QCOMPARE(log, expected);
}

void SchedulerTest::virtualRunsInTimeOrder()
{
    VirtualScheduler s;
    QStringList order;
    const double t0 = s.uptime();
    s.schedule(300, [&] { order << "300"; });
    s.schedule(5, [&] {
        order << "5";
        s.schedule(1, [&] { order << "6"; });
        s.post([&] { order << "posted"; });
    });
    s.schedule(5, [&] { order << "5b"; });
    QCOMPARE(s.advance(4.9), 0);
    QCOMPARE(s.advance(1.5), 4); // 5, posted, 5b, 6
    QCOMPARE(order, (QStringList { "5", "posted", "5b", "6" }));
    QCOMPARE(s.nextDelay(), 300 - 6.4);
    QVERIFY(s.runNext());
    QCOMPARE(order.last(), QString("300"));
    QCOMPARE(s.uptime() - t0, 300.0);
    QVERIFY(!s.runNext());
}

void SchedulerTest::virtualCancel_data()
{
    QTest::addColumn<bool>("cancelBeforeDue");
    QTest::newRow("pending") << true;
    QTest::newRow("after it ran") << false;
}

void SchedulerTest::virtualCancel()
{
    QFETCH(bool, cancelBeforeDue);
    VirtualScheduler s;
    int ran = 0;
    auto id = s.schedule(10, [&] { ++ran; });
    auto other = s.schedule(10, [&] { ran += 10; });
    if (cancelBeforeDue)
        s.cancel(id);
    s.advance(20);
    s.cancel(id); // unknown or finished: nothing
    s.cancel(987654);
    QCOMPARE(ran, cancelBeforeDue ? 10 : 11);
    Q_UNUSED(other);
    QCOMPARE(s.scheduledCount(), std::size_t(0));
}

void SchedulerTest::virtualClampsDelays_data()
{
    QTest::addColumn<double>("delay");
    QTest::addColumn<bool>("runsAtOnce");
    QTest::newRow("negative") << -5.0 << true;
    QTest::newRow("nan") << std::nan("") << true;
    QTest::newRow("zero") << 0.0 << true;
    QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << false;
    QTest::newRow("enormous") << 1e300 << false;
}

void SchedulerTest::virtualClampsDelays()
{
    QFETCH(double, delay);
    QFETCH(bool, runsAtOnce);
    VirtualScheduler s;
    bool ran = false;
    s.schedule(delay, [&] { ran = true; });
    s.advance(0);
    QCOMPARE(ran, runsAtOnce);
    s.advance(1e9);
    QCOMPARE(ran, runsAtOnce);
}

void SchedulerTest::virtualPostFromWorker()
{
    VirtualScheduler s;
    std::atomic<bool> ranOnMain { false };
    QThread* worker = QThread::create([&] {
        s.post([&] { ranOnMain = QThread::currentThread() == qApp->thread(); });
    });
    worker->start();
    QVERIFY(s.waitUntil([&] { return ranOnMain.load(); }, 5000));
    worker->wait();
    delete worker;
}

void SchedulerTest::virtualWallTimeMovesAlone()
{
    VirtualScheduler s;
    const double up = s.uptime();
    const Timestamp later = s.now().adding(3600);
    s.setWallTime(later);
    QCOMPARE(s.now(), later);
    QCOMPARE(s.uptime(), up);
    s.advance(10);
    QCOMPARE(s.now(), later.adding(10));
}

void SchedulerTest::qtRunsPostedAndDelayed()
{
    QtScheduler s;
    QStringList order;
    QEventLoop loop;
    s.schedule(0.05, [&] { order << "delayed"; loop.quit(); });
    auto cancelled = s.schedule(0.01, [&] { order << "cancelled"; });
    s.cancel(cancelled);
    s.post([&] { order << "posted"; });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    QCOMPARE(order, (QStringList { "posted", "delayed" }));
}

void SchedulerTest::qtHugeDelayNeitherFiresNorOverflows()
{
    QtScheduler s;
    bool ran = false;
    // 10^7 days: far past a 32-bit millisecond timer.
    auto id = s.schedule(86400.0 * 1e7, [&] { ran = true; });
    s.schedule(std::numeric_limits<double>::infinity(), [&] { ran = true; });
    QTest::qWait(50);
    QVERIFY(!ran);
    s.cancel(id);
}

void SchedulerTest::timestampConversions()
{
    const Timestamp t = Timestamp::fromSince1970(1'800'000'000.5);
    QCOMPARE(t.sinceReference(), 1'800'000'000.5 - 978307200.0);
    QCOMPARE(t.since1970(), 1'800'000'000.5);
    QCOMPARE(Timestamp::fromSinceReference(0).toDateTime().toString(Qt::ISODate), QString("2001-01-01T00:00:00Z"));
    QCOMPARE(Timestamp::fromDateTime(t.toDateTime()).since1970(), 1'800'000'000.5);
    QVERIFY(t.adding(1) > t);
    QCOMPARE(t.adding(90).secondsSince(t), 90.0);
}

QTEST_GUILESS_MAIN(SchedulerTest)
#include "test_scheduler.moc"
