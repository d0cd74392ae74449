#pragma once

#include "ProcessEnvironment.h"

#include <QString>
#include <QStringList>

// Fixed locations of the tools' programs and of the statusLine bridge folder.
// macOS keeps its own list; Linux adds "/usr/bin" and "~/.local/bin".
namespace paths {

enum class Flavor { macOS, Linux };
#if defined(Q_OS_MACOS)
inline constexpr Flavor kHostFlavor = Flavor::macOS;
#else
inline constexpr Flavor kHostFlavor = Flavor::Linux;
#endif

// Program candidates, full paths in the order to test them. `home` is the home folder path.
QStringList claudeProgramCandidates(const QString& home, Flavor flavor = kHostFlavor);
// The fixed candidates; the Codex client then tries the entries of PATH.
QStringList codexProgramCandidates(const QString& home, Flavor flavor = kHostFlavor);
QStringList copilotProgramCandidates(const QString& home, Flavor flavor = kHostFlavor);
QStringList nodeProgramCandidates(const QString& home, Flavor flavor = kHostFlavor);

// The statusLine bridge folder: "$XDG_DATA_HOME/Vantorel/statusline" (an absolute
// XDG_DATA_HOME only; else "~/.local/share/Vantorel/statusline") on Linux,
// "~/Library/Application Support/Vantorel/statusline" on macOS.
QString statusLineFolder(const QString& home, const ProcessEnvironment& environment, Flavor flavor = kHostFlavor);

// The crash-reporting library's database: "$XDG_CACHE_HOME/Vantorel/crash-reports"
// (an absolute XDG_CACHE_HOME only; else "~/.cache/Vantorel/crash-reports") on
// Linux, "~/Library/Caches/Vantorel/crash-reports" on macOS.
QString crashReportsFolder(const QString& home, const ProcessEnvironment& environment, Flavor flavor = kHostFlavor);

// A folder named relative to the program's own folder, cleaned ("bin/../share" is "share").
QString besideProgram(const QString& programFolder, const QString& relative);

// A path made absolute, standardised ("." and ".." removed, no doubled or trailing
// "/") and with the symbolic links of its existing leading part resolved. Works
// for paths that do not exist: their missing tail is kept as written.
QString standardizedResolvedPath(const QString& path);

// `folder` and `name` joined by exactly one "/" (none added after a trailing one).
QString joined(const QString& folder, const QString& name);
// `path` without trailing "/" characters; "/" itself stays.
QString withoutTrailingSlashes(QString path);

} // namespace paths
