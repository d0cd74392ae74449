#include "app/GraphicalSession.h"

#include <QStringList>

namespace graphicalsession {

namespace {

// Qt platforms that draw without a display server.
bool needsNoDisplay(const QString& platform)
{
    static const QStringList kDisplayless {QStringLiteral("offscreen"), QStringLiteral("minimal"),
                                           QStringLiteral("minimalegl"), QStringLiteral("vnc"),
                                           QStringLiteral("eglfs"), QStringLiteral("linuxfb"),
                                           QStringLiteral("vkkhrdisplay")};
    return kDisplayless.contains(platform.trimmed());
}

} // namespace

std::optional<QString> missingSessionMessage(const ProcessEnvironment& environment)
{
#if defined(Q_OS_MACOS)
    Q_UNUSED(environment);
    return std::nullopt;
#else
    if (!environment.value(QStringLiteral("DISPLAY")).isEmpty()
        || !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty())
        return std::nullopt;
    // "name:option=value" names one platform; ";" separates fallbacks, the first that loads wins.
    const QStringList platforms = environment.value(QStringLiteral("QT_QPA_PLATFORM")).split(QLatin1Char(';'));
    for (const QString& platform : platforms)
        if (needsNoDisplay(platform.section(QLatin1Char(':'), 0, 0)))
            return std::nullopt;
    return QStringLiteral("vantorel: нужен графический сеанс: не заданы DISPLAY и WAYLAND_DISPLAY.");
#endif
}

} // namespace graphicalsession
