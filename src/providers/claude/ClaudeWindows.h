#pragma once

#include "usage/UsageWindow.h"

#include <QList>
#include <QString>

// The Claude limit windows that both the control request and the bridge file describe.
namespace claudewindows {

inline const QString kFiveHourId = QStringLiteral("five_hour");
inline const QString kSevenDayId = QStringLiteral("seven_day");
inline const QString kFiveHourTitle = QStringLiteral("Current session · 5 часов");
inline const QString kSevenDayTitle = QStringLiteral("Неделя");
inline constexpr qint64 kFiveHourMinutes = 300;
inline constexpr qint64 kWeekMinutes = 10080;
inline constexpr qsizetype kLongestModelName = 128;

// "model-" + the name in lower case; the title keeps the name as written.
inline QString modelWindowId(const QString& name) { return QStringLiteral("model-") + name.toLower(); }
inline QString modelWindowTitle(const QString& name) { return name + QStringLiteral(" · неделя"); }

inline bool contains(const QList<UsageWindow>& windows, const QString& id)
{
    for (const UsageWindow& w : windows)
        if (w.id == id)
            return true;
    return false;
}

} // namespace claudewindows
