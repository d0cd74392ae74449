#include <QCoreApplication>
#include <QTimer>

#include <csignal>

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Vantorel"));
    QCoreApplication::setOrganizationName(QStringLiteral("Vantorel"));
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    return app.exec();
}
