#pragma once

#include "platform/Timestamp.h"

#include <QLocale>
#include <QString>
#include <QTimeZone>

#include <optional>

// Russian wordings of how long ago or how soon something happens, and the
// reset times of the panel. Pure functions of their arguments: the caller
// passes the current time, the time zone and the locale.
//
// Every "next change" function answers the first moment after `now` at which
// its text may read differently, so a live label re-arms one timer for it;
// none when the text never changes again.
namespace relativetime {

// Longest interval worded: ten thousand years of 365.25 days.
constexpr double kMaxSeconds = 315'576'000'000.0;

// Age of an interval: "59 с", "3 мин", "1 ч 1 мин", "1 д 1 ч". Clamped to
// 0...kMaxSeconds and truncated to whole seconds; not finite: "—".
QString ageText(double seconds);
inline QString ageText(Timestamp from, Timestamp to) { return ageText(to.secondsSince(from)); }

// Ticks of the observation age: every second during the first minute after
// `date`, then every whole minute after `date`. A `date` still to come ticks
// first at `date` itself.
std::optional<Timestamp> nextAgeTick(Timestamp date, Timestamp now);

// How long ago `date` was: "только что" during its first minute (and for a
// date still to come), then "5 мин назад", "2 ч 5 мин назад", "3 д 4 ч назад".
QString agoText(Timestamp date, Timestamp now);
std::optional<Timestamp> nextAgoChange(Timestamp date, Timestamp now);

// How soon `target` comes, in whole minutes rounded up: "через 1 мин",
// "через 2 ч 5 мин", "через 3 д 4 ч". From `target` on it reads as agoText.
QString countdownText(Timestamp target, Timestamp now);
std::optional<Timestamp> nextCountdownChange(Timestamp target, Timestamp now);

// The locale of the relative reset times in limit rows, whatever the system's is.
QLocale resetLocale();

// Compact reset time, by the day `reset` falls on in `zone`: the same day as
// `now` gives the time alone ("14:05"); before the start of `now`'s day plus
// seven calendar days, the weekday and time ("пт 14:05"); later, the day,
// month and time ("12 апр., 14:05").
QString resetTimeText(Timestamp reset, Timestamp now, const QTimeZone& zone, const QLocale& locale);

// Date abbreviated with the time shortened: "3 февр. 2025 г., 14:05".
QString abbreviatedDateTimeText(Timestamp date, const QTimeZone& zone, const QLocale& locale);

// Patterns (QLocale::toString) of the wordings above in `locale`: Russian
// ones pinned, others built from the locale's short time and date formats.
struct DatePatterns {
    QString time;         // "HH:mm"
    QString weekdayTime;  // "ddd HH:mm"
    QString dayMonthTime; // "d MMM, HH:mm"
    QString dateTime;     // "d MMM yyyy 'г'., HH:mm"
};
DatePatterns datePatterns(const QLocale& locale);

} // namespace relativetime
