#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

namespace testsupport {

QString fakeProgram(const QString& name)
{
    return QStringLiteral(VANTOREL_FAKES_DIR) + QLatin1Char('/') + name;
}

bool writeFile(const QString& path, const QByteArray& contents)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(contents) == contents.size();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeExecutable(const QString& path, const QByteArray& contents)
{
    return writeFile(path, contents) && QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QStringList processIds()
{
    QStringList ids;
    const auto entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool isPid = false;
        entry.toInt(&isPid);
        if (isPid)
            ids << entry;
    }
    return ids;
}

namespace {

// The fields of /proc/<pid>/stat after the command name: state, parent, ...;
// empty when there is no such process.
QList<QByteArray> statFields(const QString& pid)
{
    const QByteArray line = readFile(QStringLiteral("/proc/") + pid + QStringLiteral("/stat"));
    const qsizetype close = line.lastIndexOf(')');
    return close < 0 ? QList<QByteArray>() : line.mid(close + 2).split(' ');
}

QByteArray shellQuoted(const QString& text)
{
    return '\'' + text.toUtf8().replace('\'', "'\\''") + '\'';
}

} // namespace

int childProcessCount()
{
    const QByteArray self = QByteArray::number(::getpid());
    int count = 0;
    for (const QString& entry : processIds()) {
        const QList<QByteArray> fields = statFields(entry);
        if (fields.size() > 1 && fields.at(1) == self)
            ++count;
    }
    return count;
}

bool writeWrapper(const QString& path, const QString& program, const QString& pidLog, bool waitsForProgram)
{
    const QByteArray log = shellQuoted(pidLog);
    // An asynchronous command reads /dev/null unless told otherwise: the child
    // gets the wrapper's standard input through descriptor 3.
    QByteArray script = "#!/bin/sh\n"
                        "echo $$ >> " + log + "\n"
                        "exec 3<&0\n"
                        + shellQuoted(program) + " \"$@\" 0<&3 3<&- &\n"
                        "echo $! >> " + log + "\n";
    script += waitsForProgram ? "wait $!\n" : "exit 0\n";
    return writeExecutable(path, script);
}

QStringList loggedProcessIds(const QString& pidLog)
{
    return QString::fromLatin1(readFile(pidLog)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList runningProcesses(const QStringList& ids)
{
    QStringList running;
    for (const QString& pid : ids) {
        const QList<QByteArray> fields = statFields(pid);
        if (!fields.isEmpty() && fields.first() != "Z" && fields.first() != "X")
            running << pid;
    }
    return running;
}

UsageWindow limitWindow(const QString& id, double usedPercent, std::optional<Timestamp> resetsAt)
{
    UsageWindow w;
    w.id = id;
    w.title = id;
    w.usedPercent = usedPercent;
    w.resetsAt = resetsAt;
    return w;
}

} // namespace testsupport
