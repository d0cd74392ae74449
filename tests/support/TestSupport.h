#pragma once

#include "usage/UsageWindow.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace testsupport {

// Path of a fake tool program built beside the tests (e.g. "fake_codex").
QString fakeProgram(const QString& name);

// Writes `contents` to `path`, creating parent folders; fails the test on error.
bool writeFile(const QString& path, const QByteArray& contents);

// Contents of `path`, empty when it cannot be read.
QByteArray readFile(const QString& path);

// Writes `contents` to `path` as a program only its owner may read, write and run.
bool writeExecutable(const QString& path, const QByteArray& contents);

// Ids of the running processes, as /proc lists them.
QStringList processIds();

// Child processes of this process that have not been reaped (zombies included).
int childProcessCount();

// Writes a `#!/bin/sh` wrapper at `path` that starts `program` with its own
// arguments and standard input as a child, as package managers install tools,
// and appends its own process id and then the child's to `pidLog`, one a line.
// The wrapper waits for the child and exits with its status; unless
// `waitsForProgram`, it exits at once and leaves the child running.
bool writeWrapper(const QString& path, const QString& program, const QString& pidLog, bool waitsForProgram = true);

// The process ids in `pidLog`, one a line.
QStringList loggedProcessIds(const QString& pidLog);

// Those of `ids` still running (a zombie has ended).
QStringList runningProcesses(const QStringList& ids);

// A limit window titled by its id, with `usedPercent` and an optional reset time.
UsageWindow limitWindow(const QString& id, double usedPercent, std::optional<Timestamp> resetsAt = std::nullopt);

} // namespace testsupport
