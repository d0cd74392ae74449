#pragma once

#include "platform/Timestamp.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <optional>

// One limit window of a provider.
struct UsageWindow {
    QString id;          // stable within its provider ("five_hour", "codex-primary", "gemini-...")
    QString title;
    double usedPercent = 0; // 100 or more means spent
    std::optional<Timestamp> resetsAt;
    std::optional<qint64> durationMinutes;
    std::optional<Timestamp> observedAt;

    bool operator==(const UsageWindow&) const = default;

    // Keys are the field names; absent optionals are left out; dates are seconds since 2001.
    QJsonObject toJson() const;
    // Strict: id, title and usedPercent required. Throws json::DecodeError.
    static UsageWindow fromJson(const QJsonValue& value, const QString& path = {});
};

