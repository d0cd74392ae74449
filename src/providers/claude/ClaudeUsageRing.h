#pragma once

#include "usage/ProviderUsage.h"
#include "usage/UsageWindow.h"

#include <QList>
#include <QString>
#include <array>
#include <optional>

// The three rings of a Claude Code account; the raw value is the id of the window each shows.
enum class ClaudeRingKind { session, weekly, fable };

inline constexpr std::array<ClaudeRingKind, 3> kAllClaudeRingKinds {
    ClaudeRingKind::session, ClaudeRingKind::weekly, ClaudeRingKind::fable};

QString rawValue(ClaudeRingKind kind); // "five_hour", "seven_day", "model-fable"
// Exactly one of the three raw values, case-sensitive.
std::optional<ClaudeRingKind> claudeRingKindFromRawValue(const QString& raw);

// One ring of a Claude Code account and the usage's window for it, if any.
struct ClaudeUsageRing {
    ClaudeRingKind kind = ClaudeRingKind::session;
    std::optional<UsageWindow> window;

    ClaudeRingKind id() const { return kind; }
    bool operator==(const ClaudeUsageRing&) const = default;

    // For a Claude usage: one ring per kind in kind order, each with the first window
    // whose id is the kind's raw value. Empty for every other provider.
    static QList<ClaudeUsageRing> rings(const ProviderUsage& usage);
};
