#pragma once

// Running a built program as a user would: with a bare environment of its own,
// and finding what it may have left running.

#include "platform/ChildProcess.h"
#include "platform/ProcessEnvironment.h"

#include <QString>
#include <QStringList>

namespace testsupport {

// This process's environment without any display, platform or XDG folder, with `home` as HOME.
ProcessEnvironment bareEnvironment(const QString& home);

// Starts `program` with both output streams piped (standard error keeps its last 64 KiB).
ChildProcess startProgram(const QString& program, const QStringList& arguments, const ProcessEnvironment& environment);

// Processes whose command line or working folder lies under `root`, as "pid: command line".
QStringList processesUnder(const QString& root);

} // namespace testsupport
