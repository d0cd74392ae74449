#include "app/GraphicalSession.h"

#include <QTest>

Q_DECLARE_METATYPE(ProcessEnvironment)

class GraphicalSessionTest : public QObject {
    Q_OBJECT

private slots:
    void missingSession_data()
    {
        QTest::addColumn<ProcessEnvironment>("environment");
        QTest::addColumn<bool>("missing");
        QTest::newRow("nothing") << ProcessEnvironment {} << true;
        QTest::newRow("X display") << ProcessEnvironment {{"DISPLAY", ":0"}} << false;
        QTest::newRow("Wayland display") << ProcessEnvironment {{"WAYLAND_DISPLAY", "wayland-0"}} << false;
        QTest::newRow("empty values count as none") << ProcessEnvironment {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}} << true;
        QTest::newRow("offscreen platform") << ProcessEnvironment {{"QT_QPA_PLATFORM", "offscreen"}} << false;
        QTest::newRow("platform with options") << ProcessEnvironment {{"QT_QPA_PLATFORM", "vnc:size=800x600"}} << false;
        QTest::newRow("display-less fallback") << ProcessEnvironment {{"QT_QPA_PLATFORM", "xcb;offscreen"}} << false;
        QTest::newRow("X platform without display") << ProcessEnvironment {{"QT_QPA_PLATFORM", "xcb"}} << true;
        QTest::newRow("empty platform") << ProcessEnvironment {{"QT_QPA_PLATFORM", ""}} << true;
        QTest::newRow("X platform with display") << ProcessEnvironment {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":1"}} << false;
    }
    void missingSession()
    {
        QFETCH(ProcessEnvironment, environment);
        QFETCH(bool, missing);
        const std::optional<QString> message = graphicalsession::missingSessionMessage(environment);
        QCOMPARE(message.has_value(), missing);
        if (message) {
            // One line, naming both variables.
            QVERIFY(!message->contains(QLatin1Char('\n')));
            QVERIFY(message->contains("DISPLAY") && message->contains("WAYLAND_DISPLAY"));
        }
    }
};

QTEST_GUILESS_MAIN(GraphicalSessionTest)
#include "test_graphical_session.moc"
