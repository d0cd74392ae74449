#include "platform/TerminationSignals.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include <csignal>

class TerminationSignalsTest : public QObject {
    Q_OBJECT

private slots:
    void signalBecomesAQtSignal_data()
    {
        QTest::addColumn<QList<int>>("raised");
        QTest::newRow("SIGTERM") << QList<int> {SIGTERM};
        QTest::newRow("SIGINT") << QList<int> {SIGINT};
        QTest::newRow("SIGHUP") << QList<int> {SIGHUP};
        QTest::newRow("several before the loop turns") << QList<int> {SIGINT, SIGTERM, SIGHUP, SIGTERM};
    }
    void signalBecomesAQtSignal()
    {
        QFETCH(QList<int>, raised);
        TerminationSignals relay;
        QVERIFY(relay.isActive());
        QSignalSpy spy(&relay, &TerminationSignals::received);
        for (const int number : raised)
            QCOMPARE(std::raise(number), 0);
        // Nothing is delivered inside the handler: only the event loop hands it on.
        QCOMPARE(spy.count(), 0);
        QTRY_COMPARE(spy.count(), raised.size());
        for (qsizetype i = 0; i < raised.size(); ++i)
            QCOMPARE(spy.at(i).at(0).toInt(), raised.at(i));
    }

    void earlierDispositionComesBack()
    {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        struct sigaction saved {};
        QCOMPARE(::sigaction(SIGTERM, &ignore, &saved), 0);
        {
            TerminationSignals relay;
            struct sigaction during {};
            ::sigaction(SIGTERM, nullptr, &during);
            QVERIFY(during.sa_handler != SIG_IGN);
        }
        struct sigaction after {};
        ::sigaction(SIGTERM, nullptr, &after);
        QVERIFY(after.sa_handler == SIG_IGN);
        // Ignored again: raising it now does nothing.
        QCOMPARE(std::raise(SIGTERM), 0);
        ::sigaction(SIGTERM, &saved, nullptr);
    }

    // Started under nohup: the hang-up stays ignored, the other signals still arrive.
    void ignoredHangUpStaysIgnored()
    {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        struct sigaction saved {};
        QCOMPARE(::sigaction(SIGHUP, &ignore, &saved), 0);
        {
            TerminationSignals relay;
            QVERIFY(relay.isActive());
            QSignalSpy spy(&relay, &TerminationSignals::received);
            struct sigaction during {};
            ::sigaction(SIGHUP, nullptr, &during);
            QVERIFY(during.sa_handler == SIG_IGN);
            QCOMPARE(std::raise(SIGHUP), 0);
            QCOMPARE(std::raise(SIGTERM), 0);
            QTRY_COMPARE(spy.count(), 1);
            QCOMPARE(spy.at(0).at(0).toInt(), SIGTERM);
        }
        struct sigaction after {};
        ::sigaction(SIGHUP, nullptr, &after);
        QVERIFY(after.sa_handler == SIG_IGN);
        ::sigaction(SIGHUP, &saved, nullptr);
    }

    // A second instance leaves the handlers to the first.
    void oneInstanceAtATime()
    {
        TerminationSignals first;
        QSignalSpy firstSpy(&first, &TerminationSignals::received);
        {
            TerminationSignals second;
            QVERIFY(!second.isActive());
        }
        QVERIFY(first.isActive());
        QCOMPARE(std::raise(SIGINT), 0);
        QTRY_COMPARE(firstSpy.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TerminationSignalsTest)
#include "test_termination_signals.moc"
