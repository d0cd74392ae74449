#include "providers/codex/CodexResetModels.h"

#include "usage/ModelCoding.h"

namespace {

bool isCodexLimitWindow(const UsageWindow& w)
{
    return w.id == QLatin1String("codex-primary") || w.id == QLatin1String("codex-secondary");
}

constexpr double kMaximumUsageAge = 600; // seconds

} // namespace

QJsonObject CodexResetAttempt::toJson() const
{
    return json::Writer()
        .set(QStringLiteral("accountID"), accountID)
        .set(QStringLiteral("idempotencyKey"), idempotencyKey)
        .object();
}

CodexResetAttempt CodexResetAttempt::fromJson(const QJsonValue& value, const QString& path)
{
    const auto r = json::Reader::fromValue(value, path);
    return {r.string(QStringLiteral("accountID")), r.string(QStringLiteral("idempotencyKey"))};
}

QString rawValue(CodexResetOutcome outcome)
{
    switch (outcome) {
    case CodexResetOutcome::reset: return QStringLiteral("reset");
    case CodexResetOutcome::alreadyRedeemed: return QStringLiteral("alreadyRedeemed");
    case CodexResetOutcome::nothingToReset: return QStringLiteral("nothingToReset");
    case CodexResetOutcome::noCredit: return QStringLiteral("noCredit");
    }
    return {};
}

std::optional<CodexResetOutcome> codexResetOutcomeFromRawValue(const QString& raw)
{
    return caseWithRawValue(kAllCodexResetOutcomes, raw);
}

CodexResetOutcome codexResetOutcomeFromJson(const QJsonValue& value, const QString& path)
{
    return caseFromJson(kAllCodexResetOutcomes, value, path, "outcome");
}

bool didReset(CodexResetOutcome outcome)
{
    return outcome == CodexResetOutcome::reset || outcome == CodexResetOutcome::alreadyRedeemed;
}

bool ProviderUsage::hasExhaustedCodexWindow() const
{
    for (const UsageWindow& w : windows)
        if (isCodexLimitWindow(w) && w.usedPercent >= 100.0)
            return true;
    return false;
}

bool ProviderUsage::canOfferCodexReset(Timestamp now) const
{
    if (provider != UsageProvider::codex)
        return false;
    if (isLoading)
        return false;
    if (errorMessage || isStale.value_or(false))
        return false;
    if (!updatedAt || !(now.secondsSince(*updatedAt) < kMaximumUsageAge))
        return false;
    if (!codexAccountID || codexAccountID->isEmpty())
        return false;
    if (!codexResetCredits || codexResetCredits->availableCount < 1)
        return false;
    if (codexOrdinaryUsageAllowed != std::optional(false))
        return false;
    if (codexSpendControlReached.value_or(false))
        return false;
    if (codexReachedType && *codexReachedType != QLatin1String("rate_limit_reached"))
        return false;
    for (const UsageWindow& w : windows)
        if (isCodexLimitWindow(w) && w.usedPercent >= 100.0 && (!w.resetsAt || *w.resetsAt > now))
            return true;
    return false;
}
