#include "providers/claude/ClaudeUsageRing.h"

#include "providers/claude/ClaudeWindows.h"
#include "usage/ModelCoding.h"

QString rawValue(ClaudeRingKind kind)
{
    switch (kind) {
    case ClaudeRingKind::session: return claudewindows::kFiveHourId;
    case ClaudeRingKind::weekly: return claudewindows::kSevenDayId;
    case ClaudeRingKind::fable: return claudewindows::modelWindowId(QStringLiteral("fable"));
    }
    return {};
}

std::optional<ClaudeRingKind> claudeRingKindFromRawValue(const QString& raw)
{
    return caseWithRawValue(kAllClaudeRingKinds, raw);
}

QList<ClaudeUsageRing> ClaudeUsageRing::rings(const ProviderUsage& usage)
{
    QList<ClaudeUsageRing> out;
    if (usage.provider != UsageProvider::claude)
        return out;
    for (ClaudeRingKind kind : kAllClaudeRingKinds) {
        ClaudeUsageRing ring {kind, std::nullopt};
        const QString id = rawValue(kind);
        for (const UsageWindow& w : usage.windows) {
            if (w.id == id) {
                ring.window = w;
                break;
            }
        }
        out.append(ring);
    }
    return out;
}
