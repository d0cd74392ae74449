// The stored pending reset attempts and recovery gates, through the controller that
// keeps them: what it reads it writes back so that a restarted one reads the same,
// every attempt it keeps could be sent again, and whatever it drops is kept aside.
#include "FuzzSupport.h"
#include "platform/Defaults.h"
#include "platform/Scheduler.h"
#include "providers/codex/CodexResetController.h"

namespace {

// How many entries the stored value holds; none when it is not an object.
std::optional<qsizetype> entryCount(const QByteArray& stored)
{
    try {
        return json::parseObject(stored).size();
    } catch (const json::DecodeError&) {
        return std::nullopt;
    }
}

// The raw value is backed up exactly when an entry was dropped.
void checkBackup(const MemoryDefaults& defaults, const QByteArray& stored, qsizetype kept, const QString& backupKey)
{
    const std::optional<qsizetype> entries = entryCount(stored);
    const bool dropped = !entries || *entries != kept;
    FUZZ_CHECK(defaults.contains(backupKey) == dropped, backupKey);
    if (dropped)
        FUZZ_CHECK(defaults.data(backupKey) == std::optional(stored), backupKey);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const QByteArray gates = fuzz::consumeBytes(input, 4096);
    const std::string rest = input.ConsumeRemainingBytesAsString();
    const QByteArray attempts(rest.data(), static_cast<qsizetype>(rest.size()));

    MemoryDefaults defaults;
    defaults.setData(CodexResetController::kPendingKey, attempts);
    defaults.setData(CodexResetController::kRecoveryKey, gates);
    VirtualScheduler scheduler;
    const CodexResetController::Consumer consumer = [](const ProviderProfile&, const CodexResetAttempt&, bool,
                                                       Completion<CodexResetResult>) {};
    CodexResetController first(defaults, consumer, scheduler);
    for (auto it = first.attempts().constBegin(); it != first.attempts().constEnd(); ++it)
        FUZZ_CHECK(!it.key().isEmpty() && it->accountID == it.key() && !it->idempotencyKey.isEmpty(), it.key());
    for (auto it = first.recoveryGates().constBegin(); it != first.recoveryGates().constEnd(); ++it)
        FUZZ_CHECK(!it.key().isEmpty(), it.key());
    checkBackup(defaults, attempts, first.attempts().size(), CodexResetController::kPendingBackupKey);
    checkBackup(defaults, gates, first.recoveryGates().size(), CodexResetController::kRecoveryBackupKey);
    FUZZ_CHECK(first.persist(), QString());
    const std::unique_ptr<MemoryDefaults> restarted = defaults.restarted();
    CodexResetController second(*restarted, consumer, scheduler);
    FUZZ_CHECK(second.attempts() == first.attempts(), QString::fromUtf8(*restarted->data(CodexResetController::kPendingKey)));
    FUZZ_CHECK(second.recoveryGates() == first.recoveryGates(), QString::fromUtf8(*restarted->data(CodexResetController::kRecoveryKey)));
    for (auto it = first.attempts().constBegin(); it != first.attempts().constEnd(); ++it)
        fuzz::expectingErrors([&] { FUZZ_CHECK(CodexResetAttempt::fromJson(it->toJson()) == *it, it.key()); });
    return 0;
}
