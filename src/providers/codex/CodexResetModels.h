#pragma once

#include "usage/CodexResetCredits.h"
#include "usage/ProviderUsage.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <array>
#include <optional>

// One confirmed reset spend; its key is reused for every retry.
struct CodexResetAttempt {
    QString accountID;
    QString idempotencyKey;

    bool operator==(const CodexResetAttempt&) const = default;
    QJsonObject toJson() const;
    // Throws json::DecodeError.
    static CodexResetAttempt fromJson(const QJsonValue& value, const QString& path = {});
};

enum class CodexResetOutcome { reset, alreadyRedeemed, nothingToReset, noCredit };

inline constexpr std::array<CodexResetOutcome, 4> kAllCodexResetOutcomes {
    CodexResetOutcome::reset, CodexResetOutcome::alreadyRedeemed, CodexResetOutcome::nothingToReset,
    CodexResetOutcome::noCredit};

QString rawValue(CodexResetOutcome outcome); // "reset", "alreadyRedeemed", "nothingToReset", "noCredit"
std::optional<CodexResetOutcome> codexResetOutcomeFromRawValue(const QString& raw);
inline QJsonValue toJson(CodexResetOutcome outcome) { return rawValue(outcome); }
// Throws json::DecodeError for any other value.
CodexResetOutcome codexResetOutcomeFromJson(const QJsonValue& value, const QString& path = {});
// The credit took effect (by this request or an earlier one with the same key).
bool didReset(CodexResetOutcome outcome);

// What a reset request came to (not persisted).
struct CodexResetResult {
    CodexResetOutcome outcome = CodexResetOutcome::nothingToReset;
    std::optional<ProviderUsage> usage;
    std::optional<QString> refreshError;

    bool operator==(const CodexResetResult&) const = default;
};
