#include "panel/RelativeTime.h"
#include "panel/UsageObservationAge.h"
#include "platform/Scheduler.h"
#include "uisupport/RenderHarness.h"

#include <QApplication>
#include <QTest>

#include <cmath>
#include <limits>
#include <memory>

namespace {
const Timestamp kNow = Timestamp::fromSince1970(1'800'000'000.0);
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
} // namespace

class UsageObservationAgeTest : public QObject {
    Q_OBJECT
private slots:
    void ageText_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0.0 << "0 с";
        QTest::newRow("59") << 59.0 << "59 с";
        QTest::newRow("fraction truncates") << 59.99 << "59 с";
        QTest::newRow("60") << 60.0 << "1 мин";
        QTest::newRow("3 599") << 3599.0 << "59 мин";
        QTest::newRow("3 600") << 3600.0 << "1 ч";
        QTest::newRow("3 660") << 3660.0 << "1 ч 1 мин";
        QTest::newRow("2 h 30 s drops the seconds") << 7230.0 << "2 ч";
        QTest::newRow("86 399") << 86399.0 << "23 ч 59 мин";
        QTest::newRow("86 400") << 86400.0 << "1 д";
        QTest::newRow("90 000") << 90000.0 << "1 д 1 ч";
        QTest::newRow("1 d 59 min shows no minutes") << 86400.0 + 59 * 60 << "1 д";
        QTest::newRow("20 000 years clamp at ten thousand") << 20000 * 365.25 * 86400 << "3652500 д";
        QTest::newRow("5 min in the future") << -300.0 << "0 с";
        QTest::newRow("-inf") << -kInf << "—";
        QTest::newRow("+inf") << kInf << "—";
        QTest::newRow("NaN") << kNaN << "—";
    }
    void ageText()
    {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(relativetime::ageText(seconds), text);
        if (std::isfinite(seconds))
            QCOMPARE(UsageObservationAgeLabel::ageText(kNow, kNow.adding(seconds)), text);
    }

    void labelText() { QCOMPARE(UsageObservationAgeLabel::labelText("Обновлено", kNow, kNow.adding(200)), "Обновлено 3 мин"); }

    // Seconds after the observation at which the label ticks next; -1 for none.
    void nextTick_data()
    {
        QTest::addColumn<double>("elapsed");
        QTest::addColumn<double>("next");
        QTest::newRow("at the observation") << 0.0 << 1.0;
        QTest::newRow("mid-second") << 0.5 << 1.0;
        QTest::newRow("last second of the first minute") << 59.0 << 60.0;
        QTest::newRow("59.5 s") << 59.5 << 60.0;
        QTest::newRow("one minute: minute ticks begin") << 60.0 << 120.0;
        QTest::newRow("3 min 20 s") << 200.0 << 240.0;
        QTest::newRow("just before an hour") << 3599.0 << 3600.0;
        QTest::newRow("days on still tick by the minute") << 90000.0 << 90060.0;
        QTest::newRow("5 min in the future: first tick at the observation") << -300.0 << 0.0;
        QTest::newRow("past the clamp: never changes again") << relativetime::kMaxSeconds + 5 << -1.0;
        QTest::newRow("NaN") << kNaN << -1.0;
    }
    void nextTick()
    {
        QFETCH(double, elapsed);
        QFETCH(double, next);
        const auto tick = relativetime::nextAgeTick(kNow, kNow.adding(elapsed));
        if (next < 0) {
            QVERIFY(!tick);
            return;
        }
        QVERIFY(tick);
        QCOMPARE(tick->secondsSince(kNow), next);
    }

    // The label counts every second of the first minute, then steps once a minute,
    // each step a whole number of minutes after the observation.
    void labelFollowsTheTimeline()
    {
        VirtualScheduler clock(kNow);
        UsageObservationAgeLabel label(kNow, "Обновлено", nullptr, &clock);
        label.show();
        QCOMPARE(label.text(), "Обновлено 0 с");
        QStringList seen;
        QList<double> at;
        while (clock.now().secondsSince(kNow) < 180 && clock.runNext()) {
            seen << label.text();
            at << clock.now().secondsSince(kNow);
        }
        QCOMPARE(seen.size(), 59 + 3);
        QCOMPARE(seen.first(), "Обновлено 1 с");
        QCOMPARE(seen.at(58), "Обновлено 59 с");
        QCOMPARE(seen.at(59), "Обновлено 1 мин");
        QCOMPARE(at.at(59), 60.0);
        QCOMPARE(seen.at(60), "Обновлено 2 мин");
        QCOMPARE(at.at(60), 120.0);
        QCOMPARE(seen.last(), "Обновлено 3 мин");
        QCOMPARE(at.last(), 180.0);
    }

