#include "BuildInfo.h"
#include "app/AppDelegate.h"
#include "app/GraphicalSession.h"
#include "app/UserLocale.h"
#include "app/VantorelApp.h"
#include "platform/ChildProcess.h"
#include "platform/Defaults.h"
#include "platform/ProcessEnvironment.h"
#include "platform/Scheduler.h"
#include "platform/TerminationSignals.h"
#include "platform/WindowSystem.h"
#include "platform/Workers.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QSettings>
#include <QTimer>

#include <cstdio>
#include <memory>

int main(int argc, char** argv)
{
    // Before the application object and any thread exist.
    ignoreSigpipe();

    const ProcessEnvironment environment = systemEnvironment();
    if (const std::optional<QString> message = graphicalsession::missingSessionMessage(environment)) {
        std::fprintf(stderr, "%s\n", message->toLocal8Bit().constData());
        return 1;
    }

    // The panel sits on the screen edge only where the program may place its
    // windows: in a Wayland session it runs on XWayland.
    if (const std::optional<QString> platform = qtPlatformForSession(environment))
        qputenv("QT_QPA_PLATFORM", platform->toUtf8());

    QCoreApplication::setApplicationName(QStringLiteral("Vantorel"));
    QCoreApplication::setOrganizationName(QStringLiteral("Vantorel"));
    QCoreApplication::setApplicationVersion(QString::fromUtf8(buildinfo::kVersion));
    QApplication application(argc, argv);
    // Every window of the program, and the task switcher, show the launcher's icon.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/vantorel.svg")));
    QLocale::setDefault(userLocale(QLocale::system()));
    // Closing the settings window leaves the panels running.
    QApplication::setQuitOnLastWindowClosed(AppDelegate::applicationShouldTerminateAfterLastWindowClosed());

    // Logout, a closed terminal and Ctrl+C end the event loop, so the teardown below runs.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &application, &QCoreApplication::quit);

    SettingsDefaults defaults(std::make_unique<QSettings>());
    QtScheduler scheduler;
    int status = 0;
    {
        const VantorelApp app(defaults,
                              VantorelApp::standardSetup(QCoreApplication::applicationDirPath(), QDir::homePath(),
                                                         environment),
                              [&](std::function<void()> openSettings) {
                                  return AppDelegate::standardServices(defaults, scheduler, std::move(openSettings));
                              });
        AppDelegate& delegate = app.appDelegate();
        // Launch finishes once the event loop runs; termination runs as it ends.
        QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
        QObject::connect(&application, &QCoreApplication::aboutToQuit, &delegate,
                         &AppDelegate::applicationWillTerminate);
        status = application.exec();
        // Stopped work ends at once; its results must not outlive the scheduler.
        Workers::waitForDone();
    }
    defaults.flush();
    return status;
}
