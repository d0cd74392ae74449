#include "accounts/AccountsHarness.h"
#include "panel/AccountsObserver.h"
#include "uisupport/RenderHarness.h"

#include <QApplication>
#include <QTest>

class AccountsObserverTest : public QObject {
    Q_OBJECT
private slots:
    // A burst of store changes within one turn costs one call on the next
    // turn; a store that joins later is followed as well.
    void coalescesChangesAndFollowsNewStores()
    {
        Harness h;
        h.saveList({h.profile(UsageProvider::codex, ".codex", "Codex", true),
                    h.profile(UsageProvider::claude, ".claude", "Claude", true)});
        UsageAccounts& accounts = h.make();
        int calls = 0;
        AccountsObserver observer(accounts, [&] { ++calls; });
        QCOMPARE(observer.followedStores(), 2);

        accounts.start(); // both stores start loading
        h.settle();       // and both answer
        QVERIFY(observer.isPending());
        QCOMPARE(calls, 0);
        QCoreApplication::processEvents();
        QCOMPARE(calls, 1);
        QVERIFY(!observer.isPending());

        // Nothing changes: nothing is called.
        QCoreApplication::processEvents();
        QCOMPARE(calls, 1);

        QVERIFY(h.home.build({"d:.codex-work"}));
        const ProviderProfile added = accounts.addProfileFolder(h.home.path(".codex-work"), UsageProvider::codex);
        QCOMPARE(observer.followedStores(), 3);
        observer.flush();
        QCOMPARE(calls, 2);

        accounts.setVisible(true, added.id()); // the new store starts and answers
        h.settle();
        observer.flush();
        QCOMPARE(calls, 3);
        accounts.stores().value(added.id())->refresh(UsageProvider::codex, true);
        h.settle();
        observer.flush();
        QCOMPARE(calls, 4);
    }
};

VANTOREL_UI_TEST_MAIN(AccountsObserverTest)
#include "test_accounts_observer.moc"
