#pragma once

#include "platform/Paths.h"
#include "platform/ProcessEnvironment.h"
#include "platform/StrictJson.h"

#include <QString>
#include <cmath>

// Path of the bridge file named `stem` (".json" added) in the bridge folder.
inline QString statusLineBridgeFilePath(const QString& home, const ProcessEnvironment& environment, const QString& stem)
{
    return paths::statusLineFolder(home, environment) + QLatin1Char('/') + stem + QStringLiteral(".json");
}

// The members every statusLine bridge file starts with: its format version, whom
// it was written for and when (seconds since 1970).
struct StatusLineBridgeHeader {
    qint64 version = 0;
    QString profileId;
    QString accountKey;
    double capturedAt = 0;

    // Finite, after 1970 and at most a minute ahead of `nowSince1970`.
    bool capturedAtIsSane(double nowSince1970) const
    {
        return std::isfinite(capturedAt) && capturedAt > 0 && capturedAt <= nowSince1970 + kFutureToleranceSeconds;
    }
    static constexpr double kFutureToleranceSeconds = 60;

    // Throws json::DecodeError.
    static StatusLineBridgeHeader decode(const json::Reader& file)
    {
        return {file.integer(QStringLiteral("version")), file.string(QStringLiteral("profileId")),
                file.string(QStringLiteral("accountKey")), file.number(QStringLiteral("capturedAt"))};
    }
};

// Calls `decode(name, member)` for every member of the object `key` of `file`, each
// member an object; throws json::DecodeError when one is not.
template <class Decode>
void decodeObjectMembers(const json::Reader& file, const QString& key, Decode decode)
{
    const json::Reader map = file.object(key);
    for (auto it = map.object().constBegin(); it != map.object().constEnd(); ++it)
        decode(it.key(), json::Reader::fromValue(it.value(), map.child(it.key())));
}
