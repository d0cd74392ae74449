#include "ProfileDiscovery.h"

#include "platform/FileEntries.h"
#include "platform/Paths.h"
#include "platform/StrictJson.h"
#include "platform/Text.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <algorithm>

namespace {

QStringList entriesOf(const QString& folder)
{
    // Hidden entries and broken links included; a folder that cannot be listed gives none.
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}


} // namespace

ProfileDiscovery::ScanRow ProfileDiscovery::scanRow(UsageProvider provider)
{
    switch (provider) {
    case UsageProvider::claude:
        // The first marker, ".claude.json", is placed by the profile itself (see scanHome).
        return {provider, {}, QStringLiteral(".claude"), QStringLiteral("CLAUDE_CONFIG_DIR"),
                {QStringLiteral(".claude.json"), QStringLiteral("settings.json")}};
    case UsageProvider::codex:
        return {provider, {}, QStringLiteral(".codex"), QStringLiteral("CODEX_HOME"),
                {QStringLiteral("auth.json"), QStringLiteral("config.toml")}};
    case UsageProvider::copilot:
        return {provider, {}, QStringLiteral(".copilot"), QStringLiteral("COPILOT_HOME"),
                {QStringLiteral("config.json"), QStringLiteral("settings.json")}};
    case UsageProvider::antigravity:
        return {provider, QStringLiteral(".gemini"), QStringLiteral("antigravity-cli"),
                QStringLiteral("VANTOREL_ANTIGRAVITY_CONFIG_DIR"), {QStringLiteral("settings.json")}};
    }
    return {provider, {}, {}, {}, {}};
}

QList<UsageProvider> ProfileDiscovery::offeredProviders(AppDistributionChannel channel)
{
    // availableProviders keeps the order it is given.
    return ProviderIntegrationDescriptor::availableProviders(
        {UsageProvider::claude, UsageProvider::codex, UsageProvider::copilot, UsageProvider::antigravity}, channel);
}

bool ProfileDiscovery::folderPathOrder(const QString& a, const QString& b)
{
    return text::lessByCodePoints(a, b);
}

QString ProfileDiscovery::folderName(const QString& path)
{
    const QString trimmed = paths::withoutTrailingSlashes(path);
    if (trimmed == QLatin1String("/"))
        return trimmed;
    return trimmed.mid(trimmed.lastIndexOf(QLatin1Char('/')) + 1);
}

QList<ProviderProfile> ProfileDiscovery::scanHome(const QString& home, const ProcessEnvironment& environment,
                                                  const QList<UsageProvider>& providers,
                                                  const QList<ProviderProfile>& current)
{
    struct Candidate {
        QString path;
        QString folderName; // as listed, before standardising
    };

    const QStringList homeEntries = entriesOf(home);
    QList<ProviderProfile> result;
    for (UsageProvider provider : providers) {
        const ScanRow row = scanRow(provider);
        const QString parent = row.parentFolder.isEmpty() ? home : paths::joined(home, row.parentFolder);
        const QStringList names = row.parentFolder.isEmpty() ? homeEntries : entriesOf(parent);

        QList<Candidate> candidates;
        for (const QString& name : names) {
            if (name == row.baseName || name.startsWith(row.baseName + QLatin1Char('-')))
                candidates.append({paths::joined(parent, name), name});
        }
        const QString extra = environment.value(row.environmentVariable);
        if (extra.startsWith(QLatin1Char('/')))
            candidates.append({paths::withoutTrailingSlashes(extra), folderName(extra)});
        std::stable_sort(candidates.begin(), candidates.end(),
                         [](const Candidate& a, const Candidate& b) { return folderPathOrder(a.path, b.path); });

        for (const Candidate& candidate : candidates) {
            if (!files::isDirectoryEntry(candidate.path))
                continue;
            ProviderProfile profile;
            profile.provider = provider;
            profile.configDirectory = paths::standardizedResolvedPath(candidate.path);
            profile.name = ProviderProfile::defaultName(candidate.folderName, provider);
            profile.isVisible = false;

            if (provider == UsageProvider::copilot) {
                const bool hasAccounts = std::any_of(current.begin(), current.end(), [&](const ProviderProfile& p) {
                    return p.provider == UsageProvider::copilot && p.configDirectory == profile.configDirectory
                        && p.accountIdentifier.has_value();
                });
                if (hasAccounts)
                    continue;
            }

            QStringList markers;
            for (qsizetype i = 0; i < row.markers.size(); ++i) {
                if (provider == UsageProvider::claude && i == 0)
                    markers.append(profile.claudeConfigFileURL(home));
                else
                    markers.append(paths::joined(candidate.path, row.markers.at(i)));
            }
            const bool marked = std::any_of(markers.begin(), markers.end(),
                                            [](const QString& marker) { return QFileInfo::exists(marker); });
            if (!marked)
                continue;

            const QString id = profile.id();
            const bool known = std::any_of(result.begin(), result.end(),
                                           [&](const ProviderProfile& p) { return p.id() == id; });
            if (!known)
                result.append(profile);
        }
    }
    return result;
}

void ProfileDiscovery::seedVisibility(QList<ProviderProfile>& profiles, const QList<UsageProvider>& providers,
                                      const QString& home, const std::optional<QString>& selectedAccount)
{
    const bool work = selectedAccount == QStringLiteral("work");
    const std::pair<UsageProvider, QString> legacy[] = {
        {UsageProvider::claude, work ? QStringLiteral(".claude-work") : QStringLiteral(".claude-personal")},
        {UsageProvider::codex, work ? QStringLiteral(".codex-umbo") : QStringLiteral(".codex-personal")},
    };
    for (const auto& entry : legacy) {
        // Named copies, not a structured binding: the lambdas below capture it.
        const UsageProvider provider = entry.first;
        const QString& folderName = entry.second;
        if (!providers.contains(provider))
            continue;
        const QString legacyPath = paths::standardizedResolvedPath(paths::joined(home, folderName));
        auto chosen = std::find_if(profiles.begin(), profiles.end(), [&](const ProviderProfile& p) {
            return p.provider == provider && p.configDirectory == legacyPath;
        });
        if (chosen == profiles.end())
            chosen = std::find_if(profiles.begin(), profiles.end(),
                                  [&](const ProviderProfile& p) { return p.provider == provider; });
        if (chosen != profiles.end())
            chosen->isVisible = true;
    }
}

QByteArray ProfileDiscovery::encodeProfileList(const QList<ProviderProfile>& profiles)
{
    QJsonArray array;
    for (const ProviderProfile& profile : profiles)
        array.append(profile.toJson());
    return json::serialize(array);
}

QList<ProviderProfile> ProfileDiscovery::decodeProfileList(const QByteArray& data)
{
    const QJsonArray array = json::toArray(json::parse(data));
    QList<ProviderProfile> profiles;
    profiles.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i)
        profiles.append(ProviderProfile::fromJson(array.at(i), QStringLiteral("[%1]").arg(i)));
    return profiles;
}
