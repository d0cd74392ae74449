#include "platform/CoalescedCall.h"

#include <QCoreApplication>
#include <QTest>

class CoalescedCallTest : public QObject {
    Q_OBJECT
private slots:
    // A burst of requests in one turn runs the callback once, on the next turn.
    void burstRunsOnceNextTurn()
    {
        int calls = 0;
        CoalescedCall call([&] { ++calls; });
        for (int i = 0; i < 50; ++i)
            call.request();
        QCOMPARE(calls, 0);
        QCoreApplication::processEvents();
        QCOMPARE(calls, 1);
        QCoreApplication::processEvents();
        QCOMPARE(calls, 1);
        call.request();
        call.flush();
        QCOMPARE(calls, 2);
        QCoreApplication::processEvents();
        QCOMPARE(calls, 2);
    }
};

QTEST_GUILESS_MAIN(CoalescedCallTest)
#include "test_coalesced_call.moc"
