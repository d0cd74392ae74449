#pragma once

#include "providers/codex/CodexResetModels.h"
#include "usage/CodexResetCredits.h"
#include "usage/ProviderUsage.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <map>
#include <optional>

// Typed shapes of the replies of `codex app-server`. Decoding is strict (see
// StrictJson.h): a required member absent or mistyped fails the whole value,
// optional members may be absent or null, unknown members are ignored.
// Every decoder throws json::DecodeError on failure.

// Any reply line, as the error classification reads it.
struct CodexErrorEnvelope {
    struct ErrorPayload {
        qint64 code = 0;
        QString message;
        bool operator==(const ErrorPayload&) const = default;
    };
    std::optional<ErrorPayload> error;

    static CodexErrorEnvelope decode(const QByteArray& line);
    bool operator==(const CodexErrorEnvelope&) const = default;
};

struct CodexRateLimitWindow {
    qint64 usedPercent = 0;
    std::optional<qint64> windowDurationMins;
    std::optional<qint64> resetsAt; // seconds since 1970

    static CodexRateLimitWindow decode(const QJsonValue& value, const QString& path = {});
    bool operator==(const CodexRateLimitWindow&) const = default;
};

struct CodexRateLimitSnapshot {
    std::optional<QString> limitId;
    std::optional<QString> limitName;
    std::optional<CodexRateLimitWindow> primary;
    std::optional<CodexRateLimitWindow> secondary;
    std::optional<QString> planType;
    std::optional<bool> spendControlReached;
    std::optional<QString> rateLimitReachedType;

    static CodexRateLimitSnapshot decode(const QJsonValue& value, const QString& path = {});
    bool operator==(const CodexRateLimitSnapshot&) const = default;
};

// The reply to "account/rateLimits/read".
struct CodexEnvelope {
    struct ErrorPayload {
        QString message;
        bool operator==(const ErrorPayload&) const = default;
    };
    struct ResultPayload {
        std::optional<QString> accountId;
        std::optional<bool> ordinaryUsageAllowed;
        std::optional<CodexResetCredits> rateLimitResetCredits;
        std::optional<CodexRateLimitSnapshot> rateLimits;
        std::optional<std::map<QString, CodexRateLimitSnapshot>> rateLimitsByLimitId;
        bool operator==(const ResultPayload&) const = default;
    };
    std::optional<ResultPayload> result;
    std::optional<ErrorPayload> error;

    static CodexEnvelope decode(const QByteArray& line);
    bool operator==(const CodexEnvelope&) const = default;
};

// The reply to "account/rateLimitResetCredit/consume": {"result": {"outcome": raw value}}.
struct CodexConsumeEnvelope {
    struct Result {
        CodexResetOutcome outcome = CodexResetOutcome::noCredit;
        bool operator==(const Result&) const = default;
    };
    Result result;

    static CodexConsumeEnvelope decode(const QByteArray& line);
    bool operator==(const CodexConsumeEnvelope&) const = default;
};

// What a reset-credit exchange hands back: the outcome, the limits read after the
// spend (or the current ones when nothing was sent), and why a re-read failed.
struct CodexResetTransportPayload {
    CodexResetOutcome outcome = CodexResetOutcome::noCredit;
    std::optional<ProviderUsage> usage;
    std::optional<QString> refreshError;

    QJsonObject toJson() const;
    QByteArray encode() const; // json::EncodeError when the usage holds a non-finite number
    static CodexResetTransportPayload decode(const QByteArray& data);
    CodexResetResult toResult() const;
    bool operator==(const CodexResetTransportPayload&) const = default;
};
