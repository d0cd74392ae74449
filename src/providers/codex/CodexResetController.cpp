#include "providers/codex/CodexResetController.h"

#include "platform/Defaults.h"
#include "platform/MainThread.h"
#include "platform/Scheduler.h"
#include "platform/StrictJson.h"
#include "platform/TimestampJson.h"
#include "providers/codex/CodexUsageClient.h"
#include "usage/ProviderClientError.h"

#include <QPointer>
#include <memory>

namespace {

// A stored map from account id to value, read entry by entry: an entry that
// `decode` rejects (none or a decoding error) or that has no account id is
// dropped alone. When anything was dropped the stored value is kept under
// `backupKey`; the cleaned map replaces it on the next save.
template <class T, class Decode>
QMap<QString, T> loadMap(Defaults& defaults, const QString& key, const QString& backupKey, Decode decode)
{
    if (!defaults.contains(key))
        return {};
    const std::optional<QByteArray> data = defaults.data(key);
    QMap<QString, T> out;
    bool damaged = !data;
    try {
        const QJsonObject object = data ? json::parseObject(*data) : QJsonObject();
        for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
            std::optional<T> value;
            try {
                if (!it.key().isEmpty())
                    value = decode(it.value(), it.key());
            } catch (const json::DecodeError&) {
            }
            if (value)
                out.insert(it.key(), *value);
            else
                damaged = true;
        }
    } catch (const json::DecodeError&) {
        damaged = true;
    }
    if (damaged)
        defaults.backUp(key, backupKey);
    return out;
}

// Stores the map under `key`; a value that cannot be encoded leaves the key as it was.
template <class T>
void storeMap(Defaults& defaults, const QString& key, const QMap<QString, T>& map)
{
    try {
        QJsonObject object;
        for (auto it = map.constBegin(); it != map.constEnd(); ++it)
            object.insert(it.key(), it.value().toJson());
        defaults.setData(key, json::serialize(object));
    } catch (const json::EncodeError&) {
    }
}

// A new idempotency key in the standard 36-character form.
QString newIdempotencyKey()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

} // namespace

struct CodexResetController::Spend {
    QString accountID;
    QList<UsageStore*> codexStores;
    QList<UsageStore*> sameAccountStores;
    Completion<QString> done;
};

QJsonObject CodexResetController::RecoveryGate::toJson() const
{
    json::Writer writer;
    writer.set(QStringLiteral("notBefore"), json::timestamp(notBefore));
    json::setOptTimestamp(writer, QStringLiteral("recoveredAt"), recoveredAt);
    return writer.object();
}

CodexResetController::RecoveryGate CodexResetController::RecoveryGate::fromJson(const QJsonValue& value, const QString& path)
{
    const auto reader = json::Reader::fromValue(value, path);
    return {json::timestamp(reader, QStringLiteral("notBefore")), json::optTimestamp(reader, QStringLiteral("recoveredAt"))};
}

QString CodexResetController::outcomeText(CodexResetOutcome outcome)
{
    switch (outcome) {
    case CodexResetOutcome::reset: return QStringLiteral("Сброс использован.");
    case CodexResetOutcome::alreadyRedeemed: return QStringLiteral("Этот сброс уже был выполнен. Второй не списан.");
    case CodexResetOutcome::nothingToReset: return QStringLiteral("Сброс не нужен: подходящий лимит уже доступен.");
    case CodexResetOutcome::noCredit: return QStringLiteral("Доступных сбросов больше нет.");
    }
    return {};
}

