#include "platform/Scheduler.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <cmath>
#include <limits>

class SchedulerTest : public QObject {
    Q_OBJECT
private slots:
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
