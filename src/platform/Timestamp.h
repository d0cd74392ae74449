#pragma once

#include <QDateTime>
#include <compare>

// A point in time as double seconds since 2001-01-01 00:00:00 UTC, the reference
// date of persisted models. Conversions to and from the 1970 epoch are exact
// for the values bridge files carry.
class Timestamp {
public:
    static constexpr double kReferenceSince1970 = 978307200.0;

    constexpr Timestamp() = default;

    static constexpr Timestamp fromSinceReference(double seconds) { return Timestamp(seconds); }
    static constexpr Timestamp fromSince1970(double seconds) { return Timestamp(seconds - kReferenceSince1970); }
    static Timestamp fromDateTime(const QDateTime& dateTime);

    constexpr double sinceReference() const { return m_seconds; }
    constexpr double since1970() const { return m_seconds + kReferenceSince1970; }
    QDateTime toDateTime() const;

    constexpr Timestamp adding(double seconds) const { return Timestamp(m_seconds + seconds); }
    // Seconds from `other` to this one (positive when this is later).
    constexpr double secondsSince(Timestamp other) const { return m_seconds - other.m_seconds; }

    constexpr auto operator<=>(const Timestamp&) const = default;
    constexpr bool operator==(const Timestamp&) const = default;

private:
    constexpr explicit Timestamp(double seconds) : m_seconds(seconds) {}
    double m_seconds = 0;
};
