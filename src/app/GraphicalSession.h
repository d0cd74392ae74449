#pragma once

#include "platform/ProcessEnvironment.h"

#include <QString>
#include <optional>

namespace graphicalsession {

// The one line to print when the program has no graphical session to show its
// windows in (no DISPLAY and no WAYLAND_DISPLAY, and no display-less platform
// chosen through QT_QPA_PLATFORM); none when it may have one.
std::optional<QString> missingSessionMessage(const ProcessEnvironment& environment);

} // namespace graphicalsession
