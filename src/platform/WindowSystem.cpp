#include "WindowSystem.h"

std::optional<QString> qtPlatformForSession(const ProcessEnvironment& environment)
{
    if (!environment.value(QStringLiteral("QT_QPA_PLATFORM")).isEmpty())
        return std::nullopt;
    const bool wayland = !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty()
        || environment.value(QStringLiteral("XDG_SESSION_TYPE")) == QLatin1String("wayland");
    if (!wayland || environment.value(QStringLiteral("DISPLAY")).isEmpty())
        return std::nullopt;
    return QStringLiteral("xcb");
}
