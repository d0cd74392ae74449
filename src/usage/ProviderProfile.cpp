#include "usage/ProviderProfile.h"

#include "platform/Paths.h"
#include "platform/StrictJson.h"
#include "usage/ModelCoding.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>

QString ProviderProfile::id() const
{
    QByteArray bytes = rawValue(provider).toUtf8();
    bytes.append('\0');
    bytes.append(configDirectory.toUtf8());
    if (accountIdentifier) {
        bytes.append('\0');
        bytes.append(accountIdentifier->toUtf8());
    }
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString ProviderProfile::defaultName(const QString& folderName, UsageProvider provider)
{
    QString base;
    switch (provider) {
    case UsageProvider::codex: base = QStringLiteral(".codex"); break;
    case UsageProvider::claude: base = QStringLiteral(".claude"); break;
    case UsageProvider::copilot: base = QStringLiteral(".copilot"); break;
    case UsageProvider::antigravity: base = QStringLiteral("antigravity-cli"); break;
    }
    const QString prefix = base + QLatin1Char('-');
    const QString rest = folderName.startsWith(prefix) ? folderName.mid(prefix.size()) : folderName;
    if (rest == QLatin1String("personal"))
        return QStringLiteral("Личный");
    if (rest == QLatin1String("work") || rest == QLatin1String("umbo"))
        return QStringLiteral("Рабочий");
    if (rest == base)
        return QStringLiteral("По умолчанию");
    return rest;
}

namespace {

QString homeFolder(const QString& home, const char* name)
{
    return paths::standardizedResolvedPath(home + QLatin1Char('/') + QLatin1String(name));
}

} // namespace

std::optional<QString> ProviderProfile::claudeDirectoryOverride(const QString& home) const
{
    if (homeFolder(home, ".claude") == configDirectory)
        return std::nullopt;
    return configDirectory;
}

QString ProviderProfile::claudeConfigFileURL(const QString& home) const
{
    if (!claudeDirectoryOverride(home))
        return QDir::cleanPath(home + QStringLiteral("/.claude.json"));
    return QDir::cleanPath(configDirectory + QStringLiteral("/.claude.json"));
}

QString ProviderProfile::claudeDirectoryTag(const QString& home) const
{
    if (configDirectory == homeFolder(home, ".claude-personal"))
        return QStringLiteral("personal");
    if (configDirectory == homeFolder(home, ".claude-work"))
        return QStringLiteral("work");
    return id();
}

ProviderUsage ProviderProfile::removingHiddenAntigravityGroups(const ProviderUsage& usage) const
{
    if (provider != UsageProvider::antigravity || usage.provider != UsageProvider::antigravity)
        return usage;
    if (!hiddenAntigravityGroups || hiddenAntigravityGroups->empty())
        return usage;
    ProviderUsage out = usage;
    out.windows.clear();
    for (const UsageWindow& w : usage.windows) {
        const auto group = antigravityQuotaGroup(w.id);
        if (!group || !hiddenAntigravityGroups->contains(*group))
            out.windows.append(w);
    }
    if (hiddenAntigravityGroups->size() == kAllAntigravityQuotaGroups.size())
        out.sourceNote = QStringLiteral("Группы Gemini и Claude/GPT выключены в настройках этого аккаунта.");
    return out;
}

QJsonObject ProviderProfile::toJson() const
{
    json::Writer w;
    w.set(QStringLiteral("provider"), ::toJson(provider));
    w.set(QStringLiteral("configDirectory"), configDirectory);
    w.set(QStringLiteral("name"), name);
    w.set(QStringLiteral("isVisible"), isVisible);
    w.setOpt(QStringLiteral("accountIdentifier"), accountIdentifier);
    if (hiddenAntigravityGroups) {
        QJsonArray groups;
        for (AntigravityQuotaGroup g : *hiddenAntigravityGroups) // enumeration order
            groups.append(rawValue(g));
        w.set(QStringLiteral("hiddenAntigravityGroups"), groups);
    }
    return w.object();
}

ProviderProfile ProviderProfile::fromJson(const QJsonValue& value, const QString& path)
{
    const auto r = json::Reader::fromValue(value, path);
    ProviderProfile p;
    p.provider = usageProviderFromJson(r.object().value(QStringLiteral("provider")), r.child(QStringLiteral("provider")));
    p.configDirectory = r.string(QStringLiteral("configDirectory"));
    p.name = r.string(QStringLiteral("name"));
    p.isVisible = r.boolean(QStringLiteral("isVisible"));
    p.accountIdentifier = r.optString(QStringLiteral("accountIdentifier"));
    if (const auto groups = r.optArray(QStringLiteral("hiddenAntigravityGroups"))) {
        const auto list = decodeList(*groups, r.child(QStringLiteral("hiddenAntigravityGroups")), &antigravityQuotaGroupFromJson);
        p.hiddenAntigravityGroups = std::set<AntigravityQuotaGroup>(list.begin(), list.end());
    }
    return p;
}
