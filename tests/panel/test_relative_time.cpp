#include "panel/RelativeTime.h"

#include <QTest>
#include <QTimeZone>

#include <cmath>
#include <limits>

namespace {
const Timestamp kNow = Timestamp::fromSince1970(1'800'000'000.0);
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Timestamp at(const char* zone, int year, int month, int day, int hour, int minute)
{
    return Timestamp::fromDateTime(QDateTime(QDate(year, month, day), QTime(hour, minute), QTimeZone(zone)));
}
} // namespace

Q_DECLARE_METATYPE(Timestamp)

class RelativeTimeTest : public QObject {
    Q_OBJECT
private slots:
    // Both live wordings: how long ago a date was (offset = seconds since it) and
    // how soon a target comes (offset = seconds until it); the next change in
    // seconds from now, -1 for none.
    void liveWordings_data()
    {
        QTest::addColumn<bool>("countdown");
        QTest::addColumn<double>("offset");
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("nextIn");
        QTest::newRow("ago: now") << false << 0.0 << "только что" << 60.0;
        QTest::newRow("ago: 59 s") << false << 59.0 << "только что" << 1.0;
        QTest::newRow("ago: one minute") << false << 60.0 << "1 мин назад" << 60.0;
        QTest::newRow("ago: 5 min 30 s") << false << 330.0 << "5 мин назад" << 30.0;
        QTest::newRow("ago: one hour") << false << 3600.0 << "1 ч назад" << 60.0;
        QTest::newRow("ago: 2 h 5 min") << false << 7500.0 << "2 ч 5 мин назад" << 60.0;
        QTest::newRow("ago: 3 d 4 h 10 min") << false << 3 * 86400.0 + 4 * 3600 + 600 << "3 д 4 ч назад" << 60.0;
        QTest::newRow("ago: a date still to come") << false << -30.0 << "только что" << 90.0;
        QTest::newRow("ago: NaN") << false << kNaN << "—" << -1.0;
        QTest::newRow("until: 2 h 5 min") << true << 7500.0 << "через 2 ч 5 мин" << 60.0;
        QTest::newRow("until: a second less rounds up") << true << 7499.0 << "через 2 ч 5 мин" << 59.0;
        QTest::newRow("until: 2 h 4 min") << true << 7440.0 << "через 2 ч 4 мин" << 60.0;
        QTest::newRow("until: one hour") << true << 3600.0 << "через 1 ч" << 60.0;
        QTest::newRow("until: 61 s") << true << 61.0 << "через 2 мин" << 1.0;
        QTest::newRow("until: one minute") << true << 60.0 << "через 1 мин" << 60.0;
        QTest::newRow("until: half a second") << true << 0.5 << "через 1 мин" << 0.5;
        QTest::newRow("until: 3 d 4 h") << true << 3 * 86400.0 + 4 * 3600 << "через 3 д 4 ч" << 60.0;
        QTest::newRow("until: reached") << true << 0.0 << "только что" << 60.0;
        QTest::newRow("until: passed 2 min ago") << true << -120.0 << "2 мин назад" << 60.0;
        QTest::newRow("until: NaN") << true << kNaN << "—" << -1.0;
    }
    void liveWordings()
    {
        QFETCH(bool, countdown);
        QFETCH(double, offset);
        QFETCH(QString, text);
        QFETCH(double, nextIn);
        const Timestamp date = kNow.adding(countdown ? offset : -offset);
        auto wording = [&](Timestamp now) {
            return countdown ? relativetime::countdownText(date, now) : relativetime::agoText(date, now);
        };
        QCOMPARE(wording(kNow), text);
        const auto next = countdown ? relativetime::nextCountdownChange(date, kNow)
                                    : relativetime::nextAgoChange(date, kNow);
        if (nextIn < 0) {
            QVERIFY(!next);
            return;
        }
        QVERIFY(next);
        QCOMPARE(next->secondsSince(kNow), nextIn);
        // Right before the change the text is the same; at it, it differs (days change by the hour).
        QCOMPARE(wording(next->adding(-0.001)), text);
        if (std::abs(offset) < 86400)
            QVERIFY(wording(*next) != text);
    }

