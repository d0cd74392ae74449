#pragma once

#include "platform/CancelToken.h"
#include "platform/Result.h"
#include "platform/Timestamp.h"
#include "providers/codex/CodexResetModels.h"
#include "usage/ProviderProfile.h"
#include "usage/ProviderUsage.h"

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QUuid>
#include <functional>
#include <optional>

class CodexUsageClient;
class Defaults;
class Scheduler;
class UsageStore;

// What a reset needs from the registry that owns the stores: pause every Codex
// store before the spend, hand the outcome back when it ends.
class CodexResetHost {
public:
    virtual ~CodexResetHost() = default;
    virtual void beginCodexReset(const QList<UsageStore*>& stores) = 0;
    // `result` is none when the spend failed; it goes to the stores of `stores`
    // that are also in `sameAccount`, the others just end the reset.
    virtual void finishCodexReset(const std::optional<CodexResetResult>& result, const QList<UsageStore*>& stores,
                                  const QList<UsageStore*>& sameAccount) = 0;
};

// Spends one rate-limit reset credit of a Codex account after a confirmation, and
// never twice: the attempt's idempotency key is on disk before the request goes
// out, and an interrupted or unconfirmed spend is repeated with the same key. After
// a spend that took effect, a second one for that account is blocked until fresh
// usage shows the limits back. Accounts are told apart by their Codex account id;
// confirmations are held per profile. Main thread only.
class CodexResetController final : public QObject {
    Q_OBJECT

public:
    // A one-time permission to spend, handed to the card's control.
    struct Confirmation {
        QUuid id;
        QString profileID;
        QString accountID;
        bool isSimulation = false;
        int revision = 0;
        bool isRetry = false;   // repeats the account's pending attempt

        bool operator==(const Confirmation&) const = default;
    };

    // A spend took effect; usage older than notBefore cannot prove the limits came back.
    struct RecoveryGate {
        Timestamp notBefore;
        std::optional<Timestamp> recoveredAt;   // updatedAt of the usage that proved recovery

        bool operator==(const RecoveryGate&) const = default;
        // {"notBefore": seconds since 2001, "recoveredAt": ... (left out when absent)}.
        // Throws json::EncodeError for a non-finite date.
        QJsonObject toJson() const;
        // Throws json::DecodeError.
        static RecoveryGate fromJson(const QJsonValue& value, const QString& path = {});
    };

    // Performs the spend; `done` is called once, on the main thread, after the call returned.
    using Consumer = std::function<void(const ProviderProfile& profile, const CodexResetAttempt& attempt, bool isRetry,
                                        Completion<CodexResetResult> done)>;
    using ClientFactory = std::function<CodexUsageClient(const ProviderProfile& profile)>;

    static inline const QString kPendingKey = QStringLiteral("codexReset.pending.v1");
    static inline const QString kRecoveryKey = QStringLiteral("codexReset.recovery.v1");
    // Where a stored map with damaged entries is kept before its cleaned form replaces it.
    static inline const QString kPendingBackupKey = QStringLiteral("codexReset.pending.v1.backup");
    static inline const QString kRecoveryBackupKey = QStringLiteral("codexReset.recovery.v1.backup");

    static inline const QString kRefusedMessage =
        QStringLiteral("Данные изменились. Откройте подтверждение заново. Сброс не отправлен.");
    static inline const QString kUnconfirmedMessage = QStringLiteral(
        "Результат сброса не подтверждён. «Проверить сброс» повторит тот же запрос без повторного списания.");
    static inline const QString kNotSavedMessage =
        QStringLiteral("Не удалось сохранить данные сброса на диск. Сброс не отправлен.");
    static inline const QString kAwaitingRecoverySuffix = QStringLiteral(
        " Ожидаю подтверждения восстановления лимитов. Второй сброс заблокирован; можно повторить обновление данных.");
    static inline const QString kUpdatedSuffix = QStringLiteral(" Лимиты обновлены.");
    static inline const QString kNotUpdatedSuffix = QStringLiteral(" Лимиты пока не обновлены.");
    static QString outcomeText(CodexResetOutcome outcome);

    // Reads the pending attempts and recovery gates from `defaults`, entry by
    // entry: a damaged entry is dropped and the stored value backed up (see
    // kPendingBackupKey). `host` may be null (nothing to pause). `defaults`,
    // `scheduler` and `host` must outlive the controller.
    CodexResetController(Defaults& defaults, Consumer consumer, Scheduler& scheduler, CodexResetHost* host = nullptr,
                         QObject* parent = nullptr);
    ~CodexResetController() override;

    // Observed state.
    const std::optional<QString>& busyAccountID() const { return m_busyAccountID; }
    const QMap<QString, CodexResetAttempt>& attempts() const { return m_attempts; }
    const QMap<QString, RecoveryGate>& recoveryGates() const { return m_recoveryGates; }
    const QMap<QString, QUuid>& confirmations() const { return m_confirmations; }

    // Queries of the card's control.
    bool isBusy(const ProviderUsage& usage) const;
    bool hasPendingAttempt(const ProviderUsage& usage) const;
    bool isAwaitingRecovery(const ProviderUsage& usage) const;
    // Whether a new spend (not a retry) may be offered now.
    bool canConfirmReset(const ProviderUsage& usage) const;

    // A new confirmation for the profile (replacing its older one), or none.
    std::optional<Confirmation> makeConfirmation(const ProviderProfile& profile, const ProviderUsage& usage);
    // Forgets it when it is still the profile's current one.
    void discardConfirmation(const std::optional<Confirmation>& confirmation);

    // Spends (or repeats the pending spend) and hands the control's message to
    // `done`, always later on the main thread. The store lists go to the host.
    void performReset(const Confirmation& confirmation, const ProviderProfile& profile, const ProviderUsage& usage,
                      const QList<UsageStore*>& codexStores, const QList<UsageStore*>& sameAccountStores,
                      Completion<QString> done);

    // Records that a waiting account's limits came back.
    void reconcile(const ProviderUsage& usage);

    // Writes attempts and recovery gates and flushes them to disk; false when the
    // flush failed (a key that fails to encode keeps its old value).
    bool persist();

    // The application's consumer: the Codex client of the profile (20 s per reply,
    // this process's environment with CODEX_HOME set to the profile's folder).
    // Cancelling `cancel` (at quit) ends a running spend; its attempt stays pending.
    static Consumer defaultConsumer(Scheduler& scheduler, CancelToken cancel = CancelToken());
    // The same with another client for the profile.
    static Consumer clientConsumer(Scheduler& scheduler, ClientFactory makeClient, CancelToken cancel = CancelToken());

signals:
    void busyAccountIDChanged();
    void attemptsChanged();
    void recoveryGatesChanged();
    void confirmationsChanged();

private:
    struct Spend;

    void setBusyAccountID(std::optional<QString> accountID);
    void finishSpend(const Spend& spend, Result<CodexResetResult> result);
    void deliver(Completion<QString> done, QString message);
    Timestamp now() const;

    std::optional<QString> m_busyAccountID;
    QMap<QString, CodexResetAttempt> m_attempts;
    QMap<QString, RecoveryGate> m_recoveryGates;
    QMap<QString, QUuid> m_confirmations;
    Defaults& m_defaults;
    Consumer m_consumer;
    Scheduler& m_scheduler;
    CodexResetHost* m_host;
};
