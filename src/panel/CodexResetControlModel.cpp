#include "CodexResetControlModel.h"

#include "ProviderCardModel.h"

CodexResetQueries CodexResetQueries::ask(const CodexResetController& controller, const ProviderUsage& usage)
{
    return {controller.isBusy(usage), controller.isAwaitingRecovery(usage), controller.canConfirmReset(usage),
            controller.hasPendingAttempt(usage), controller.busyAccountID().has_value()};
}

CodexResetControlModel CodexResetControlModel::make(const CodexResetQueries& queries, const ProviderUsage& usage,
                                                    const ProviderProfile& profile, const QTimeZone& zone,
                                                    const QLocale& locale)
{
    CodexResetControlModel m;
    if (queries.busy)
        m.state = State::busy;
    else if (queries.awaitingRecovery)
        m.state = State::awaitingRecovery;
    else if (queries.canConfirm || queries.pending)
        m.state = State::offer;

    if (usage.codexResetCredits) {
        const CodexResetCredits& credits = *usage.codexResetCredits;
        m.creditsLine = resettext::kCreditsPrefix + QString::number(std::max<qint64>(credits.availableCount, 0));
        for (const CodexResetCredits::Credit& credit : credits.credits.value_or(QList<CodexResetCredits::Credit> {})) {
            if (credit.status != QLatin1String("available") || credit.resetType != QLatin1String("codexRateLimits")
                || !credit.expiresAt)
                continue;
            const QString date =
                cardtext::abbreviatedDateTime(Timestamp::fromSince1970(double(*credit.expiresAt)), zone, locale);
            if (!date.isEmpty())
                m.expiryLines.append(resettext::kExpiryPrefix + date);
        }
    }

    switch (m.state) {
    case State::busy:
        m.compactAccessibleName = resettext::kBusyPrefix + profile.name;
        break;
    case State::awaitingRecovery:
        m.compactToolTip = resettext::kAwaiting;
        m.compactAccessibleName = resettext::kAwaitingShort;
        m.buttonTitle = resettext::kRefresh;
        m.buttonEnabled = !usage.isLoading;
        break;
    case State::offer:
        m.retry = queries.pending;
        m.action = m.retry ? resettext::kRetryAction : resettext::kSpendAction;
        m.compactToolTip = m.action + QStringLiteral(" · ") + profile.name;
        m.compactAccessibleName = m.action + QStringLiteral(" · Codex · ") + profile.name;
        m.compactObjectName = QStringLiteral("reset.") + profile.id();
        m.buttonTitle = m.action + QStringLiteral("…");
        m.buttonEnabled = !queries.anySpendRunning;
        m.buttonObjectName = QStringLiteral("reset.card.") + profile.id();
        break;
    case State::nothing:
        break;
    }
    return m;
}

CodexResetPopoverModel CodexResetPopoverModel::make(const ProviderProfile& profile,
                                                    const std::optional<QString>& message,
                                                    const CodexResetQueries& queries,
                                                    const std::optional<CodexResetController::Confirmation>& confirmation,
                                                    bool requestRunning)
{
    CodexResetPopoverModel m;
    m.title = QStringLiteral("Codex · ") + profile.name;
    m.dismissable = !queries.busy;
    if (message) {
        m.body = Body::message;
        m.message = *message;
    } else if (queries.busy) {
        m.body = Body::progress;
        m.message = resettext::kProgress;
    } else if (confirmation) {
        m.body = Body::confirm;
        const bool retry = confirmation->isRetry;
        m.question = retry ? resettext::kRetryQuestion : resettext::kSpendQuestion;
        m.explanation = retry ? resettext::kRetryExplanation : resettext::kSpendExplanation;
        m.confirmTitle = retry ? resettext::kRetryConfirm : resettext::kSpendConfirm;
        m.confirmEnabled = !queries.anySpendRunning && !requestRunning;
        m.confirmObjectName = QStringLiteral("reset.confirm.") + profile.id();
    }
    return m;
}
