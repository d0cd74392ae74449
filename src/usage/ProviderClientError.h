#pragma once

#include <QByteArray>
#include <QString>
#include <exception>
#include <optional>

// The error every provider client throws (by value).
class ProviderClientError : public std::exception {
public:
    enum class Kind {
        executableMissing,
        credentialsMissing,
        sessionExpired,
        invalidResponse,
        requestFailed,
        timedOut,
        diagnostic,
    };

    // Messages are the complete user-facing (Russian) texts.
    static ProviderClientError executableMissing(const QString& message);
    static ProviderClientError credentialsMissing(const QString& message);
    static ProviderClientError sessionExpired(const QString& message);
    static ProviderClientError invalidResponse(const QString& message);
    static ProviderClientError requestFailed(const QString& message);
    static ProviderClientError timedOut(const QString& message);
    // A client-defined code that says itself whether and when (seconds) to retry.
    static ProviderClientError diagnostic(const QString& code, const QString& message, bool retryable,
                                          std::optional<double> retryAfter = std::nullopt);

    // Any error as a ProviderClientError: one unchanged; a ForeignError as a retryable
    // diagnostic "domain code"; a cancellation as "Swift.CancellationError 1"; any other
    // exception as "<type name> 1". The message is sanitized.
    static ProviderClientError from(std::exception_ptr error);

    Kind kind() const { return m_kind; }
    const QString& message() const { return m_message; }
    // The diagnostic's own code; empty for the other kinds.
    const QString& code() const { return m_code; }
    // Meaningful for diagnostic only.
    bool retryable() const { return m_retryable; }
    std::optional<double> retryAfter() const { return m_retryAfter; }

    // The message; for a diagnostic its message sanitized.
    QString errorDescription() const;
    // "CLI_NOT_FOUND", "CREDENTIALS_MISSING", "AUTH_EXPIRED", "INVALID_RESPONSE",
    // "REQUEST_FAILED", "TIMEOUT", or a diagnostic's own code.
    QString errorCode() const;
    // Seconds until the next automatic try after `failureCount` failures in a row
    // (including this one); none means no automatic retry. A diagnostic's retryAfter
    // counts as at least 1 s (NaN gives 1 s) and at most kMaximumRetryDelay.
    std::optional<double> retryDelay(int failureCount) const;

    // First 8192 grapheme clusters, then Bearer tokens, token-like key/value pairs,
    // JWTs, "sk-" keys and GitHub tokens replaced by "[redacted]".
    static QString sanitized(const QString& text);
    // The description of any error (normalised first), cut and redacted.
    static QString redactedDescription(std::exception_ptr error);

    static constexpr qsizetype kSanitizedLimit = 8192;
    static constexpr double kMaximumRetryDelay = 7 * 24 * 3600.0; // a week

    const char* what() const noexcept override { return m_what.constData(); }

    bool operator==(const ProviderClientError& other) const;

private:
    ProviderClientError(Kind kind, QString code, QString message, bool retryable, std::optional<double> retryAfter);

    Kind m_kind;
    QString m_code;
    QString m_message;
    bool m_retryable = false;
    std::optional<double> m_retryAfter;
    QByteArray m_what;
};
