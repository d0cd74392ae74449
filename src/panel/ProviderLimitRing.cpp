#include "ProviderLimitRing.h"

#include "RelativeTime.h"
#include "UsageFormat.h"
#include "providers/antigravity/AntigravityQuotaSection.h"
#include "providers/claude/ClaudeUsageRing.h"

namespace {

QString claudeRingTitle(ClaudeRingKind kind)
{
    switch (kind) {
    case ClaudeRingKind::session: return QStringLiteral("Current session · 5 часов");
    case ClaudeRingKind::weekly: return QStringLiteral("Неделя");
    case ClaudeRingKind::fable: return QStringLiteral("Fable · неделя");
    }
    return {};
}

} // namespace

QString ProviderLimitRing::defaultResetText(Timestamp moment)
{
    return relativetime::abbreviatedDateTimeText(moment, QTimeZone::systemTimeZone(), QLocale());
}

QList<ProviderLimitRing> ProviderLimitRing::rings(const ProviderUsage& usage)
{
    QList<ProviderLimitRing> out;
    if (usage.provider == UsageProvider::claude) {
        const QList<ClaudeUsageRing> claude = ClaudeUsageRing::rings(usage);
        for (qsizetype i = 0; i < claude.size(); ++i)
            if (claude.at(i).window)
                out.append({*claude.at(i).window, claudeRingTitle(claude.at(i).kind), int(i), int(claude.size())});
        return out;
    }
    if (usage.provider == UsageProvider::antigravity) {
        for (const AntigravityQuotaSection& section : AntigravityQuotaSection::sections(usage))
            for (const UsageWindow& w : section.windows)
                out.append({w, section.title + QStringLiteral(" · ") + w.title, 0, 0});
    } else {
        for (const UsageWindow& w : usage.windows)
            out.append({w, w.title, 0, 0});
    }
    for (qsizetype i = 0; i < out.size(); ++i) {
        out[i].position = int(i);
        out[i].count = int(out.size());
    }
    return out;
}

QString ProviderLimitRing::summaryLine(const ProviderLimitRing& ring, const ResetFormatter& resetText)
{
    const auto whole = usageformat::wholePercent(ring.window.usedPercent);
    QString line = ring.title
        + (whole ? QStringLiteral(": использовано ") + QString::number(*whole) + QLatin1Char('%')
                 : QStringLiteral(": нет данных"));
    if (usageformat::isExhausted(ring.window.usedPercent) && ring.window.resetsAt)
        line += QStringLiteral(" · сброс ") + resetText(*ring.window.resetsAt);
    return line;
}

QString ProviderLimitRing::accessibilitySummary(const ProviderUsage& usage, const ResetFormatter& resetText)
{
    const QList<ProviderLimitRing> list = rings(usage);
    if (list.isEmpty())
        return {};
    QStringList lines {QStringLiteral("Кольца снаружи внутрь:")};
    for (const ProviderLimitRing& ring : list)
        lines << summaryLine(ring, resetText);
    if (usage.isStale.value_or(false) || usage.errorMessage)
        lines << QStringLiteral("Последние полученные данные; могли устареть.");
    return lines.join(QLatin1Char('\n'));
}

std::optional<Timestamp> ProviderLimitRing::earliestExhaustedReset(const ProviderUsage& usage)
{
    std::optional<Timestamp> earliest;
    for (const ProviderLimitRing& ring : rings(usage))
        if (usageformat::isExhausted(ring.window.usedPercent) && ring.window.resetsAt
            && (!earliest || *ring.window.resetsAt < *earliest))
            earliest = ring.window.resetsAt;
    return earliest;
}

std::optional<QString> visibleSourceNote(const ProviderUsage& usage)
{
    if (usage.provider == UsageProvider::codex || usage.provider == UsageProvider::copilot)
        return usage.sourceNote;
    return std::nullopt;
}
