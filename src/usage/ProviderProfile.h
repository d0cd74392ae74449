#pragma once

#include "usage/AntigravityQuotaGroup.h"
#include "usage/ProviderUsage.h"
#include "usage/UsageProvider.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <optional>
#include <set>

// One local account: one configuration folder of one tool (for Copilot, one account in it).
struct ProviderProfile {
    UsageProvider provider = UsageProvider::codex;
    QString configDirectory;      // absolute, standardised, links resolved (by its creator)
    QString name;
    bool isVisible = false;
    std::optional<QString> accountIdentifier;  // Copilot account: host, U+0000, login
    // Ordered by enumeration, so encoding is stable. Absent and empty both hide nothing.
    std::optional<std::set<AntigravityQuotaGroup>> hiddenAntigravityGroups;

    // Lowercase hex SHA-256 of provider raw value, NUL, configDirectory
    // [, NUL, accountIdentifier]. Renaming, hiding or hidden groups keep it.
    QString id() const;

    // Default display name of a folder named `folderName` for `provider`.
    static QString defaultName(const QString& folderName, UsageProvider provider);

    // `home` is the user's home folder path. These read the file system only to resolve links.
    // The configuration folder a Claude Code program gets; none for home's own ".claude".
    std::optional<QString> claudeDirectoryOverride(const QString& home) const;
    // Path of this profile's ".claude.json" (home's for the default folder, else inside the folder).
    QString claudeConfigFileURL(const QString& home) const;
    // Stem of this profile's Claude bridge file: "personal", "work" or the id.
    QString claudeDirectoryTag(const QString& home) const;

    // The usage as this profile shows it: windows of hidden Antigravity groups dropped.
    ProviderUsage removingHiddenAntigravityGroups(const ProviderUsage& usage) const;

    bool operator==(const ProviderProfile&) const = default;

    // Keys are the field names; absent optionals are left out.
    QJsonObject toJson() const;
    // Strict; unknown keys ignored. Throws json::DecodeError.
    static ProviderProfile fromJson(const QJsonValue& value, const QString& path = {});
};
