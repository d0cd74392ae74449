#include "SettingsFormModel.h"

#include "panel/UsageFormat.h"
#include "platform/Defaults.h"

#include <QSysInfo>

namespace settingsmodel {

namespace {

QString infoText(const std::optional<QVariantMap>& info, const QString& key)
{
    if (!info)
        return QStringLiteral("?");
    const auto found = info->constFind(key);
    if (found == info->constEnd() || found->typeId() != QMetaType::QString)
        return QStringLiteral("?");
    return found->toString();
}

} // namespace

PlatformInfo PlatformInfo::current()
{
    return {QSysInfo::productType(), QSysInfo::kernelType(), QSysInfo::kernelVersion(), QSysInfo::productVersion(),
            QSysInfo::prettyProductName()};
}

bool isMac(const PlatformInfo& platform)
{
    return platform.productType == QLatin1String("macos") || platform.productType == QLatin1String("osx");
}

QString platformName(const PlatformInfo& platform)
{
    if (isMac(platform))
        return QStringLiteral("macOS");
    if (platform.productType == QLatin1String("windows"))
        return QStringLiteral("Windows");
    if (platform.kernelType == QLatin1String("linux"))
        return QStringLiteral("Linux");
    if (!platform.prettyProductName.isEmpty())
        return platform.prettyProductName;
    return platform.kernelType;
}

QString versionText(const std::optional<QVariantMap>& info)
{
    return infoText(info, QStringLiteral("CFBundleShortVersionString")) + QStringLiteral(" (")
        + infoText(info, QStringLiteral("CFBundleVersion")) + QLatin1Char(')');
}

QList<PickerOption> themeOptions()
{
    return {{QStringLiteral("Как в системе"), QStringLiteral("system")},
            {QStringLiteral("Светлая"), QStringLiteral("light")},
            {QStringLiteral("Тёмная"), QStringLiteral("dark")}};
}

QString themeCaption(const PlatformInfo& platform)
{
    return QStringLiteral("Для панели и этого окна. «Как в системе» следует за оформлением ") + platformName(platform)
        + QLatin1Char('.');
}

QList<PickerOption> displayOptions(const QList<PickerOption>& connected, const QString& selection,
                                   const std::optional<QString>& unavailableName)
{
    QList<PickerOption> options {{QStringLiteral("Основной экран"), QStringLiteral("primary")},
                                 {QStringLiteral("Все экраны"), QStringLiteral("all")}};
    options.append(connected);
    if (unavailableName)
        options.append({*unavailableName + QStringLiteral(" — не подключён"), selection});
    return options;
}

QString displayCaption(const std::optional<QString>& unavailableName)
{
    if (unavailableName) {
        return *unavailableName
            + QStringLiteral(" не подключён. Панель временно на основном экране и вернётся после подключения.");
    }
    return QStringLiteral("Выбор сохраняется. На всех экранах лимиты общие, а раскрытие панели — независимое.");
}

QString findProfilesTitle(const PlatformInfo& platform)
{
    if (isMac(platform))
        return QStringLiteral("Найти профили на этом Mac");
    return QStringLiteral("Найти профили на этом компьютере с ") + platformName(platform);
}

QString folderChooserTitle(UsageProvider provider)
{
    return QStringLiteral("Папка профиля ") + usageformat::shortName(provider);
}

QList<PickerOption> refreshOptions()
{
    return {{QStringLiteral("1 минуту"), QStringLiteral("60")},
            {QStringLiteral("5 минут"), QStringLiteral("300")},
            {QStringLiteral("15 минут"), QStringLiteral("900")}};
}

double refreshInterval(const Defaults& defaults)
{
    if (!defaults.contains(kRefreshIntervalKey))
        return kDefaultRefreshInterval;
    return defaults.doubleValue(kRefreshIntervalKey);
}

int refreshOptionIndex(double seconds)
{
    const QList<PickerOption> options = refreshOptions();
    for (int i = 0; i < int(options.size()); ++i) {
        if (options.at(i).tag.toDouble() == seconds)
            return i;
    }
    return -1;
}

bool feedbackEnabled(const Defaults& defaults, const QString& key)
{
    return defaults.boolean(key).value_or(true);
}

QString supportSubject(const QString& versionText)
{
    return QStringLiteral("Vantorel ") + versionText;
}

QString systemLine(const PlatformInfo& platform)
{
    if (isMac(platform))
        return QStringLiteral("macOS ") + platform.productVersion;
    QString line = platformName(platform);
    if (!platform.kernelVersion.isEmpty())
        line += QLatin1Char(' ') + platform.kernelVersion;
    if (!platform.prettyProductName.isEmpty() && platform.prettyProductName != platformName(platform))
        line += QStringLiteral(" (") + platform.prettyProductName + QLatin1Char(')');
    return line;
}

QString supportBody(const QString& subject, const PlatformInfo& platform)
{
    return QStringLiteral("\n\n\u2014\n") + subject + QLatin1Char('\n') + systemLine(platform);
}

std::optional<QUrl> supportMailURL(const QString& address, const QString& subject, const QString& body)
{
    QUrl url;
    url.setScheme(QStringLiteral("mailto"));
    url.setPath(address);
    // Each value fully percent-encoded, so "&", "=", "#", "+" and "%" in it stay text.
    const QString query = QStringLiteral("subject=") + QString::fromLatin1(QUrl::toPercentEncoding(subject))
        + QStringLiteral("&body=") + QString::fromLatin1(QUrl::toPercentEncoding(body));
    url.setQuery(query, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

QString supportCaption(const QString& address)
{
    return QStringLiteral("Ответим на письмо с ") + address + QLatin1Char('.');
}

} // namespace settingsmodel
