#pragma once

#include "PanelPalette.h"
#include "platform/Timestamp.h"
#include "usage/ProviderProfile.h"
#include "usage/ProviderUsage.h"
#include "usage/UsageWindow.h"

#include <QList>
#include <QLocale>
#include <QTimeZone>
#include <QString>

#include <optional>

// What the parts of a provider card show, computed from one usage snapshot.
// The card's widgets (ProviderCard, ProviderHeaderView, UsageWindowRowView) only draw these.

namespace cardtext {

inline const QString kPeakTooltip = QStringLiteral("Максимальное использование среди отображаемых лимитов");
inline const QString kWaiting = QStringLiteral(
    "Экспорт подключён. Ожидаю первый ответ Claude Code в этом профиле. Если сессия уже открыта, перезапустите её.");
inline const QString kLoading = QStringLiteral("Получаю лимиты…");
inline const QString kUnlimited = QStringLiteral("Без лимита");
inline const QString kNoData = QStringLiteral("Нет данных об использовании");
inline const QString kAntigravityNote = QStringLiteral("Показано использование лимитов, не остаток.");
inline const QString kClaudeCaption = QStringLiteral("Использовано · сессия · неделя · Fable");
inline const QString kErrorTitle = QStringLiteral("Не удалось обновить данные");
inline const QString kErrorNoWindows = QStringLiteral("Проверьте подключение аккаунта.");
inline const QString kErrorKeptWindows = QStringLiteral("Показаны последние полученные лимиты.");
inline const QString kDetails = QStringLiteral("Подробности");
inline const QString kRefresh = QStringLiteral("Обновить лимиты");
inline const QString kRefreshing = QStringLiteral("Обновляется…");
inline const QString kRefreshTooltip =
    QStringLiteral("Получить свежие данные. Частые запросы объединяются; сбросы не расходуются.");
inline const QString kUpdated = QStringLiteral("Обновлено");
inline const QString kLastData = QStringLiteral("Последние данные");
inline const QString kAutoReset = QStringLiteral("Автосброс");

// An instant as an abbreviated date and a short time ("3 февр. 2025 г., 14:05");
// empty when it cannot be shown.
QString abbreviatedDateTime(Timestamp instant, const QTimeZone& zone, const QLocale& locale);

} // namespace cardtext

// The top row of a card: badge, names, maker and plan, and the highest used percent.
struct ProviderHeaderModel {
    ProviderUsage usage;                   // for the badge
    QString providerName;                  // short name
    std::optional<QString> profileName;
    QString makerLine;                     // maker, or maker " · " plan
    std::optional<int> peak;               // whole percent; none without windows or a figure
    QString peakText;                      // peak followed by "%", empty without one
    QString accessibleName;                // the row read as one element

    bool operator==(const ProviderHeaderModel&) const = default;

    static ProviderHeaderModel make(const ProviderUsage& usage, const std::optional<QString>& profileName);
};

// The block of one limit window: title, percent, bar and the time to its reset.
struct UsageWindowRowModel {
    QString id;
    QString title;                          // the window's own title
    std::optional<int> percent;             // whole percent; none for a value that cannot be rounded
    QString percentText;                    // percent followed by "%", empty without one
    AdaptiveColor accent;                   // usageColor of usedPercent
    std::optional<double> progress;         // bar fraction 0...1; none when not finite
    std::optional<Timestamp> resetsAt;
    QString accessibleName;                 // the title
    QString accessibleValue;                // "Использовано n процентов[, сброс <date>]"

    bool operator==(const UsageWindowRowModel&) const = default;

    // The reset date of the accessibility value is written in `zone` and `locale`.
    static UsageWindowRowModel make(const UsageWindow& window, const QTimeZone& zone = QTimeZone::systemTimeZone(),
                                    const QLocale& locale = QLocale());
};

// The whole card: which content state, the error block, the buttons and notes.
struct ProviderCardModel {
    enum class Content { waiting, loading, limits, unlimited, noData };

    struct Section {
        QString id;
        QString title;
        std::optional<QString> subtitle;
        QList<UsageWindowRowModel> rows;
        bool operator==(const Section&) const = default;
    };
    struct ErrorBlock {
        QString hint;       // kErrorNoWindows or kErrorKeptWindows
        QString details;    // code, line feed, message (or the message alone)
        bool operator==(const ErrorBlock&) const = default;
    };
    struct RefreshButton {
        QString title;
        bool enabled = true;
        bool operator==(const RefreshButton&) const = default;
    };
    struct SourceNote {
        QString text;
        bool warning = false;   // panelWarning, else panelSecondaryText
        bool operator==(const SourceNote&) const = default;
    };
    struct Updated {
        Timestamp date;
        QString prefix;
        bool spinner = false;
        bool operator==(const Updated&) const = default;
    };

    UsageProvider provider = UsageProvider::codex;
    ProviderHeaderModel header;
    Content content = Content::noData;
    bool claudeCaption = false;              // above the rows
    QList<UsageWindowRowModel> rows;         // every provider but Antigravity
    QList<Section> sections;                 // Antigravity
    bool antigravityNote = false;            // below the sections
    std::optional<ProviderProfile> resetProfile; // the reset control's profile
    std::optional<ErrorBlock> error;
    std::optional<RefreshButton> refresh;
    std::optional<SourceNote> sourceNote;
    std::optional<Updated> updated;
    QString accessibleName;

    bool operator==(const ProviderCardModel&) const = default;

    // `profile` is handed to the reset control of a Codex card when the card has
    // a registry (`withResetControl`); `withRefresh` when it has a retry action.
    static ProviderCardModel make(const ProviderUsage& usage, const std::optional<QString>& profileName,
                                  const std::optional<ProviderProfile>& profile = std::nullopt,
                                  bool withResetControl = false, bool withRefresh = false,
                                  const QTimeZone& zone = QTimeZone::systemTimeZone(),
                                  const QLocale& locale = QLocale());
};
