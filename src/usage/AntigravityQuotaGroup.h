#pragma once

#include <QJsonValue>
#include <QString>
#include <array>
#include <optional>

// The two Antigravity model groups a profile can hide.
enum class AntigravityQuotaGroup { gemini, claudeAndGPT };

inline constexpr std::array<AntigravityQuotaGroup, 2> kAllAntigravityQuotaGroups {
    AntigravityQuotaGroup::gemini, AntigravityQuotaGroup::claudeAndGPT};

QString rawValue(AntigravityQuotaGroup group); // "gemini", "claudeAndGPT"
std::optional<AntigravityQuotaGroup> antigravityQuotaGroupFromRawValue(const QString& raw);
// Throws json::DecodeError for any other value.
AntigravityQuotaGroup antigravityQuotaGroupFromJson(const QJsonValue& value, const QString& path = {});

// Window id prefix of a group: "gemini-", "3p-".
QString windowIdPrefix(AntigravityQuotaGroup group);
// The group a window id belongs to ("gemini-" first, then "3p-"; exact, case-sensitive).
std::optional<AntigravityQuotaGroup> antigravityQuotaGroup(const QString& windowId);
