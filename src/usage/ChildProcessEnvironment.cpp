#include "usage/ChildProcessEnvironment.h"

#include "platform/Paths.h"

#include <QDir>
#include <QStringList>

namespace {

// The program's path with its last component removed, as a path ("/" at the top).
QString programFolder(const QString& executablePath)
{
    QString path = executablePath;
    if (!path.startsWith(QLatin1Char('/')))
        path = QDir::currentPath() + QLatin1Char('/') + path;
    path = paths::withoutTrailingSlashes(path);
    const QString folder = paths::withoutTrailingSlashes(path.left(path.lastIndexOf(QLatin1Char('/'))));
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
