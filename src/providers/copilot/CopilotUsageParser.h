#pragma once

#include "platform/Timestamp.h"
#include "usage/ProviderUsage.h"

#include <QByteArray>
#include <QString>
#include <optional>

// Turns the "account.getQuota" result into the Copilot usage: one window per
// limited category, the names of the unlimited ones, the plan name and a
// source note. Pure: the moment of the reading is passed in.
class CopilotUsageParser {
public:
    // `reply` is the result as JSON; `planIdentifier` and `accountResetDate`
    // come from the chosen account ("copilot_plan", "quota_reset_date_utc").
    // Throws json::DecodeError when the reply does not decode, and
    // ProviderClientError::invalidResponse for a bad percentage or when
    // nothing is left to show.
    static ProviderUsage parse(const QByteArray& reply, const std::optional<QString>& planIdentifier,
                               const std::optional<QString>& accountResetDate, Timestamp now);

    // "free_limited_copilot" -> "Free", "individual" -> "Pro", "individual_pro" -> "Pro+",
    // "individual_max" -> "Max"; any other identifier humanized.
    static QString planName(const QString& identifier);
};
