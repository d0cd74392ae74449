#pragma once

#include "providers/codex/CodexResetController.h"
#include "usage/ProviderProfile.h"
#include "usage/ProviderUsage.h"

#include <QLocale>
#include <QTimeZone>
#include <QString>
#include <QStringList>

#include <optional>

namespace resettext {

inline const QString kRetryAction = QStringLiteral("Проверить сброс");
inline const QString kSpendAction = QStringLiteral("Использовать сброс");
inline const QString kAwaiting = QStringLiteral("Сброс выполнен. Ожидаю подтверждения восстановления лимитов.");
inline const QString kAwaitingShort = QStringLiteral("Сброс выполнен, ожидаю обновления лимитов");
inline const QString kBusyPrefix = QStringLiteral("Сбрасываю лимиты ");
inline const QString kProgress = QStringLiteral("Сбрасываю и обновляю лимиты…");
inline const QString kRefresh = QStringLiteral("Обновить лимиты");
inline const QString kCreditsPrefix = QStringLiteral("Доступно сбросов: ");
inline const QString kExpiryPrefix = QStringLiteral("Сброс действует до ");
inline const QString kDone = QStringLiteral("Готово");
inline const QString kCancel = QStringLiteral("Отмена");
inline const QString kSpendQuestion = QStringLiteral("Использовать 1 сброс лимитов?");
inline const QString kRetryQuestion = QStringLiteral("Проверить результат предыдущего сброса?");
inline const QString kSpendExplanation = QStringLiteral(
    "Будет израсходован один доступный сброс для этого аккаунта. Лимиты обновятся прямо в боковой панели.");
inline const QString kRetryExplanation = QStringLiteral(
    "Повторим тот же запрос с тем же идентификатором. Второй сброс не спишется. Если первый запрос не дошёл, будет "
    "использован 1 сброс.");
inline const QString kSpendConfirm = QStringLiteral("Использовать 1 сброс");
inline const QString kRetryConfirm = QStringLiteral("Проверить сброс");

} // namespace resettext

// What the reset controller answers for one usage, gathered once per render.
struct CodexResetQueries {
    bool busy = false;             // a spend of this account runs
    bool awaitingRecovery = false;
    bool canConfirm = false;       // a new spend may be offered
    bool pending = false;          // an attempt waits to be repeated
    bool anySpendRunning = false;  // the controller's busy account is set

    bool operator==(const CodexResetQueries&) const = default;

    static CodexResetQueries ask(const CodexResetController& controller, const ProviderUsage& usage);
};

// What either form of the reset control shows.
struct CodexResetControlModel {
    enum class State { busy, awaitingRecovery, offer, nothing };

    State state = State::nothing;
    bool retry = false;                 // offer: repeat the pending attempt
    QString action;                     // offer: kRetryAction or kSpendAction

    // Compact form.
    QString compactToolTip;
    QString compactAccessibleName;
    QString compactObjectName;          // offer: "reset." + profile id

    // Full form.
    std::optional<QString> creditsLine; // "Доступно сбросов: N"
    QStringList expiryLines;            // "Сброс действует до <date>", one per qualifying credit
    QString buttonTitle;                // offer: action + "…"; awaiting recovery: kRefresh
    bool buttonEnabled = false;
    QString buttonObjectName;           // offer: "reset.card." + profile id

    bool operator==(const CodexResetControlModel&) const = default;

    static CodexResetControlModel make(const CodexResetQueries& queries, const ProviderUsage& usage,
                                       const ProviderProfile& profile,
                                       const QTimeZone& zone = QTimeZone::systemTimeZone(),
                                       const QLocale& locale = QLocale());
};

// What the confirmation popover shows.
struct CodexResetPopoverModel {
    enum class Body { message, progress, confirm, none };

    QString title;                 // "Codex · " + profile name
    Body body = Body::none;
    QString message;               // message: the result text, with kDone
    QString question;              // confirm
    QString explanation;
    QString confirmTitle;
    bool confirmEnabled = false;
    QString confirmObjectName;     // "reset.confirm." + profile id
    bool dismissable = true;       // not while this account's spend runs

    bool operator==(const CodexResetPopoverModel&) const = default;

    // `requestRunning`: the control has sent the confirmation and waits for its answer.
    static CodexResetPopoverModel make(const ProviderProfile& profile, const std::optional<QString>& message,
                                       const CodexResetQueries& queries,
                                       const std::optional<CodexResetController::Confirmation>& confirmation,
                                       bool requestRunning);
};
