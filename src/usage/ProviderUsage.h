#pragma once

#include "platform/Timestamp.h"
#include "usage/CodexResetCredits.h"
#include "usage/UsageProvider.h"
#include "usage/UsageWindow.h"

#include <QJsonObject>
#include <QList>
#include <QStringList>
#include <optional>

// One provider's usage for one profile: what clients return, stores keep and views draw.
struct ProviderUsage {
    UsageProvider provider = UsageProvider::codex;
    std::optional<QString> planName;
    QList<UsageWindow> windows;            // display order
    std::optional<Timestamp> updatedAt;
    std::optional<QString> errorMessage;   // already cut and redacted
    bool isLoading = false;
    std::optional<QString> errorCode;
    std::optional<Timestamp> nextRetryAt;
    int failureCount = 0;
    std::optional<QString> sourceNote;
    std::optional<bool> isStale;
    std::optional<QStringList> unlimitedCategories;
    std::optional<bool> waitingForObservation;
    std::optional<QString> codexAccountID;
    std::optional<CodexResetCredits> codexResetCredits;
    std::optional<bool> codexOrdinaryUsageAllowed;
    std::optional<bool> codexSpendControlReached;
    std::optional<QString> codexReachedType;
    std::optional<bool> isSimulation;

    // What a store starts with: no windows, loading, no failures, every optional absent.
    static ProviderUsage placeholder(UsageProvider provider);

    // The largest finite usedPercent among the windows; none without one.
    std::optional<double> peakUsedPercent() const;

    // Some "codex-primary" or "codex-secondary" window at 100 % or more.
    bool hasExhaustedCodexWindow() const;
    // Whether a Codex reset credit may be offered for this usage at `now`.
    bool canOfferCodexReset(Timestamp now) const;

    bool operator==(const ProviderUsage&) const = default;

    // Keys are the field names; absent optionals are left out; dates are seconds since 2001.
    // Throws json::EncodeError for a non-finite number.
    QJsonObject toJson() const;
    // Strict: provider, windows, isLoading and failureCount required. Throws json::DecodeError.
    static ProviderUsage fromJson(const QJsonValue& value, const QString& path = {});
};
