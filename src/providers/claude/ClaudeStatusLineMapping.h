#pragma once

#include "platform/Timestamp.h"
#include "usage/ProviderUsage.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Turns the content of a Claude Code bridge file into usage.
class ClaudeStatusLineMapping {
public:
    // Decodes the file, checks that it belongs to `profileId` (the bridge file stem) and
    // `accountKey`, that its time and windows are sane, and builds one snapshot usage.
    // Throws a retryable ProviderClientError diagnostic (retry after 30 s): the first
    // fault met in the order format, identity, time, "five_hour", "seven_day", models.
    static ProviderUsage validate(const QByteArray& data, const QString& profileId, const QString& accountKey,
                                  Timestamp now);

    // Folds snapshot usages into one: newest window per id, fixed window order,
    // the oldest observation as updatedAt, staleness and the note on the "Fable" window.
    static ProviderUsage merge(const QList<ProviderUsage>& usages, Timestamp now);

    static constexpr double kStaleAfterSeconds = 300;
    static constexpr double kRetryAfterSeconds = 30;
};
