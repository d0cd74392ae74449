#pragma once

#include "platform/Timestamp.h"
#include "usage/ProviderUsage.h"
#include "usage/UsageWindow.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

// One limit ring drawn around a provider's logo: a window of the usage, its
// caption, and its place in the ring set (0 outermost).
struct ProviderLimitRing {
    UsageWindow window;
    QString title;
    int position = 0;
    int count = 0;

    const QString& id() const { return window.id; }
    bool operator==(const ProviderLimitRing&) const = default;

    // How a reset time is written in the spoken summary.
    using ResetFormatter = std::function<QString(Timestamp)>;
    // Abbreviated date and short time in the user's locale and time zone.
    static QString defaultResetText(Timestamp moment);

    // The usage's rings in ascending position: Claude Code keeps its three fixed
    // places; Antigravity numbers its sections' windows; Codex and Copilot their windows.
    static QList<ProviderLimitRing> rings(const ProviderUsage& usage);
    // "<title>: использовано <n>%" and, for an exhausted window with a reset time,
    // " · сброс <time>". A percent that has no whole figure reads "нет данных".
    static QString summaryLine(const ProviderLimitRing& ring, const ResetFormatter& resetText = defaultResetText);
    // The rings' lines under "Кольца снаружи внутрь:", plus a closing line for stale or
    // failed data; empty without rings.
    static QString accessibilitySummary(const ProviderUsage& usage, const ResetFormatter& resetText = defaultResetText);
    // The earliest reset among the rings at 100 % or more that have one.
    static std::optional<Timestamp> earliestExhaustedReset(const ProviderUsage& usage);
};

// The usage's source note for Codex and Copilot; none for Claude Code and Antigravity.
std::optional<QString> visibleSourceNote(const ProviderUsage& usage);
