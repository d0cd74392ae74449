#pragma once

#include "usage/AntigravityQuotaGroup.h"
#include "usage/ProviderUsage.h"
#include "usage/UsageWindow.h"

#include <QList>
#include <QString>
#include <optional>

// One display section of an Antigravity usage.
struct AntigravityQuotaSection {
    QString id;                       // "gemini", "claudeAndGPT" or "other"
    QString title;
    std::optional<QString> subtitle;
    QList<UsageWindow> windows;

    bool operator==(const AntigravityQuotaSection&) const = default;

    // At most three sections, never an empty one; none for other providers.
    static QList<AntigravityQuotaSection> sections(const ProviderUsage& usage);
};
