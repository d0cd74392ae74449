#include "usage/AntigravityQuotaGroup.h"

#include "usage/ModelCoding.h"

QString rawValue(AntigravityQuotaGroup group)
{
    return group == AntigravityQuotaGroup::gemini ? QStringLiteral("gemini") : QStringLiteral("claudeAndGPT");
}

std::optional<AntigravityQuotaGroup> antigravityQuotaGroupFromRawValue(const QString& raw)
{
    return caseWithRawValue(kAllAntigravityQuotaGroups, raw);
}

AntigravityQuotaGroup antigravityQuotaGroupFromJson(const QJsonValue& value, const QString& path)
{
    return caseFromJson(kAllAntigravityQuotaGroups, value, path, "quota group");
}

QString windowIdPrefix(AntigravityQuotaGroup group)
{
    return group == AntigravityQuotaGroup::gemini ? QStringLiteral("gemini-") : QStringLiteral("3p-");
}

std::optional<AntigravityQuotaGroup> antigravityQuotaGroup(const QString& windowId)
{
    for (AntigravityQuotaGroup g : kAllAntigravityQuotaGroups)
        if (windowId.startsWith(windowIdPrefix(g)))
            return g;
    return std::nullopt;
}
