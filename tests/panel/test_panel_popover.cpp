#include "panel/PanelPopover.h"
#include "uisupport/RenderHarness.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

class PanelPopoverTest : public QObject {
    Q_OBJECT
private slots:
    // An open popover counts as the panel's child window until it closes; an
    // undismissable one survives close requests until dismissed.
    void registersWithItsPanelAndAnnouncesClosing()
    {
        QWidget panel;
        panel.setGeometry(100, 100, 70, 300);
        auto* button = new QWidget(&panel);
        button->setGeometry(10, 10, 40, 20);
        panel.show();

        PanelPopover popover(button);
        popover.resize(120, 80);
        QSignalSpy closed(&popover, &PanelPopover::closed);
        QSignalSpy registryClosed(&PanelPopoverRegistry::shared(), &PanelPopoverRegistry::popoverClosed);
        QCOMPARE(popover.panelWindow(), &panel);
        QVERIFY(PanelPopover::openPopovers(&panel).isEmpty());

        popover.popupAt(QPoint(300, 300));
        QCOMPARE(PanelPopover::openPopovers(&panel), QList<PanelPopover*>{&popover});
        QVERIFY(PanelPopover::containsGlobalPoint(&panel, QPoint(310, 310)));
        QVERIFY(!PanelPopover::containsGlobalPoint(&panel, QPoint(290, 290)));
        QVERIFY(PanelPopover::openPopovers(nullptr).isEmpty());

        popover.setDismissable(false);
        QVERIFY(!popover.close());
        QVERIFY(popover.isVisible());
        QCOMPARE(closed.count(), 0);

        popover.dismiss();
        QVERIFY(!popover.isVisible());
        QCOMPARE(closed.count(), 1);
        QCOMPARE(registryClosed.count(), 1);
        QCOMPARE(registryClosed.at(0).at(0).value<QWidget*>(), &panel);
        QVERIFY(PanelPopover::openPopovers(&panel).isEmpty());
    }
};

VANTOREL_UI_TEST_MAIN(PanelPopoverTest)
#include "test_panel_popover.moc"
