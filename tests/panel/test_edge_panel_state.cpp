#include "panel/EdgePanelState.h"
#include "uisupport/RenderHarness.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

class EdgePanelStateTest : public QObject {
    Q_OBJECT
private slots:
    // Starts as the strip; only a different mode notifies, carrying whether to animate.
    void notifiesOnlyOnChange()
    {
        EdgePanelState state;
        QCOMPARE(state.mode(), EdgePanelMode::strip);
        QSignalSpy changed(&state, &EdgePanelState::modeChanged);

        state.setMode(EdgePanelMode::strip, true);
        QCOMPARE(changed.count(), 0);
        QVERIFY(!state.changeAnimated());

        state.setMode(EdgePanelMode::rings, true);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).value<EdgePanelMode>(), EdgePanelMode::rings);
        QVERIFY(state.changeAnimated());

        state.setMode(EdgePanelMode::rings, false);
        QCOMPARE(changed.count(), 1);
        QVERIFY(state.changeAnimated()); // an ignored write leaves the last change as it was

        state.setMode(EdgePanelMode::cards);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(state.mode(), EdgePanelMode::cards);
        QVERIFY(!state.changeAnimated());
    }
};

VANTOREL_UI_TEST_MAIN(EdgePanelStateTest)
#include "test_edge_panel_state.moc"
