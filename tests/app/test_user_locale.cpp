#include "app/UserLocale.h"

#include <QTest>

class UserLocaleTest : public QObject {
    Q_OBJECT
private slots:
    void chosenLocale_data()
    {
        QTest::addColumn<QLocale>("system");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no locale in the session") << QLocale::c() << "ru_RU";
        QTest::newRow("the user's own") << QLocale(QLocale::German, QLocale::Germany) << "de_DE";
        QTest::newRow("english kept") << QLocale(QLocale::English, QLocale::UnitedStates) << "en_US";
    }
    void chosenLocale()
    {
        QFETCH(QLocale, system);
        QFETCH(QString, expected);
        QCOMPARE(userLocale(system).name(), expected);
    }

    // A time in the session without a locale reads as hours and minutes.
    void timeWithoutSeconds()
    {
        const QTime time(10, 0);
        QCOMPARE(userLocale(QLocale::c()).toString(time, QLocale::ShortFormat), QStringLiteral("10:00"));
    }
};

QTEST_GUILESS_MAIN(UserLocaleTest)
#include "test_user_locale.moc"
