#pragma once

#include "platform/StrictJson.h"

#include <QJsonArray>
#include <QList>
#include <QString>
#include <array>
#include <optional>

// Shared pieces of the models' raw values and JSON forms.

// The case of `cases` whose rawValue() is `raw`, or none.
template <class E, std::size_t N>
std::optional<E> caseWithRawValue(const std::array<E, N>& cases, const QString& raw)
{
    for (E c : cases)
        if (rawValue(c) == raw)
            return c;
    return std::nullopt;
}

// A JSON string that must be the raw value of one of `cases`; `what` names the type in errors.
template <class E, std::size_t N>
E caseFromJson(const std::array<E, N>& cases, const QJsonValue& value, const QString& path, const char* what)
{
    const QString raw = json::toString(value, path);
    if (auto c = caseWithRawValue(cases, raw))
        return *c;
    throw json::DecodeError(json::DecodeError::Corrupted, (path.isEmpty() ? QStringLiteral("value") : path)
                                                              + QStringLiteral(": unknown ") + QLatin1String(what) + QLatin1Char(' ') + raw);
}

// Every element of `array` decoded by `decode(value, path)`; fails as a whole on the first failure.
template <class Decode>
auto decodeList(const QJsonArray& array, const QString& path, Decode decode)
{
    return json::decodeElements<QList<decltype(decode(QJsonValue(), QString()))>>(array, path, decode);
}
