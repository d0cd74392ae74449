#include "ProfileSettingsModel.h"

#include "panel/UsageFormat.h"

namespace profilesettings {

QString displayedFolder(const QString& path, const QString& home)
{
    if (home.isEmpty())
        return path;
    QString shown = path;
    shown.replace(home + QLatin1Char('/'), QStringLiteral("~/"));
    return shown;
}

QString visibleObjectName(const QString& profileID)
{
    return QStringLiteral("profile-visible-") + profileID;
}

QString groupObjectName(AntigravityQuotaGroup group, const QString& profileID)
{
    return QStringLiteral("quota-group-") + rawValue(group) + QLatin1Char('-') + profileID;
}

QString groupTitle(AntigravityQuotaGroup group)
{
    switch (group) {
    case AntigravityQuotaGroup::gemini: return QStringLiteral("Gemini");
    case AntigravityQuotaGroup::claudeAndGPT: return QStringLiteral("Claude и GPT");
    }
    return {};
}

QString groupModelsLine(AntigravityQuotaGroup group)
{
    switch (group) {
    case AntigravityQuotaGroup::gemini: return QStringLiteral("Gemini Flash, Gemini Pro");
    case AntigravityQuotaGroup::claudeAndGPT: return QStringLiteral("Claude Opus, Claude Sonnet, GPT-OSS");
    }
    return {};
}

RowModel rowModel(const ProviderProfile& profile, bool visible, const std::optional<QString>& connectionError,
                  const QString& home)
{
    const QString id = profile.id();
    const QString shortName = usageformat::shortName(profile.provider);
    RowModel row;
    row.id = id;
    row.visible = visible;
    row.visibleLabel = QStringLiteral("Показывать ") + shortName + QStringLiteral(": ") + profile.name;
    row.visibleObjectName = visibleObjectName(id);
    row.name = profile.name;
    row.nameLabel = kNamePlaceholder + QLatin1Char(' ') + shortName;
    row.folder = displayedFolder(profile.configDirectory, home);
    if (profile.provider == UsageProvider::antigravity) {
        for (AntigravityQuotaGroup group : kAllAntigravityQuotaGroups) {
            GroupToggle toggle;
            toggle.group = group;
            toggle.title = groupTitle(group);
            toggle.modelsLine = groupModelsLine(group);
            toggle.accessibleName = profile.name + QStringLiteral(": ") + toggle.title;
            toggle.objectName = groupObjectName(group, id);
            toggle.on = !profile.hiddenAntigravityGroups || !profile.hiddenAntigravityGroups->contains(group);
            row.groups.append(toggle);
        }
    }
    row.connectionError = connectionError;
    return row;
}

SectionModel sectionModel(UsageProvider provider, const QList<ProviderProfile>& profiles)
{
    SectionModel section;
    section.header = displayName(provider);
    for (const ProviderProfile& profile : profiles) {
        if (profile.provider == provider)
            section.profiles.append(profile);
    }
    return section;
}

} // namespace profilesettings
