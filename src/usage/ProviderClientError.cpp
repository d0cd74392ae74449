#include "usage/ProviderClientError.h"

#include "platform/CancelToken.h"
#include "platform/ForeignError.h"
#include "platform/Text.h"

#include <QRegularExpression>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cxxabi.h>
#include <memory>
#include <typeinfo>

namespace {

const QString kRedacted = QStringLiteral("[redacted]");

// Unicode properties make \s, \b and (?i) behave as for Unicode text: a no-break
// space counts as white space, a Cyrillic letter as a word character. Replies are
// often quoted into JSON strings: there a tab or line break (\t, \n, \r) separates
// like white space and starts a token like a word boundary.
const std::array<QRegularExpression, 5>& redactionPatterns()
{
    static const auto options = QRegularExpression::UseUnicodePropertiesOption;
    static const std::array<QRegularExpression, 5> patterns {
        QRegularExpression(QStringLiteral("(?i)Bearer(?:\\s|\\\\+[nrt])+[^\\s\"']+"), options),
        // Backslashes join the separators and end the value, so a pair quoted into a
        // JSON string ({\"access_token\":\"...\"}) is redacted like a plain one.
        QRegularExpression(QStringLiteral("(?i)(?:access_token|refresh_token|id_token|api_key|apiKey|accessToken|refreshToken)(?:\\\\+[nrt]|[\"'\\s:=\\\\])+[^\\s,}\"'\\\\]+"), options),
        QRegularExpression(QStringLiteral("(?:\\b|(?<=\\\\[nrt]))eyJ[A-Za-z0-9_.-]+"), options),
        QRegularExpression(QStringLiteral("(?:\\b|(?<=\\\\[nrt]))sk-[A-Za-z0-9_-]+"), options),
        QRegularExpression(QStringLiteral("(?:\\b|(?<=\\\\[nrt]))(?:gh[pousr]_|github_pat_)[A-Za-z0-9_]+"), options),
    };
    return patterns;
}

constexpr std::array<double, 6> kBackoff {5, 15, 30, 60, 120, 300};

double backoff(int failureCount)
{
    // min(max(n - 1, 0), 5) without overflowing at the lowest int.
    const int index = failureCount <= 1 ? 0 : std::min(failureCount - 1, 5);
    return kBackoff[static_cast<size_t>(index)];
}

// The pattern engine refuses ill-formed UTF-16 as a whole (no match at all), so
// an unpaired surrogate would let every secret through: make it U+FFFD first.
QString wellFormed(QString text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            text[i] = QChar::ReplacementCharacter;
    }
    return text;
}

QString typeName(const std::type_info& type)
{
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
    return status == 0 && demangled ? QString::fromUtf8(demangled.get()) : QString::fromUtf8(type.name());
}

// The generic text the platform gives an error without a description of its own.
QString genericDescription(const QString& domain, long long code)
{
    return QStringLiteral("Не удалось завершить операцию. (%1, ошибка %2.)").arg(domain).arg(code);
}

ProviderClientError foreign(const QString& domain, long long code, const QString& description)
{
    return ProviderClientError::diagnostic(domain + QLatin1Char(' ') + QString::number(code),
                                           ProviderClientError::sanitized(description), true, std::nullopt);
}

} // namespace

ProviderClientError::ProviderClientError(Kind kind, QString code, QString message, bool retryable, std::optional<double> retryAfter)
    : m_kind(kind)
    , m_code(std::move(code))
    , m_message(std::move(message))
    , m_retryable(retryable)
    , m_retryAfter(retryAfter)
{
    m_what = errorDescription().toUtf8();
}

