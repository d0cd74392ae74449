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

int childProcessCount()
{
    // Every /proc/<pid>/stat whose parent is this process.
    const QString self = QString::number(::getpid());
    int count = 0;
    for (const QString& entry : processIds()) {
        QFile stat(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const qsizetype close = line.lastIndexOf(')');
        if (close < 0)
            continue;
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (fields.size() > 1 && QString::fromLatin1(fields.at(1)) == self)
            ++count;
    }
    return count;
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
