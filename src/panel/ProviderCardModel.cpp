#include "ProviderCardModel.h"

#include "RelativeTime.h"
#include "UsageFormat.h"
#include "providers/antigravity/AntigravityQuotaSection.h"

#include <cmath>

namespace cardtext {

QString abbreviatedDateTime(Timestamp instant, const QTimeZone& zone, const QLocale& locale)
{
    const QString text = relativetime::abbreviatedDateTimeText(instant, zone, locale);
    return text == QStringLiteral("—") ? QString() : text;
}

} // namespace cardtext

ProviderHeaderModel ProviderHeaderModel::make(const ProviderUsage& usage, const std::optional<QString>& profileName)
{
    ProviderHeaderModel m;
    m.usage = usage;
    m.providerName = usageformat::shortName(usage.provider);
    m.profileName = profileName;
    m.makerLine = usageformat::makerName(usage.provider);
    if (usage.planName)
        m.makerLine += QStringLiteral(" · ") + *usage.planName;
    if (const auto peak = usage.peakUsedPercent()) {
        m.peak = usageformat::wholePercent(*peak);
        m.peakText = usageformat::percentText(*peak);
    }
    QStringList parts {m.providerName};
    if (profileName)
        parts << *profileName;
    parts << m.makerLine;
    if (!m.peakText.isEmpty())
        parts << m.peakText;
    m.accessibleName = parts.join(QStringLiteral(", "));
    return m;
}

UsageWindowRowModel UsageWindowRowModel::make(const UsageWindow& window, const QTimeZone& zone, const QLocale& locale)
{
    UsageWindowRowModel m;
    m.id = window.id;
    m.title = window.title;
    m.percent = usageformat::wholePercent(window.usedPercent);
    m.percentText = usageformat::percentText(window.usedPercent);
    m.accent = palette::usageColor(window.usedPercent);
    if (std::isfinite(window.usedPercent))
        m.progress = std::min(std::max(window.usedPercent / 100.0, 0.0), 1.0);
    m.resetsAt = window.resetsAt;
    m.accessibleName = window.title;
    if (m.percent)
        m.accessibleValue = QStringLiteral("Использовано %1 процентов").arg(*m.percent);
    if (window.resetsAt) {
        const QString date = cardtext::abbreviatedDateTime(*window.resetsAt, zone, locale);
        if (!date.isEmpty())
            m.accessibleValue += (m.accessibleValue.isEmpty() ? QStringLiteral("Сброс ") : QStringLiteral(", сброс ")) + date;
    }
    return m;
}

ProviderCardModel ProviderCardModel::make(const ProviderUsage& usage, const std::optional<QString>& profileName,
                                          const std::optional<ProviderProfile>& profile, bool withResetControl,
                                          bool withRefresh, const QTimeZone& zone, const QLocale& locale)
{
    ProviderCardModel m;
    m.provider = usage.provider;
    m.header = ProviderHeaderModel::make(usage, profileName);

    const bool hasError = usage.errorMessage.has_value();
    const bool hasWindows = !usage.windows.isEmpty();
    if (usage.waitingForObservation.value_or(false) && !hasError)
        m.content = Content::waiting;
    else if (usage.isLoading && !hasWindows)
        m.content = Content::loading;
    else if (hasWindows || hasError)
        m.content = Content::limits;
    else if (usage.unlimitedCategories && !usage.unlimitedCategories->isEmpty())
        m.content = Content::unlimited;
    else
        m.content = Content::noData;

    if (m.content == Content::limits) {
        if (usage.provider == UsageProvider::antigravity) {
            for (const AntigravityQuotaSection& section : AntigravityQuotaSection::sections(usage)) {
                Section s {section.id, section.title, section.subtitle, {}};
                for (const UsageWindow& w : section.windows)
                    s.rows.append(UsageWindowRowModel::make(w, zone, locale));
                m.sections.append(s);
            }
            m.antigravityNote = true;
        } else {
            m.claudeCaption = usage.provider == UsageProvider::claude && hasWindows;
            for (const UsageWindow& w : usage.windows)
                m.rows.append(UsageWindowRowModel::make(w, zone, locale));
        }
    }

    if (usage.provider == UsageProvider::codex && withResetControl && profile)
        m.resetProfile = profile;

    if (hasError) {
        QString details = *usage.errorMessage;
        if (usage.errorCode)
            details = *usage.errorCode + QLatin1Char('\n') + details;
        m.error = ErrorBlock {hasWindows ? cardtext::kErrorKeptWindows : cardtext::kErrorNoWindows, details};
    }
    if (withRefresh)
        m.refresh = RefreshButton {usage.isLoading ? cardtext::kRefreshing : cardtext::kRefresh, !usage.isLoading};

    const bool stale = usage.isStale.value_or(false);
    if ((usage.provider == UsageProvider::codex || usage.provider == UsageProvider::copilot) && usage.sourceNote)
        m.sourceNote = SourceNote {*usage.sourceNote, stale};
    if (usage.updatedAt)
        m.updated = Updated {*usage.updatedAt, hasError || stale ? cardtext::kLastData : cardtext::kUpdated,
                             usage.isLoading && !hasError};

    m.accessibleName = QStringLiteral("Использование ") + usageformat::shortName(usage.provider) + QStringLiteral(", ")
        + profileName.value_or(QString());
    return m;
}