ProviderClientError ProviderClientError::executableMissing(const QString& message) { return {Kind::executableMissing, {}, message, false, std::nullopt}; }
ProviderClientError ProviderClientError::credentialsMissing(const QString& message) { return {Kind::credentialsMissing, {}, message, false, std::nullopt}; }
ProviderClientError ProviderClientError::sessionExpired(const QString& message) { return {Kind::sessionExpired, {}, message, false, std::nullopt}; }
ProviderClientError ProviderClientError::invalidResponse(const QString& message) { return {Kind::invalidResponse, {}, message, false, std::nullopt}; }
ProviderClientError ProviderClientError::requestFailed(const QString& message) { return {Kind::requestFailed, {}, message, false, std::nullopt}; }
ProviderClientError ProviderClientError::timedOut(const QString& message) { return {Kind::timedOut, {}, message, false, std::nullopt}; }

ProviderClientError ProviderClientError::diagnostic(const QString& code, const QString& message, bool retryable, std::optional<double> retryAfter)
{
    return {Kind::diagnostic, code, message, retryable, retryAfter};
}

ProviderClientError ProviderClientError::from(std::exception_ptr error)
{
    static const QString kUnknownDomain = QStringLiteral("UnknownError");
    if (!error)
        return foreign(kUnknownDomain, 1, genericDescription(kUnknownDomain, 1));
    try {
        std::rethrow_exception(error);
    } catch (const ProviderClientError& e) {
        return e;
    } catch (const ForeignError& e) {
        return foreign(e.domain(), e.code(), e.description());
    } catch (const CancellationError&) {
        const QString domain = QStringLiteral("Swift.CancellationError");
        return foreign(domain, 1, genericDescription(domain, 1));
    } catch (const std::exception& e) {
        const QString domain = typeName(typeid(e));
        const QString what = QString::fromUtf8(e.what());
        return foreign(domain, 1, what.isEmpty() ? genericDescription(domain, 1) : what);
    } catch (...) {
        return foreign(kUnknownDomain, 1, genericDescription(kUnknownDomain, 1));
    }
}

QString ProviderClientError::errorDescription() const
{
    return m_kind == Kind::diagnostic ? sanitized(m_message) : m_message;
}

QString ProviderClientError::errorCode() const
{
    switch (m_kind) {
    case Kind::executableMissing: return QStringLiteral("CLI_NOT_FOUND");
    case Kind::credentialsMissing: return QStringLiteral("CREDENTIALS_MISSING");
    case Kind::sessionExpired: return QStringLiteral("AUTH_EXPIRED");
    case Kind::invalidResponse: return QStringLiteral("INVALID_RESPONSE");
    case Kind::requestFailed: return QStringLiteral("REQUEST_FAILED");
    case Kind::timedOut: return QStringLiteral("TIMEOUT");
    case Kind::diagnostic: return m_code;
    }
    return {};
}

std::optional<double> ProviderClientError::retryDelay(int failureCount) const
{
    switch (m_kind) {
    case Kind::executableMissing:
    case Kind::invalidResponse:
        return std::nullopt;
    case Kind::credentialsMissing:
    case Kind::sessionExpired:
        return 60.0;
    case Kind::requestFailed:
    case Kind::timedOut:
        return backoff(failureCount);
    case Kind::diagnostic:
        if (!m_retryable)
            return std::nullopt;
        if (!m_retryAfter)
            return backoff(failureCount);
        if (std::isnan(*m_retryAfter))
            return 1.0;
        // Never sooner than a second; never so late that a timer would overflow.
        return std::clamp(*m_retryAfter, 1.0, kMaximumRetryDelay);
    }
    return std::nullopt;
}

QString ProviderClientError::sanitized(const QString& text)
{
    QString out = wellFormed(text::prefixGraphemes(text, kSanitizedLimit));
    for (const QRegularExpression& pattern : redactionPatterns())
        out.replace(pattern, kRedacted);
    return out;
}

bool ProviderClientError::operator==(const ProviderClientError& other) const
{
    return m_kind == other.m_kind && m_code == other.m_code && m_message == other.m_message
        && m_retryable == other.m_retryable && m_retryAfter == other.m_retryAfter;
}

QString ProviderClientError::redactedDescription(std::exception_ptr error)
{
    return sanitized(from(error).errorDescription());
}