    void observedThreeMinutesTwentyAgo()
    {
        VirtualScheduler clock(kNow);
        UsageObservationAgeLabel label(kNow.adding(-200), "Обновлено", nullptr, &clock);
        label.show();
        QCOMPARE(label.text(), "Обновлено 3 мин");
        clock.advance(39.9);
        QCOMPARE(label.text(), "Обновлено 3 мин");
        clock.advance(0.1);
        QCOMPARE(label.text(), "Обновлено 4 мин");
        QCOMPARE(label.nextChange()->secondsSince(kNow.adding(-200)), 300.0);
    }

    void observationInTheFutureKeepsTheSecondsTimeline()
    {
        VirtualScheduler clock(kNow);
        const Timestamp date = kNow.adding(300);
        UsageObservationAgeLabel label(date, "Обновлено", nullptr, &clock);
        label.show();
        QCOMPARE(label.text(), "Обновлено 0 с");
        QCOMPARE(*label.nextChange(), date);
        clock.advance(300);
        QCOMPARE(label.text(), "Обновлено 0 с");
        QCOMPARE(*label.nextChange(), date.adding(1));
        clock.advance(1);
        QCOMPARE(label.text(), "Обновлено 1 с");
    }

    // No timer runs while the label is not shown; showing it again catches up at once.
    void timerRunsOnlyWhileShown()
    {
        VirtualScheduler clock(kNow);
        auto label = std::make_unique<UsageObservationAgeLabel>(kNow, "Последние данные", nullptr, &clock);
        QCOMPARE(label->text(), "Последние данные 0 с");
        QCOMPARE(clock.scheduledCount(), std::size_t(0));
        label->show();
        QCOMPARE(clock.scheduledCount(), std::size_t(1));
        label->hide();
        QCOMPARE(clock.scheduledCount(), std::size_t(0));
        QVERIFY(!label->nextChange());
        clock.advance(3 * 3600 + 120);
        QCOMPARE(label->text(), "Последние данные 0 с");
        label->show();
        QCOMPARE(label->text(), "Последние данные 3 ч 2 мин");
        QCOMPARE(clock.scheduledCount(), std::size_t(1));

        // A new date or prefix re-arms for the new timeline: one timer, never two.
        label->setDate(kNow.adding(3 * 3600 + 90));
        label->setPrefix("Обновлено");
        QCOMPARE(label->text(), "Обновлено 30 с");
        QCOMPARE(clock.scheduledCount(), std::size_t(1));
        QCOMPARE(*label->nextChange(), kNow.adding(3 * 3600 + 121));

        // A hidden parent hides the label too.
        QWidget parent;
        label->setParent(&parent);
        parent.show();
        QCOMPARE(clock.scheduledCount(), std::size_t(1));
        parent.hide();
        QCOMPARE(clock.scheduledCount(), std::size_t(0));
        parent.show();
        label.release(); // owned by the parent now
        QCOMPARE(clock.scheduledCount(), std::size_t(1));
    }

    // A label destroyed while its timer is armed leaves nothing behind to fire.
    void destroyedLabelCancelsItsTimer()
    {
        VirtualScheduler clock(kNow);
        {
            UsageObservationAgeLabel label(kNow, "Обновлено", nullptr, &clock);
            label.show();
            QCOMPARE(clock.scheduledCount(), std::size_t(1));
        }
        QCOMPARE(clock.scheduledCount(), std::size_t(0));
        clock.advance(3600);
    }

    // A non-finite date shows the dash and arms nothing.
    void nonFiniteDate()
    {
        VirtualScheduler clock(kNow);
        UsageObservationAgeLabel label(Timestamp::fromSinceReference(kNaN), "Обновлено", nullptr, &clock);
        label.show();
        QCOMPARE(label.text(), "Обновлено —");
        QCOMPARE(clock.scheduledCount(), std::size_t(0));
    }

    // The label draws plain text in whatever font and colour the caller gives it.
    void rendersInTheCallersStyle()
    {
        VirtualScheduler clock(kNow);
        UsageObservationAgeLabel label(kNow.adding(-200), "Обновлено", nullptr, &clock);
        QPalette palette = label.palette();
        palette.setColor(QPalette::WindowText, QColor("#696964"));
        label.setPalette(palette);
        const QImage image = uitest::render(label, QSize(140, 20));
        uitest::save(image, "observation_age");
        QVERIFY(uitest::countNear(image, image.rect(), QColor("#696964"), 10) > 20);
        QCOMPARE(uitest::countNear(image, image.rect(), QColor(Qt::black), 60), 0);
    }
};

VANTOREL_UI_TEST_MAIN(UsageObservationAgeTest)
#include "test_usage_observation_age.moc"
