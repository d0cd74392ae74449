#include "panel/KeyedWidgetList.h"
#include "uisupport/RenderHarness.h"

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QVBoxLayout>

class KeyedWidgetListTest : public QObject {
    Q_OBJECT
private slots:
    // Successive key lists build only new keys, drop gone ones, keep the rest
    // in the new order, and update every kept widget in place.
    void reconcilesByKey()
    {
        QWidget host;
        auto* layout = new QVBoxLayout(&host);
        auto* header = new QWidget;
        layout->addWidget(header); // a fixed child before the list
        layout->addStretch();
        KeyedWidgetList list(*layout, 1);
        QStringList updates;

        auto step = [&](const QStringList& keys) {
            updates.clear();
            return list.reconcile(
                keys,
                [&](int index) {
                    auto* w = new QWidget;
                    w->setObjectName(keys.at(index));
                    return w;
                },
                [&](QWidget* w, int index) { updates << w->objectName() + QString::number(index); });
        };
        auto order = [&] {
            QStringList names;
            for (int i = 0; i < layout->count(); ++i)
                if (QWidget* w = layout->itemAt(i)->widget())
                    names << (w == header ? QStringLiteral("header") : w->objectName());
            return names;
        };

        QCOMPARE(step({"a", "b", "c"}), 3);
        QCOMPARE(order(), (QStringList {"header", "a", "b", "c"}));
        QPointer<QWidget> a = list.widget("a");
        QPointer<QWidget> b = list.widget("b");

        QCOMPARE(step({"c", "a", "c"}), 0); // a repeated key keeps its first place
        QCOMPARE(order(), (QStringList {"header", "c", "a"}));
        QCOMPARE(updates, (QStringList {"c0", "a1"}));
        QVERIFY(b.isNull());
        QCOMPARE(list.widget("a"), a.data());

        QCOMPARE(step({"a", "d"}), 1);
        QCOMPARE(order(), (QStringList {"header", "a", "d"}));
        QCOMPARE(list.keys(), (QStringList {"a", "d"}));
        QCOMPARE(list.widget("a"), a.data());

        QCOMPARE(step({}), 0);
        QCOMPARE(order(), QStringList {"header"});
        QVERIFY(a.isNull());
    }
};

VANTOREL_UI_TEST_MAIN(KeyedWidgetListTest)
#include "test_keyed_widget_list.moc"
