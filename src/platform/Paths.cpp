#include "Paths.h"

#include <QDir>
#include <QFileInfo>

namespace paths {

namespace {

// An XDG base folder: the variable when it holds an absolute path (the rules
// ignore a relative or empty value), else `fallback` in the home folder.
QString xdgFolder(const ProcessEnvironment& environment, const QString& variable, const QString& home,
                  const QString& fallback)
{
    const QString value = environment.value(variable);
    return value.startsWith(QLatin1Char('/')) ? value : joined(home, fallback);
}

// Linux has no Homebrew: the distribution's and the user's own program folders come after.
QStringList withLinuxFolders(QStringList candidates, const QString& home, const QString& name, Flavor flavor)
{
    if (flavor == Flavor::Linux) {
        for (const QString& extra : {QStringLiteral("/usr/bin/") + name, joined(home, QStringLiteral(".local/bin/") + name)})
            if (!candidates.contains(extra))
                candidates.append(extra);
    }
    return candidates;
}

} // namespace

QStringList claudeProgramCandidates(const QString& home, Flavor flavor)
{
    return withLinuxFolders({joined(home, QStringLiteral(".local/bin/claude")), QStringLiteral("/opt/homebrew/bin/claude"),
                             QStringLiteral("/usr/local/bin/claude")},
                            home, QStringLiteral("claude"), flavor);
}

QStringList codexProgramCandidates(const QString& home, Flavor flavor)
{
    return withLinuxFolders({QStringLiteral("/opt/homebrew/bin/codex"), QStringLiteral("/usr/local/bin/codex"),
                             joined(home, QStringLiteral(".local/bin/codex"))},
                            home, QStringLiteral("codex"), flavor);
}

QStringList copilotProgramCandidates(const QString& home, Flavor flavor)
{
    return withLinuxFolders({QStringLiteral("/opt/homebrew/bin/copilot"), QStringLiteral("/usr/local/bin/copilot"),
                             joined(home, QStringLiteral(".local/bin/copilot"))},
                            home, QStringLiteral("copilot"), flavor);
}

QStringList nodeProgramCandidates(const QString& home, Flavor flavor)
{
    return withLinuxFolders({QStringLiteral("/opt/homebrew/bin/node"), QStringLiteral("/usr/local/bin/node")},
                            home, QStringLiteral("node"), flavor);
}

QString statusLineFolder(const QString& home, const ProcessEnvironment& environment, Flavor flavor)
{
    if (flavor == Flavor::macOS)
        return joined(home, QStringLiteral("Library/Application Support/Vantorel/statusline"));
    return joined(xdgFolder(environment, QStringLiteral("XDG_DATA_HOME"), home, QStringLiteral(".local/share")),
                  QStringLiteral("Vantorel/statusline"));
}

QString crashReportsFolder(const QString& home, const ProcessEnvironment& environment, Flavor flavor)
{
    if (flavor == Flavor::macOS)
        return joined(home, QStringLiteral("Library/Caches/Vantorel/crash-reports"));
    return joined(xdgFolder(environment, QStringLiteral("XDG_CACHE_HOME"), home, QStringLiteral(".cache")),
                  QStringLiteral("Vantorel/crash-reports"));
}

QString besideProgram(const QString& programFolder, const QString& relative)
{
    return QDir::cleanPath(joined(programFolder, relative));
}

QString standardizedResolvedPath(const QString& path)
{
    const QString absolute = QDir::cleanPath(path.startsWith(QLatin1Char('/')) ? path : QDir::currentPath() + QLatin1Char('/') + path);
    const QStringList components = absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    // The longest leading part that exists carries the links; the rest is kept as written.
    QString resolved = absolute;
    for (qsizetype existing = components.size(); existing >= 0; --existing) {
        const QString prefix = QLatin1Char('/') + components.mid(0, existing).join(QLatin1Char('/'));
        const QString canonical = QFileInfo(prefix).canonicalFilePath();
        if (canonical.isEmpty())
            continue;
        const QStringList rest = components.mid(existing);
        resolved = rest.isEmpty() ? canonical : joined(canonical, rest.join(QLatin1Char('/')));
        break;
    }
#if defined(Q_OS_MACOS)
    // As the platform does: "/private/var/..." is reported as "/var/...".
    static const QString kPrivate = QStringLiteral("/private/");
    if (resolved.startsWith(kPrivate) && !absolute.startsWith(kPrivate)) {
        const QString stripped = resolved.mid(kPrivate.size() - 1);
        if (QFileInfo(stripped).canonicalFilePath() == QFileInfo(resolved).canonicalFilePath())
            resolved = stripped;
    }
#endif
    return resolved;
}

QString joined(const QString& folder, const QString& name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

QString withoutTrailingSlashes(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

} // namespace paths
