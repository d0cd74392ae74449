#pragma once

#include <QJsonValue>
#include <QString>
#include <array>
#include <optional>

// The four tools whose usage the application shows, in display order.
enum class UsageProvider { codex, claude, copilot, antigravity };

inline constexpr std::array<UsageProvider, 4> kAllUsageProviders {
    UsageProvider::codex, UsageProvider::claude, UsageProvider::copilot, UsageProvider::antigravity};

// "codex", "claude", "copilot", "antigravity"; also the provider's id.
QString rawValue(UsageProvider provider);
std::optional<UsageProvider> usageProviderFromRawValue(const QString& raw);
// Header of the provider's settings section.
QString displayName(UsageProvider provider);
// Fed by statusLine bridge files (Claude Code and Antigravity).
bool usesStatusLine(UsageProvider provider);

// JSON form: the raw value. Decoding another string throws json::DecodeError.
inline QJsonValue toJson(UsageProvider provider) { return rawValue(provider); }
UsageProvider usageProviderFromJson(const QJsonValue& value, const QString& path = {});

// Scope of the older single-account scheme.
enum class AccountScope { personal, work };

inline constexpr std::array<AccountScope, 2> kAllAccountScopes {AccountScope::personal, AccountScope::work};

QString rawValue(AccountScope scope); // "personal", "work"
std::optional<AccountScope> accountScopeFromRawValue(const QString& raw);

// "team_plus_plan" -> "Team Plus Plan": pieces between "_" (empty ones dropped),
// each capitalized, joined by single blanks.
QString humanizedIdentifier(const QString& identifier);
