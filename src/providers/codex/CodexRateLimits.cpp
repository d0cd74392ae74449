#include "CodexUsageClient.h"

#include "platform/StrictJson.h"
#include "platform/Text.h"
#include "usage/UsageProvider.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace {

const QString kCodexKey = QStringLiteral("codex");

QString baseLabel(const std::optional<qint64>& minutes, bool primary)
{
    if (!minutes)
        return primary ? QStringLiteral("Текущее окно") : QStringLiteral("Долгое окно");
    switch (*minutes) {
    case 300: return QStringLiteral("5 часов");
    case 1440: return QStringLiteral("24 часа");
    case 10080: return QStringLiteral("Неделя");
    default: return QString::number(*minutes) + QStringLiteral(" мин");
    }
}

UsageWindow windowOf(const CodexRateLimitWindow& w, const QString& key, const QString& prefix, bool primary)
{
    UsageWindow out;
    out.id = key + (primary ? QStringLiteral("-primary") : QStringLiteral("-secondary"));
    const QString label = baseLabel(w.windowDurationMins, primary);
    out.title = prefix.isEmpty() ? label : prefix + QStringLiteral(" · ") + label;
    out.usedPercent = static_cast<double>(w.usedPercent);
    if (w.resetsAt)
        out.resetsAt = Timestamp::fromSince1970(static_cast<double>(*w.resetsAt));
    out.durationMinutes = w.windowDurationMins;
    return out;
}

} // namespace

QString CodexUsageClient::planDisplayName(const QString& planType)
{
    static const QList<std::pair<QString, QString>> names {
        {QStringLiteral("free"), QStringLiteral("Free")},
        {QStringLiteral("go"), QStringLiteral("Go")},
        {QStringLiteral("plus"), QStringLiteral("Plus")},
        {QStringLiteral("pro"), QStringLiteral("Pro")},
        {QStringLiteral("prolite"), QStringLiteral("Pro Lite")},
        {QStringLiteral("team"), QStringLiteral("Team")},
        {QStringLiteral("business"), QStringLiteral("Business")},
        {QStringLiteral("self_serve_business_prolite"), QStringLiteral("Business Pro Lite")},
        {QStringLiteral("self_serve_business_pro"), QStringLiteral("Business Pro")},
        {QStringLiteral("enterprise"), QStringLiteral("Enterprise")},
        {QStringLiteral("edu"), QStringLiteral("Education")},
    };
    for (const auto& [type, name] : names) {
        if (type == planType)
            return name;
    }
    return humanizedIdentifier(planType);
}

ProviderUsage CodexUsageClient::makeUsage(const QByteArray& line, Timestamp now)
{
    if (auto error = classifyError(line))
        throw *error;

    CodexEnvelope envelope;
    try {
        envelope = CodexEnvelope::decode(line);
    } catch (const json::DecodeError&) {
        throw ProviderClientError::invalidResponse(QStringLiteral("Codex вернул ответ неизвестного формата."));
    }
    if (envelope.error)
        throw ProviderClientError::requestFailed(envelope.error->message);
    if (!envelope.result)
        throw ProviderClientError::invalidResponse(QStringLiteral("Codex не вернул данные о лимитах."));
    const CodexEnvelope::ResultPayload& result = *envelope.result;

    // Entries (key, snapshot): every limit by id, "codex" first, the rest by code points;
    // else the single snapshot under its own id.
    std::vector<std::pair<QString, const CodexRateLimitSnapshot*>> entries;
    if (result.rateLimitsByLimitId && !result.rateLimitsByLimitId->empty()) {
        for (const auto& [key, snapshot] : *result.rateLimitsByLimitId)
            entries.emplace_back(key, &snapshot);
        std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
            if ((a.first == kCodexKey) != (b.first == kCodexKey))
                return a.first == kCodexKey;
            return text::lessByCodePoints(a.first, b.first);
        });
    } else if (result.rateLimits) {
        entries.emplace_back(result.rateLimits->limitId.value_or(kCodexKey), &*result.rateLimits);
    } else {
        throw ProviderClientError::invalidResponse(QStringLiteral("Codex не вернул данные о лимитах."));
    }

    ProviderUsage usage = ProviderUsage::placeholder(UsageProvider::codex);
    usage.isLoading = false;
    for (const auto& [key, snapshot] : entries) {
        QString prefix;
        if (key != kCodexKey) {
            const QString name = text::trimmed(snapshot->limitName.value_or(QString()));
            prefix = name.isEmpty() ? key : name;
        }
        if (snapshot->primary)
            usage.windows.append(windowOf(*snapshot->primary, key, prefix, true));
        if (snapshot->secondary)
            usage.windows.append(windowOf(*snapshot->secondary, key, prefix, false));
    }
    if (usage.windows.isEmpty())
        throw ProviderClientError::invalidResponse(QStringLiteral("Для Codex пока нет доступных usage-окон."));

    for (const auto& entry : entries) {
        if (entry.second->planType) {
            usage.planName = planDisplayName(*entry.second->planType);
            break;
        }
    }
    for (const auto& [key, snapshot] : entries) {
        if (key == kCodexKey) {
            usage.codexSpendControlReached = snapshot->spendControlReached;
            usage.codexReachedType = snapshot->rateLimitReachedType;
            break;
        }
    }
    usage.updatedAt = now;
    usage.codexAccountID = result.accountId;
    usage.codexResetCredits = result.rateLimitResetCredits;
    usage.codexOrdinaryUsageAllowed = result.ordinaryUsageAllowed;
    return usage;
}
