#include "usage/ProviderUsage.h"

#include "platform/StrictJson.h"
#include "usage/ModelCoding.h"
#include "platform/TimestampJson.h"

#include <QJsonArray>
#include <cmath>
#include <limits>

ProviderUsage ProviderUsage::placeholder(UsageProvider provider)
{
    ProviderUsage usage;
    usage.provider = provider;
    usage.isLoading = true;
    return usage;
}

std::optional<double> ProviderUsage::peakUsedPercent() const
{
    std::optional<double> peak;
    for (const UsageWindow& w : windows)
        if (std::isfinite(w.usedPercent) && (!peak || w.usedPercent > *peak))
            peak = w.usedPercent;
    return peak;
}

QJsonObject ProviderUsage::toJson() const
{
    json::Writer w;
    w.set(QStringLiteral("provider"), ::toJson(provider));
    w.setOpt(QStringLiteral("planName"), planName);
    QJsonArray windowArray;
    for (const UsageWindow& window : windows)
        windowArray.append(window.toJson());
    w.set(QStringLiteral("windows"), windowArray);
    json::setOptTimestamp(w, QStringLiteral("updatedAt"), updatedAt);
    w.setOpt(QStringLiteral("errorMessage"), errorMessage);
    w.set(QStringLiteral("isLoading"), isLoading);
    w.setOpt(QStringLiteral("errorCode"), errorCode);
    json::setOptTimestamp(w, QStringLiteral("nextRetryAt"), nextRetryAt);
    w.set(QStringLiteral("failureCount"), failureCount);
    w.setOpt(QStringLiteral("sourceNote"), sourceNote);
    w.setOpt(QStringLiteral("isStale"), isStale);
    if (unlimitedCategories)
        w.set(QStringLiteral("unlimitedCategories"), QJsonArray::fromStringList(*unlimitedCategories));
    w.setOpt(QStringLiteral("waitingForObservation"), waitingForObservation);
    w.setOpt(QStringLiteral("codexAccountID"), codexAccountID);
    if (codexResetCredits)
        w.set(QStringLiteral("codexResetCredits"), codexResetCredits->toJson());
    w.setOpt(QStringLiteral("codexOrdinaryUsageAllowed"), codexOrdinaryUsageAllowed);
    w.setOpt(QStringLiteral("codexSpendControlReached"), codexSpendControlReached);
    w.setOpt(QStringLiteral("codexReachedType"), codexReachedType);
    w.setOpt(QStringLiteral("isSimulation"), isSimulation);
    return w.object();
}

ProviderUsage ProviderUsage::fromJson(const QJsonValue& value, const QString& path)
{
    const auto r = json::Reader::fromValue(value, path);
    ProviderUsage u;
    u.provider = usageProviderFromJson(r.object().value(QStringLiteral("provider")), r.child(QStringLiteral("provider")));
    u.planName = r.optString(QStringLiteral("planName"));
    u.windows = decodeList(r.array(QStringLiteral("windows")), r.child(QStringLiteral("windows")), &UsageWindow::fromJson);
    u.updatedAt = json::optTimestamp(r, QStringLiteral("updatedAt"));
    u.errorMessage = r.optString(QStringLiteral("errorMessage"));
    u.isLoading = r.boolean(QStringLiteral("isLoading"));
    u.errorCode = r.optString(QStringLiteral("errorCode"));
    u.nextRetryAt = json::optTimestamp(r, QStringLiteral("nextRetryAt"));
    const qint64 failures = r.integer(QStringLiteral("failureCount"));
    if (failures < std::numeric_limits<int>::min() || failures > std::numeric_limits<int>::max())
        throw json::DecodeError(json::DecodeError::Corrupted, r.child(QStringLiteral("failureCount")) + QStringLiteral(": out of range"));
    u.failureCount = static_cast<int>(failures);
    u.sourceNote = r.optString(QStringLiteral("sourceNote"));
    u.isStale = r.optBoolean(QStringLiteral("isStale"));
    if (const auto categories = r.optArray(QStringLiteral("unlimitedCategories")))
        u.unlimitedCategories = decodeList(*categories, r.child(QStringLiteral("unlimitedCategories")), &json::toString);
    u.waitingForObservation = r.optBoolean(QStringLiteral("waitingForObservation"));
    u.codexAccountID = r.optString(QStringLiteral("codexAccountID"));
    if (r.hasValue(QStringLiteral("codexResetCredits")))
        u.codexResetCredits = CodexResetCredits::fromJson(r.object().value(QStringLiteral("codexResetCredits")), r.child(QStringLiteral("codexResetCredits")));
    u.codexOrdinaryUsageAllowed = r.optBoolean(QStringLiteral("codexOrdinaryUsageAllowed"));
    u.codexSpendControlReached = r.optBoolean(QStringLiteral("codexSpendControlReached"));
    u.codexReachedType = r.optString(QStringLiteral("codexReachedType"));
    u.isSimulation = r.optBoolean(QStringLiteral("isSimulation"));
    return u;
}
