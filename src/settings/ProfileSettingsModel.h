#pragma once

#include "usage/AntigravityQuotaGroup.h"
#include "usage/ProviderProfile.h"
#include "usage/UsageProvider.h"

#include <QList>
#include <QString>

#include <optional>

// What the profile sections and rows of the settings window show, computed
// from the registry's state; the widgets only draw it.
namespace profilesettings {

inline const QString kEmptyText = QStringLiteral("Профили пока не найдены");
inline const QString kAddFolderText = QStringLiteral("Добавить папку профиля…");
inline const QString kNamePlaceholder = QStringLiteral("Имя профиля");
inline const QString kGroupsCaption = QStringLiteral("Группы лимитов Antigravity");
inline const QString kGroupsNote = QStringLiteral(
    "В каждой группе: 5 часов и неделя. Это квоты Antigravity, а не отдельные аккаунты Gemini или Claude Code.");
inline const QString kRetryText = QStringLiteral("Повторить подключение");

// One Antigravity quota group as a row offers it.
struct GroupToggle {
    AntigravityQuotaGroup group;
    QString title;          // "Gemini", "Claude и GPT"
    QString modelsLine;     // the models the group covers
    QString accessibleName; // profile name + ": " + title
    QString objectName;     // "quota-group-" + group + "-" + profile id
    bool on = true;         // shown unless the profile hides the group

    bool operator==(const GroupToggle&) const = default;
};

// One profile row.
struct RowModel {
    QString id;
    bool visible = false;
    QString visibleLabel;      // "Показывать " + short name + ": " + name (the checkbox's accessible name)
    QString visibleObjectName; // "profile-visible-" + id
    QString name;
    QString nameLabel;         // "Имя профиля " + short name
    QString folder;            // the folder with the home folder written as "~"
    QList<GroupToggle> groups; // Antigravity profiles only, in the groups' order
    std::optional<QString> connectionError;

    bool operator==(const RowModel&) const = default;
};

// One provider section: its header and its profiles in list order.
struct SectionModel {
    QString header;
    QList<ProviderProfile> profiles;

    bool showsEmptyText() const { return profiles.isEmpty(); }
};

// `path` with every occurrence of `home` + "/" written "~/"; unchanged when `home` is empty.
QString displayedFolder(const QString& path, const QString& home);

QString visibleObjectName(const QString& profileID);
QString groupObjectName(AntigravityQuotaGroup group, const QString& profileID);
QString groupTitle(AntigravityQuotaGroup group);
QString groupModelsLine(AntigravityQuotaGroup group);

RowModel rowModel(const ProviderProfile& profile, bool visible, const std::optional<QString>& connectionError,
                  const QString& home);

SectionModel sectionModel(UsageProvider provider, const QList<ProviderProfile>& profiles);

} // namespace profilesettings
