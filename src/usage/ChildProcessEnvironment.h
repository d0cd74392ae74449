#pragma once

#include "platform/ProcessEnvironment.h"

#include <QString>

// The environment of every program the application starts: `base` without
// "NODE_OPTIONS", PATH made of the program's own folder, "/opt/homebrew/bin",
// "/usr/local/bin", then the inherited PATH (or "/usr/bin:/bin:/usr/sbin:/sbin"
// when `base` has none), empty entries and later duplicates dropped.
// `executablePath` is the path of the program about to be started.
ProcessEnvironment childProcessEnvironment(const ProcessEnvironment& base, const QString& executablePath);