    // Moscow keeps one offset all year; Berlin moves its clocks on 30 March and 26 October 2025.
    void resetTimeText_data()
    {
        QTest::addColumn<Timestamp>("reset");
        QTest::addColumn<Timestamp>("now");
        QTest::addColumn<QString>("zone");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        const char* msk = "Europe/Moscow";
        const Timestamp wednesday = at(msk, 2025, 4, 2, 10, 0);
        QTest::newRow("later today") << at(msk, 2025, 4, 2, 18, 30) << wednesday << msk << "ru_RU" << "18:30";
        QTest::newRow("earlier today") << at(msk, 2025, 4, 2, 8, 15) << wednesday << msk << "ru_RU" << "08:15";
        QTest::newRow("tomorrow just after midnight") << at(msk, 2025, 4, 3, 0, 0) << wednesday << msk << "ru_RU"
                                                      << "чт 00:00";
        // Still 2 April in UTC: the day is the zone's, not UTC's.
        QTest::newRow("tomorrow here, today in UTC") << at(msk, 2025, 4, 3, 1, 0) << wednesday << msk << "ru_RU"
                                                     << "чт 01:00";
        QTest::newRow("three days ahead") << at(msk, 2025, 4, 5, 9, 0) << wednesday << msk << "ru_RU" << "сб 09:00";
        QTest::newRow("last minute before the week is out")
            << at(msk, 2025, 4, 8, 23, 59) << wednesday << msk << "ru_RU" << "вт 23:59";
        QTest::newRow("start of today plus seven days") << at(msk, 2025, 4, 9, 0, 0) << wednesday << msk << "ru_RU"
                                                        << "9 апр., 00:00";
        QTest::newRow("ten days ahead") << at(msk, 2025, 4, 12, 14, 5) << wednesday << msk << "ru_RU"
                                        << "12 апр., 14:05";
        QTest::newRow("genitive month") << at(msk, 2025, 5, 20, 7, 0) << wednesday << msk << "ru_RU"
                                        << "20 мая, 07:00";

        const char* ber = "Europe/Berlin";
        const Timestamp saturday = at(ber, 2025, 3, 29, 12, 0);
        // The week after 29 March is an hour short: it ends at 5 April 00:00 summer time.
        QTest::newRow("week with a spring change, before its end")
            << at(ber, 2025, 4, 4, 23, 30) << saturday << ber << "ru_RU" << "пт 23:30";
        QTest::newRow("week with a spring change, past its end")
            << at(ber, 2025, 4, 5, 0, 30) << saturday << ber << "ru_RU" << "5 апр., 00:30";
        QTest::newRow("same day across the spring change")
            << at(ber, 2025, 3, 30, 3, 30) << at(ber, 2025, 3, 30, 1, 30) << ber << "ru_RU" << "03:30";
        QTest::newRow("same day across the autumn change")
            << at(ber, 2025, 10, 26, 23, 0) << at(ber, 2025, 10, 26, 1, 0) << ber << "ru_RU" << "23:00";
        QTest::newRow("week with an autumn change, at its end")
            << at(ber, 2025, 11, 1, 0, 0) << at(ber, 2025, 10, 25, 9, 0) << ber << "ru_RU" << "1 нояб., 00:00";

        QTest::newRow("English time") << at(msk, 2025, 4, 2, 18, 30) << wednesday << msk << "en_US" << "6:30 PM";
        QTest::newRow("English weekday") << at(msk, 2025, 4, 5, 9, 0) << wednesday << msk << "en_US" << "Sat 9:00 AM";
        QTest::newRow("English day and month") << at(msk, 2025, 4, 12, 14, 5) << wednesday << msk << "en_US"
                                               << "Apr 12, 2:05 PM";
        QTest::newRow("German day and month") << at(msk, 2025, 4, 12, 14, 5) << wednesday << msk << "de_DE"
                                              << "12 Apr., 14:05";
        QTest::newRow("NaN reset") << Timestamp::fromSinceReference(kNaN) << wednesday << msk << "ru_RU" << "—";
        QTest::newRow("reset beyond any calendar") << Timestamp::fromSinceReference(1e300) << wednesday << msk
                                                   << "ru_RU" << "—";
    }
    void resetTimeText()
    {
        QFETCH(Timestamp, reset);
        QFETCH(Timestamp, now);
        QFETCH(QString, zone);
        QFETCH(QString, locale);
        QFETCH(QString, text);
        const QTimeZone tz(zone.toLatin1());
        QVERIFY(tz.isValid());
        QCOMPARE(relativetime::resetTimeText(reset, now, tz, QLocale(locale)), text);
    }

    void abbreviatedDateTime_data()
    {
        QTest::addColumn<Timestamp>("date");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::newRow("Russian") << at("Europe/Moscow", 2025, 2, 3, 14, 5) << "ru_RU" << "3 февр. 2025 г., 14:05";
        QTest::newRow("English") << at("Europe/Moscow", 2025, 2, 3, 14, 5) << "en_US" << "Feb 3, 2025, 2:05 PM";
        QTest::newRow("NaN") << Timestamp::fromSinceReference(kNaN) << "ru_RU" << "—";
    }
    void abbreviatedDateTime()
    {
        QFETCH(Timestamp, date);
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QCOMPARE(relativetime::abbreviatedDateTimeText(date, QTimeZone("Europe/Moscow"), QLocale(locale)), text);
    }

    void resetLocaleIsRussian() { QCOMPARE(relativetime::resetLocale().name(), "ru_RU"); }
};

QTEST_GUILESS_MAIN(RelativeTimeTest)
#include "test_relative_time.moc"
