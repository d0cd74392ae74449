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

// A limit window titled by its id, with `usedPercent` and an optional reset time.
UsageWindow limitWindow(const QString& id, double usedPercent, std::optional<Timestamp> resetsAt = std::nullopt);

} // namespace testsupport
