#include "usage/ChildProcessEnvironment.h"

#include <QDir>
#include <QStringList>

namespace {

// The program's path with its last component removed, as a path ("/" at the top).
QString programFolder(const QString& executablePath)
{
    QString path = executablePath;
    if (!path.startsWith(QLatin1Char('/')))
        path = QDir::currentPath() + QLatin1Char('/') + path;
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    QString folder = path.left(slash);
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    return folder.isEmpty() ? QStringLiteral("/") : folder;
}

} // namespace

ProcessEnvironment childProcessEnvironment(const ProcessEnvironment& base, const QString& executablePath)
{
    ProcessEnvironment env = base;
    env.remove(QStringLiteral("NODE_OPTIONS"));

    QStringList folders {programFolder(executablePath), QStringLiteral("/opt/homebrew/bin"), QStringLiteral("/usr/local/bin")};
    const auto inherited = base.constFind(QStringLiteral("PATH"));
    const QString searchPath = inherited != base.constEnd() ? *inherited : QStringLiteral("/usr/bin:/bin:/usr/sbin:/sbin");
    folders += searchPath.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    folders.removeDuplicates(); // keeps the first occurrence, in order
    env.insert(QStringLiteral("PATH"), folders.join(QLatin1Char(':')));
    return env;
}
