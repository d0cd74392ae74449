#include "CopilotUsageParser.h"

#include "platform/StrictJson.h"
#include "platform/Text.h"
#include "usage/ProviderClientError.h"
#include "usage/UsageProvider.h"

#include <QStringList>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {

struct Quota {
    bool isUnlimitedEntitlement = false;
    double remainingPercentage = 0;
    std::optional<QString> resetDate;
    std::optional<bool> hasQuota;
    std::optional<bool> tokenBasedBilling;
    std::optional<double> entitlementRequests;

    static Quota decode(const json::Reader& r)
    {
        Quota q;
        q.isUnlimitedEntitlement = r.boolean(QStringLiteral("isUnlimitedEntitlement"));
        q.remainingPercentage = r.number(QStringLiteral("remainingPercentage"));
        q.resetDate = r.optString(QStringLiteral("resetDate"));
        q.hasQuota = r.optBoolean(QStringLiteral("hasQuota"));
        q.tokenBasedBilling = r.optBoolean(QStringLiteral("tokenBasedBilling"));
        q.entitlementRequests = r.optNumber(QStringLiteral("entitlementRequests"));
        return q;
    }
};

struct Response {
    std::vector<std::pair<QString, Quota>> quotaSnapshots; // sorted by key

    static Response decode(const QByteArray& bytes)
    {
        const json::Reader root = json::Reader::fromValue(json::parse(bytes));
        const json::Reader snapshots = root.object(QStringLiteral("quotaSnapshots"));
        Response response;
        const QJsonObject& object = snapshots.object();
        for (auto it = object.begin(); it != object.end(); ++it)
            response.quotaSnapshots.emplace_back(it.key(), Quota::decode(snapshots.object(it.key())));
        std::sort(response.quotaSnapshots.begin(), response.quotaSnapshots.end(),
                  [](const auto& a, const auto& b) { return text::lessByCodePoints(a.first, b.first); });
        return response;
    }
};

QString categoryTitle(const QString& key, const Quota& quota)
{
    if (key == QLatin1String("premium_interactions"))
        return quota.tokenBasedBilling.value_or(false) ? QStringLiteral("AI-кредиты") : QStringLiteral("Premium-запросы");
    if (key == QLatin1String("chat"))
        return QStringLiteral("Чат");
    if (key == QLatin1String("completions"))
        return QStringLiteral("Дополнения кода");
    return text::prefixGraphemes(key, 80);
}

// The first candidate that parses and lies after `now`.
std::optional<Timestamp> resetTime(const std::optional<QString>& accountReset, const std::optional<QString>& quotaReset, Timestamp now)
{
    for (const auto& candidate : {accountReset, quotaReset}) {
        if (!candidate)
            continue;
        const auto t = text::parseRfc3339(*candidate, text::Fraction::Optional);
        if (t && *t > now)
            return t;
    }
    return std::nullopt;
}

} // namespace

QString CopilotUsageParser::planName(const QString& identifier)
{
    if (identifier == QLatin1String("free_limited_copilot"))
        return QStringLiteral("Free");
    if (identifier == QLatin1String("individual"))
        return QStringLiteral("Pro");
    if (identifier == QLatin1String("individual_pro"))
        return QStringLiteral("Pro+");
    if (identifier == QLatin1String("individual_max"))
        return QStringLiteral("Max");
    return humanizedIdentifier(identifier);
}

ProviderUsage CopilotUsageParser::parse(const QByteArray& reply, const std::optional<QString>& planIdentifier,
                                        const std::optional<QString>& accountResetDate, Timestamp now)
{
    const Response response = Response::decode(reply);

    QList<UsageWindow> windows;
    QStringList unlimited;
    for (const auto& [key, quota] : response.quotaSnapshots) {
        const bool hasQuota = quota.hasQuota.value_or(true);
        if (!hasQuota && !(quota.entitlementRequests.value_or(0) > 0))
            continue;
        const QString title = categoryTitle(key, quota);
        if (hasQuota && quota.isUnlimitedEntitlement) {
            unlimited.append(title);
            continue;
        }
        const double remaining = quota.remainingPercentage;
        if (!std::isfinite(remaining) || remaining < 0 || remaining > 100)
            throw ProviderClientError::invalidResponse(QStringLiteral("Copilot: некорректный процент квоты."));
        UsageWindow window;
        window.id = key;
        window.title = title;
        window.usedPercent = 100 - remaining;
        window.resetsAt = resetTime(accountResetDate, quota.resetDate, now);
        window.observedAt = now;
        windows.append(window);
    }
    if (windows.isEmpty() && unlimited.isEmpty())
        throw ProviderClientError::invalidResponse(QStringLiteral("Copilot не вернул доступных квот. Это не 0%."));

    ProviderUsage usage;
    usage.provider = UsageProvider::copilot;
    if (planIdentifier)
        usage.planName = planName(*planIdentifier);
    usage.windows = windows;
    usage.updatedAt = now;
    usage.isLoading = false;
    usage.failureCount = 0;
    QString note = QStringLiteral("Copilot CLI");
    if (!unlimited.isEmpty())
        note += QStringLiteral(" · Без лимита: ") + unlimited.join(QStringLiteral(", "));
    usage.sourceNote = note;
    usage.isStale = false;
    usage.unlimitedCategories = unlimited;
    return usage;
}
