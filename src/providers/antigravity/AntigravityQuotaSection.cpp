#include "providers/antigravity/AntigravityQuotaSection.h"

#include "platform/Text.h"

#include <algorithm>

namespace {

// 0: ends with "-5h", 1: ends with "-weekly", 2: anything else.
int windowClass(const QString& id)
{
    if (id.endsWith(QLatin1String("-5h")))
        return 0;
    if (id.endsWith(QLatin1String("-weekly")))
        return 1;
    return 2;
}

QList<UsageWindow> groupWindows(const ProviderUsage& usage, AntigravityQuotaGroup group)
{
    QList<UsageWindow> out;
    for (const UsageWindow& w : usage.windows)
        if (antigravityQuotaGroup(w.id) == group)
            out.append(w);
    std::stable_sort(out.begin(), out.end(), [](const UsageWindow& a, const UsageWindow& b) {
        const int ca = windowClass(a.id), cb = windowClass(b.id);
        if (ca != cb)
            return ca < cb;
        return text::lessByCodePoints(a.id, b.id);
    });
    for (UsageWindow& w : out) {
        const int c = windowClass(w.id);
        if (c == 0)
            w.title = QStringLiteral("5 часов");
        else if (c == 1)
            w.title = QStringLiteral("Неделя");
    }
    return out;
}

} // namespace

QList<AntigravityQuotaSection> AntigravityQuotaSection::sections(const ProviderUsage& usage)
{
    QList<AntigravityQuotaSection> out;
    if (usage.provider != UsageProvider::antigravity)
        return out;
    if (auto windows = groupWindows(usage, AntigravityQuotaGroup::gemini); !windows.isEmpty())
        out.append({QStringLiteral("gemini"), QStringLiteral("Gemini"), QStringLiteral("Gemini Flash, Gemini Pro"), windows});
    if (auto windows = groupWindows(usage, AntigravityQuotaGroup::claudeAndGPT); !windows.isEmpty())
        out.append({QStringLiteral("claudeAndGPT"), QStringLiteral("Claude и GPT"), QStringLiteral("Claude Opus, Claude Sonnet, GPT-OSS"), windows});
    QList<UsageWindow> other;
    for (const UsageWindow& w : usage.windows)
        if (!antigravityQuotaGroup(w.id))
            other.append(w);
    if (!other.isEmpty())
        out.append({QStringLiteral("other"), QStringLiteral("Другие лимиты"), std::nullopt, other});
    return out;
}
