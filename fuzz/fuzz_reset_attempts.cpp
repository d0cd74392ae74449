// The stored pending reset attempts and recovery gates, through the controller that
// keeps them: what it reads it writes back so that a restarted one reads the same.
#include "FuzzSupport.h"
#include "platform/Defaults.h"
#include "platform/Scheduler.h"
#include "providers/codex/CodexResetController.h"

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
    FUZZ_CHECK(first.persist(), QString());
    const std::unique_ptr<MemoryDefaults> restarted = defaults.restarted();
    CodexResetController second(*restarted, consumer, scheduler);
    FUZZ_CHECK(second.attempts() == first.attempts(), QString::fromUtf8(*restarted->data(CodexResetController::kPendingKey)));
    FUZZ_CHECK(second.recoveryGates() == first.recoveryGates(), QString::fromUtf8(*restarted->data(CodexResetController::kRecoveryKey)));
    for (auto it = first.attempts().constBegin(); it != first.attempts().constEnd(); ++it)
        fuzz::expectingErrors([&] { FUZZ_CHECK(CodexResetAttempt::fromJson(it->toJson()) == *it, it.key()); });
    return 0;
}
