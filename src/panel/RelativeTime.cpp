#include "RelativeTime.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace relativetime {

namespace {

// Seconds since 1970 that a QDateTime holds in milliseconds without overflow, with room to spare.
constexpr double kRepresentable = 1e14;

bool representable(Timestamp t)
{
    return std::isfinite(t.since1970()) && std::abs(t.since1970()) < kRepresentable;
}

QDateTime inZone(Timestamp t, const QTimeZone& zone)
{
    return t.toDateTime().toTimeZone(zone.isValid() ? zone : QTimeZone::utc());
}

QString number(std::int64_t n) { return QString::number(n); }

// Next multiple of `step` seconds after `date` that lies after `elapsed` seconds since it.
Timestamp nextStep(Timestamp date, double elapsed, double step)
{
    return date.adding(step * (std::floor(elapsed / step) + 1));
}

} // namespace

QString ageText(double seconds)
{
    if (!std::isfinite(seconds))
        return QStringLiteral("—");
    const auto s = static_cast<std::int64_t>(std::clamp(seconds, 0.0, kMaxSeconds));
    if (s < 60)
        return number(s) + QStringLiteral(" с");
    if (s < 3600)
        return number(s / 60) + QStringLiteral(" мин");
    if (s < 86400) {
        QString text = number(s / 3600) + QStringLiteral(" ч");
        if (const auto minutes = (s / 60) % 60)
            text += QLatin1Char(' ') + number(minutes) + QStringLiteral(" мин");
        return text;
    }
    QString text = number(s / 86400) + QStringLiteral(" д");
    if (const auto hours = (s / 3600) % 24)
        text += QLatin1Char(' ') + number(hours) + QStringLiteral(" ч");
    return text;
}

std::optional<Timestamp> nextAgeTick(Timestamp date, Timestamp now)
{
    const double elapsed = now.secondsSince(date);
    if (!std::isfinite(elapsed) || elapsed >= kMaxSeconds)
        return std::nullopt;
    if (elapsed < 0)
        return date;
    return nextStep(date, elapsed, elapsed < 60 ? 1.0 : 60.0);
}

QString agoText(Timestamp date, Timestamp now)
{
    const double elapsed = now.secondsSince(date);
    if (!std::isfinite(elapsed))
        return QStringLiteral("—");
    if (elapsed < 60)
        return QStringLiteral("только что");
    return ageText(elapsed) + QStringLiteral(" назад");
}

std::optional<Timestamp> nextAgoChange(Timestamp date, Timestamp now)
{
    const double elapsed = now.secondsSince(date);
    if (!std::isfinite(elapsed) || elapsed >= kMaxSeconds)
        return std::nullopt;
    if (elapsed < 0)
        return date.adding(60);
    return nextStep(date, elapsed, 60.0);
}

QString countdownText(Timestamp target, Timestamp now)
{
    const double remaining = target.secondsSince(now);
    if (!std::isfinite(remaining))
        return QStringLiteral("—");
    if (remaining <= 0)
        return agoText(target, now);
    const double minutes = std::ceil(std::min(remaining, kMaxSeconds) / 60.0);
    return QStringLiteral("через ") + ageText(minutes * 60.0);
}

std::optional<Timestamp> nextCountdownChange(Timestamp target, Timestamp now)
{
    const double remaining = target.secondsSince(now);
    if (!std::isfinite(remaining))
        return std::nullopt;
    if (remaining <= 0)
        return nextAgoChange(target, now);
    if (remaining > kMaxSeconds)
        return target.adding(-kMaxSeconds);
    // Remaining time in (60 (m - 1), 60 m] reads as m minutes.
    return target.adding(-60.0 * (std::ceil(remaining / 60.0) - 1));
}

QLocale resetLocale()
{
    return QLocale(QLocale::Russian, QLocale::Russia);
}

DatePatterns datePatterns(const QLocale& locale)
{
    if (locale.language() == QLocale::Russian)
        return {QStringLiteral("HH:mm"), QStringLiteral("ddd HH:mm"), QStringLiteral("d MMM, HH:mm"),
                QStringLiteral("d MMM yyyy 'г'., HH:mm")};
    const QString time = locale.timeFormat(QLocale::ShortFormat);
    const QString shortDate = locale.dateFormat(QLocale::ShortFormat);
    const bool monthFirst = shortDate.indexOf(QLatin1Char('M')) < shortDate.indexOf(QLatin1Char('d'));
    if (monthFirst)
        return {time, QStringLiteral("ddd ") + time, QStringLiteral("MMM d, ") + time,
                QStringLiteral("MMM d, yyyy, ") + time};
    return {time, QStringLiteral("ddd ") + time, QStringLiteral("d MMM, ") + time,
            QStringLiteral("d MMM yyyy, ") + time};
}

QString resetTimeText(Timestamp reset, Timestamp now, const QTimeZone& zone, const QLocale& locale)
{
    if (!representable(reset) || !representable(now))
        return QStringLiteral("—");
    const DatePatterns patterns = datePatterns(locale);
    const QDateTime at = inZone(reset, zone);
    const QDateTime today = inZone(now, zone);
    if (at.date() == today.date())
        return locale.toString(at, patterns.time);
    // Seven calendar days from the start of today, so a daylight-saving change on the way counts as a day.
    QDateTime limit = today.date().addDays(7).startOfDay(at.timeZone());
    if (!limit.isValid())
        limit = today;
    return locale.toString(at, at < limit ? patterns.weekdayTime : patterns.dayMonthTime);
}

QString abbreviatedDateTimeText(Timestamp date, const QTimeZone& zone, const QLocale& locale)
{
    if (!representable(date))
        return QStringLiteral("—");
    return locale.toString(inZone(date, zone), datePatterns(locale).dateTime);
}

} // namespace relativetime
