#pragma once

#include "ProcessEnvironment.h"

#include <QString>
#include <optional>

// The Qt platform to ask for before the application object exists. Wayland
// gives a client no say over where its window goes, so in a Wayland session the
// panel runs on XWayland ("xcb") to sit on the screen edge. None when the user
// chose a platform (QT_QPA_PLATFORM), when the session is not Wayland, or when
// there is no X server to reach (no DISPLAY).
std::optional<QString> qtPlatformForSession(const ProcessEnvironment& environment);
