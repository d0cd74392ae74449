#include "ProgramRun.h"

#include "TestSupport.h"

#include <QFileInfo>

namespace testsupport {

ProcessEnvironment bareEnvironment(const QString& home)
{
    ProcessEnvironment env = systemEnvironment();
    for (const QString& key : env.keys()) {
        if (key.startsWith(QLatin1String("XDG_")) || key.startsWith(QLatin1String("QT_")) || key == QLatin1String("DISPLAY")
            || key == QLatin1String("WAYLAND_DISPLAY"))
            env.remove(key);
    }
    env.insert(QStringLiteral("HOME"), home);
    return env;
}

ChildProcess startProgram(const QString& program, const QStringList& arguments, const ProcessEnvironment& environment)
{
    SpawnOptions options;
    options.program = program;
    options.arguments = arguments;
    options.environment = environment;
    options.stdoutMode = StreamMode::Pipe;
    options.stderrMode = StreamMode::Pipe;
    options.errorTailLimit = 65536;
    return ChildProcess::start(options);
}

QStringList processesUnder(const QString& root)
{
    QStringList found;
    for (const QString& pid : processIds()) {
        const QByteArray cmdline = readFile(QStringLiteral("/proc/") + pid + QStringLiteral("/cmdline"));
        const QString cwd = QFileInfo(QStringLiteral("/proc/") + pid + QStringLiteral("/cwd")).symLinkTarget();
        if (cmdline.contains(root.toUtf8()) || cwd.startsWith(root))
            found << pid + QStringLiteral(": ") + QString::fromUtf8(cmdline).replace(QChar(u'\0'), QChar(u' '));
    }
    return found;
}

} // namespace testsupport
