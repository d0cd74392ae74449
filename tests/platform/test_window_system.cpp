#include "platform/WindowSystem.h"

#include <QTest>

class WindowSystemTest : public QObject {
    Q_OBJECT
private slots:
    void platformForSession_data()
    {
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QString>("platform"); // empty: leave Qt's choice
        QTest::newRow("X11 session") << QStringList {"DISPLAY=:0", "XDG_SESSION_TYPE=x11"} << "";
        QTest::newRow("Wayland with XWayland") << QStringList {"WAYLAND_DISPLAY=wayland-0", "DISPLAY=:0"} << "xcb";
        QTest::newRow("Wayland by session type") << QStringList {"XDG_SESSION_TYPE=wayland", "DISPLAY=:1"} << "xcb";
        QTest::newRow("Wayland without an X server") << QStringList {"WAYLAND_DISPLAY=wayland-0"} << "";
        QTest::newRow("the user's choice stands")
            << QStringList {"WAYLAND_DISPLAY=wayland-0", "DISPLAY=:0", "QT_QPA_PLATFORM=wayland"} << "";
        QTest::newRow("an empty choice is none") << QStringList {"WAYLAND_DISPLAY=w", "DISPLAY=:0", "QT_QPA_PLATFORM="}
                                                 << "xcb";
        QTest::newRow("nothing") << QStringList {} << "";
    }
    void platformForSession()
    {
        QFETCH(QStringList, environment);
        QFETCH(QString, platform);
        ProcessEnvironment env;
        for (const QString& assignment : environment)
            env.insert(assignment.section(QLatin1Char('='), 0, 0), assignment.section(QLatin1Char('='), 1));
        QCOMPARE(qtPlatformForSession(env).value_or(QString()), platform);
    }
};

QTEST_GUILESS_MAIN(WindowSystemTest)
#include "test_window_system.moc"
