#pragma once

#include "StrictJson.h"
#include "Timestamp.h"

// Dates in persisted models: a JSON number of seconds since 2001-01-01 00:00:00 UTC.
namespace json {

// EncodeError when the date is not finite.
inline QJsonValue timestamp(Timestamp t) { return number(t.sinceReference()); }

inline Timestamp toTimestamp(const QJsonValue& value, const QString& path = {})
{
    return Timestamp::fromSinceReference(toDouble(value, path));
}

inline Timestamp timestamp(const Reader& reader, const QString& key)
{
    return Timestamp::fromSinceReference(reader.number(key));
}

inline std::optional<Timestamp> optTimestamp(const Reader& reader, const QString& key)
{
    const auto seconds = reader.optNumber(key);
    return seconds ? std::optional(Timestamp::fromSinceReference(*seconds)) : std::nullopt;
}

inline void setOptTimestamp(Writer& writer, const QString& key, const std::optional<Timestamp>& t)
{
    if (t)
        writer.set(key, timestamp(*t));
}

} // namespace json