CodexResetController::CodexResetController(Defaults& defaults, Consumer consumer, Scheduler& scheduler,
                                           CodexResetHost* host, QObject* parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_consumer(std::move(consumer))
    , m_scheduler(scheduler)
    , m_host(host)
{
    ASSERT_MAIN_THREAD();
    // An attempt that could never be sent again (no key, or filed under another
    // account) is damaged: the client refuses it.
    m_attempts = loadMap<CodexResetAttempt>(defaults, kPendingKey, kPendingBackupKey,
                                            [](const QJsonValue& v, const QString& account) {
        const CodexResetAttempt attempt = CodexResetAttempt::fromJson(v, account);
        return attempt.accountID == account && !attempt.idempotencyKey.isEmpty() ? std::optional(attempt) : std::nullopt;
    });
    m_recoveryGates = loadMap<RecoveryGate>(defaults, kRecoveryKey, kRecoveryBackupKey,
                                            [](const QJsonValue& v, const QString& account) {
        return std::optional(RecoveryGate::fromJson(v, account));
    });
}

CodexResetController::~CodexResetController() = default;

Timestamp CodexResetController::now() const
{
    return m_scheduler.clock().now();
}

bool CodexResetController::isBusy(const ProviderUsage& usage) const
{
    ASSERT_MAIN_THREAD();
    return m_busyAccountID && usage.codexAccountID && *m_busyAccountID == *usage.codexAccountID;
}

bool CodexResetController::hasPendingAttempt(const ProviderUsage& usage) const
{
    ASSERT_MAIN_THREAD();
    return usage.codexAccountID && m_attempts.contains(*usage.codexAccountID);
}

bool CodexResetController::isAwaitingRecovery(const ProviderUsage& usage) const
{
    ASSERT_MAIN_THREAD();
    if (!usage.codexAccountID)
        return false;
    const auto gate = m_recoveryGates.constFind(*usage.codexAccountID);
    return gate != m_recoveryGates.constEnd() && !gate->recoveredAt;
}

bool CodexResetController::canConfirmReset(const ProviderUsage& usage) const
{
    ASSERT_MAIN_THREAD();
    if (m_busyAccountID)
        return false;
    if (!usage.canOfferCodexReset(now()))
        return false;
    if (usage.isSimulation.value_or(false))
        return false;
    if (!usage.codexAccountID)
        return false;
    const QString& account = *usage.codexAccountID;
    if (m_attempts.contains(account))
        return false;
    const auto gate = m_recoveryGates.constFind(account);
    if (gate == m_recoveryGates.constEnd())
        return true;
    // After a spend that took effect: only once the limits were seen back and newer data shows them blocked again.
    return gate->recoveredAt && usage.updatedAt && *usage.updatedAt > *gate->recoveredAt
        && usage.codexOrdinaryUsageAllowed == std::optional(false);
}

std::optional<CodexResetController::Confirmation> CodexResetController::makeConfirmation(const ProviderProfile& profile,
                                                                                         const ProviderUsage& usage)
{
    ASSERT_MAIN_THREAD();
    if (profile.provider != UsageProvider::codex || m_busyAccountID)
        return std::nullopt;
    if (!canConfirmReset(usage) && !hasPendingAttempt(usage))
        return std::nullopt;
    if (!usage.codexAccountID)
        return std::nullopt;
    Confirmation confirmation {QUuid::createUuid(), profile.id(), *usage.codexAccountID, false, 0, hasPendingAttempt(usage)};
    m_confirmations.insert(confirmation.profileID, confirmation.id);
    emit confirmationsChanged();
    return confirmation;
}

void CodexResetController::discardConfirmation(const std::optional<Confirmation>& confirmation)
{
    ASSERT_MAIN_THREAD();
    if (!confirmation)
        return;
    const auto current = m_confirmations.constFind(confirmation->profileID);
    if (current == m_confirmations.constEnd() || *current != confirmation->id)
        return;
    m_confirmations.remove(confirmation->profileID);
    emit confirmationsChanged();
}

void CodexResetController::performReset(const Confirmation& confirmation, const ProviderProfile& profile,
                                        const ProviderUsage& usage, const QList<UsageStore*>& codexStores,
                                        const QList<UsageStore*>& sameAccountStores, Completion<QString> done)
{
    ASSERT_MAIN_THREAD();
    const QString profileID = profile.id();
    const auto current = m_confirmations.constFind(profileID);
    const bool refused = m_busyAccountID.has_value()
        || confirmation.profileID != profileID
        || profile.provider != UsageProvider::codex
        || current == m_confirmations.constEnd() || *current != confirmation.id
        || !usage.codexAccountID || *usage.codexAccountID != confirmation.accountID
        || confirmation.isSimulation || confirmation.revision != 0
        || (confirmation.isRetry ? !hasPendingAttempt(usage) : !canConfirmReset(usage));
    if (refused) {
        deliver(std::move(done), kRefusedMessage);
        return;
    }

    m_confirmations.remove(profileID);
    emit confirmationsChanged();
    const QString account = confirmation.accountID;
    setBusyAccountID(account);

    // The key goes to disk before anything is sent, and stays the same for every retry.
    const bool isNewAttempt = !m_attempts.contains(account);
    const CodexResetAttempt attempt = isNewAttempt ? CodexResetAttempt {account, newIdempotencyKey()} : m_attempts.value(account);
    m_attempts.insert(account, attempt);
    emit attemptsChanged();
    if (!persist()) {
        // Without the key on disk a crash could lead to a second spend under a new key: send nothing.
        if (isNewAttempt) {
            m_attempts.remove(account);
            emit attemptsChanged();
            persist();
        }
        setBusyAccountID(std::nullopt);
        deliver(std::move(done), kNotSavedMessage);
        return;
    }

    if (m_host)
        m_host->beginCodexReset(codexStores);

    auto spend = std::make_shared<Spend>(Spend {account, codexStores, sameAccountStores, std::move(done)});
    auto answered = std::make_shared<bool>(false);
    QPointer<CodexResetController> self(this);
    auto finish = [self, spend, answered](Result<CodexResetResult> result) {
        if (*answered)
            return;
        *answered = true;
        if (self)
            self->finishSpend(*spend, std::move(result));
    };
    try {
        m_consumer(profile, attempt, confirmation.isRetry, finish);
    } catch (...) {
        finish(Result<CodexResetResult>::failure(std::current_exception()));
    }
}

void CodexResetController::finishSpend(const Spend& spend, Result<CodexResetResult> result)
{
    ASSERT_MAIN_THREAD();
    const QString& account = spend.accountID;
    QString message;
    if (result.ok()) {
        const CodexResetResult& reply = result.value();
        // The server has answered for this key, whatever it said.
        m_attempts.remove(account);
        emit attemptsChanged();
        const bool tookEffect = didReset(reply.outcome);
        if (tookEffect) {
            const Timestamp notBefore = reply.usage && reply.usage->updatedAt ? *reply.usage->updatedAt : now();
            m_recoveryGates.insert(account, RecoveryGate {notBefore, std::nullopt});
            emit recoveryGatesChanged();
        }
        persist();
        if (m_host)
            m_host->finishCodexReset(reply, spend.codexStores, spend.sameAccountStores);
        if (reply.usage)
            reconcile(*reply.usage);

        message = outcomeText(reply.outcome);
        const auto gate = m_recoveryGates.constFind(account);
        if (tookEffect && gate != m_recoveryGates.constEnd() && !gate->recoveredAt)
            message += kAwaitingRecoverySuffix;
        else if (reply.usage)
            message += kUpdatedSuffix;
        else
            message += kNotUpdatedSuffix;
    } else {
        // The attempt stays pending: the next confirmation repeats it with the same key.
        if (m_host)
            m_host->finishCodexReset(std::nullopt, spend.codexStores, spend.sameAccountStores);
        message = kUnconfirmedMessage + QLatin1Char('\n') + ProviderClientError::redactedDescription(result.error());
    }
    setBusyAccountID(std::nullopt);
    deliver(spend.done, message);
}

void CodexResetController::reconcile(const ProviderUsage& usage)
{
    ASSERT_MAIN_THREAD();
    if (usage.isSimulation.value_or(false) || usage.isLoading || usage.errorMessage || usage.isStale.value_or(false))
        return;
    if (!usage.codexAccountID)
        return;
    const auto gate = m_recoveryGates.find(*usage.codexAccountID);
    if (gate == m_recoveryGates.end())
        return;
    if (!usage.updatedAt || *usage.updatedAt < gate->notBefore)
        return;
    if (usage.codexOrdinaryUsageAllowed != std::optional(true) || usage.hasExhaustedCodexWindow())
        return;
    if (gate->recoveredAt)
        return;
    gate->recoveredAt = *usage.updatedAt;   // the time of the data, not the clock
    emit recoveryGatesChanged();
    persist();
}

bool CodexResetController::persist()
{
    ASSERT_MAIN_THREAD();
    storeMap(m_defaults, kPendingKey, m_attempts);
    storeMap(m_defaults, kRecoveryKey, m_recoveryGates);
    return m_defaults.flush();
}

void CodexResetController::setBusyAccountID(std::optional<QString> accountID)
{
    if (m_busyAccountID == accountID)
        return;
    m_busyAccountID = std::move(accountID);
    emit busyAccountIDChanged();
}

void CodexResetController::deliver(Completion<QString> done, QString message)
{
    if (!done)
        return;
    QPointer<CodexResetController> self(this);
    m_scheduler.post([self, done = std::move(done), message = std::move(message)] {
        if (self)
            done(Result<QString>::success(message));
    });
}

CodexResetController::Consumer CodexResetController::defaultConsumer(Scheduler& scheduler, CancelToken cancel)
{
    return clientConsumer(scheduler, [](const ProviderProfile& profile) { return CodexUsageClient::forProfile(profile); },
                          std::move(cancel));
}

CodexResetController::Consumer CodexResetController::clientConsumer(Scheduler& scheduler, ClientFactory makeClient,
                                                                    CancelToken cancel)
{
    Scheduler* target = &scheduler;
    return [target, makeClient = std::move(makeClient), cancel](const ProviderProfile& profile,
                                                                const CodexResetAttempt& attempt, bool isRetry,
                                                                Completion<CodexResetResult> done) {
        makeClient(profile).consumeResetCredit(*target, attempt, isRetry, cancel, std::move(done));
    };
}
