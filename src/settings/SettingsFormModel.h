#pragma once

#include "usage/UsageProvider.h"

#include <QList>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <optional>

class Defaults;

// What the settings form shows, computed from plain values; the form only draws it.
namespace settingsmodel {

// One choice of a picker: its text and the value it stands for.
struct PickerOption {
    QString title;
    QString tag;
    bool operator==(const PickerOption&) const = default;
};

// The system the application runs on, as far as its texts name it.
struct PlatformInfo {
    QString productType;       // QSysInfo::productType: "macos", "debian", "windows", ...
    QString kernelType;        // QSysInfo::kernelType: "darwin", "linux", ...
    QString kernelVersion;
    QString productVersion;
    QString prettyProductName; // "Debian GNU/Linux 12 (bookworm)"

    static PlatformInfo current();
};

bool isMac(const PlatformInfo& platform);
// "macOS", "Windows", "Linux", else the system's own name.
QString platformName(const PlatformInfo& platform);

// Version row: the version, " (", the build number, ")"; "?" for a key that is
// missing or not text, both "?" without a dictionary.
QString versionText(const std::optional<QVariantMap>& info);

inline const QString kVersionLabel = QStringLiteral("Версия Vantorel");

// Appearance section.
inline const QString kAppearanceHeader = QStringLiteral("Оформление");
inline const QString kThemeLabel = QStringLiteral("Тема");
// "system", "light", "dark" with their titles, in that order.
QList<PickerOption> themeOptions();
QString themeCaption(const PlatformInfo& platform);

// Panel placement section.
inline const QString kPlacementHeader = QStringLiteral("Расположение панели");
inline const QString kDisplayLabel = QStringLiteral("Показывать справа");
// "primary", "all", every connected screen (title: its name, tag: its id) and,
// while the chosen screen is absent, that screen by `unavailableName`, tagged `selection`.
QList<PickerOption> displayOptions(const QList<PickerOption>& connected, const QString& selection,
                                   const std::optional<QString>& unavailableName);
QString displayCaption(const std::optional<QString>& unavailableName);

// Accounts section.
inline const QString kAccountsHeader = QStringLiteral("Отображаемые аккаунты");
inline const QString kNoProvidersText = QStringLiteral(
    "Текущие интеграции провайдеров используют локальные CLI, внешние файлы конфигурации или statusLine-мосты "
    "и недоступны в App Sandbox.");
QString findProfilesTitle(const PlatformInfo& platform);
inline const QString kDiscoveryCaption = QStringLiteral(
    "Поиск проверяет доступные в этой сборке интеграции. Нестандартную папку можно добавить вручную. "
    "Новые профили выключены до вашего выбора.");

// Folder chooser.
QString folderChooserTitle(UsageProvider provider);
inline const QString kFolderChooserMessage = QStringLiteral(
    "Выберите каталог конфигурации CLI. Для Claude и Antigravity экспорт подключится автоматически с резервной "
    "копией настроек. Авторизация не изменяется.");
inline const QString kFolderChooserPrompt = QStringLiteral("Добавить");
inline const QString kFolderErrorTitle = QStringLiteral("Не удалось добавить папку");

// Refresh section.
inline const QString kRefreshHeader = QStringLiteral("Обновление Codex и Copilot");
inline const QString kRefreshLabel = QStringLiteral("Проверять каждые");
inline const QString kRefreshIntervalKey = QStringLiteral("refreshInterval");
inline constexpr double kDefaultRefreshInterval = 300;
// 60, 300 and 900 seconds.
QList<PickerOption> refreshOptions();
// The stored interval, or the default when none is stored.
double refreshInterval(const Defaults& defaults);
// The option of `seconds`; -1 when it is none of them.
int refreshOptionIndex(double seconds);

// Feedback section.
inline const QString kFeedbackHeader = QStringLiteral("Обратная связь");
inline const QString kSoundsKey = QStringLiteral("soundsEnabled");
inline const QString kHapticsKey = QStringLiteral("hapticsEnabled");
inline const QString kSoundsLabel = QStringLiteral("Приятные звуки");
inline const QString kHapticsLabel = QStringLiteral("Тактильный отклик");
inline const QString kTestFeedbackLabel = QStringLiteral("Проверить отклик");
// The stored switch; on when none (or no Boolean) is stored, as the cues read it.
bool feedbackEnabled(const Defaults& defaults, const QString& key);

// Support section.
inline const QString kSupportHeader = QStringLiteral("Поддержка");
inline const QString kSupportLinkTitle = QStringLiteral("Написать в поддержку");
QString supportSubject(const QString& versionText);
// Two line feeds, an em dash, a line feed, the subject, a line feed and the system line.
QString supportBody(const QString& subject, const PlatformInfo& platform);
// "macOS 14.2"; elsewhere the platform's name, the kernel and the system's name.
QString systemLine(const PlatformInfo& platform);
// mailto:`address`?subject=…&body=…; none when no URL can be formed.
std::optional<QUrl> supportMailURL(const QString& address, const QString& subject, const QString& body);
QString supportCaption(const QString& address);

} // namespace settingsmodel
