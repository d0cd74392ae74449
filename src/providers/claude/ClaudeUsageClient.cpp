#include "ClaudeUsageClient.h"

#include "ClaudeControlTransport.h"
#include "ClaudeStatusLineClient.h"
#include "ClaudeWindows.h"
#include "platform/MainThread.h"
#include "platform/Workers.h"
#include "usage/ProviderClientError.h"

#include <QPointer>

namespace {

ProviderClientError notSignedIn()
{
    return ProviderClientError::credentialsMissing(QStringLiteral("Войдите в Claude Code для этого профиля."));
}

Timestamp updatedOrDistantPast(const ProviderUsage& usage)
{
    return usage.updatedAt.value_or(ClaudeUsageClient::distantPast());
}

ClaudeUsageClient::Reader defaultReader(const ProviderProfile& profile, const QString& home, const ProcessEnvironment& environment)
{
    const ClaudeControlTransport transport {profile.claudeDirectoryOverride(home), std::nullopt, environment,
                                            ClaudeUsageClient::kTimeoutSeconds};
    return [transport](const CancelToken& cancel) { return transport.run(cancel); };
}

} // namespace

ClaudeUsageClient::ClaudeUsageClient(ProviderProfile profile, QString home, Scheduler& scheduler, std::optional<Reader> read,
                                     ProcessEnvironment environment, QObject* parent)
    : QObject(parent)
    , m_profile(std::move(profile))
    , m_home(std::move(home))
    , m_scheduler(scheduler)
    , m_environment(std::move(environment))
    , m_read(read ? std::move(*read) : defaultReader(m_profile, m_home, m_environment))
    , m_nextRead(distantPast())
{
}

Timestamp ClaudeUsageClient::distantPast()
{
    // January 1 of the year 1, as far back as any date the system compares.
    return Timestamp::fromSinceReference(-63114076800.0);
}

QList<UsageWindow> ClaudeUsageClient::removingElapsedWindows(const QList<UsageWindow>& windows, Timestamp now)
{
    QList<UsageWindow> out;
    for (const UsageWindow& w : windows) {
        if (!w.resetsAt || *w.resetsAt > now) {
            out.append(w);
        } else if (w.id == claudewindows::kFiveHourId) {
            UsageWindow kept = w;
            kept.resetsAt.reset();
            out.append(kept);
        }
    }
    return out;
}

std::optional<ClaudeAccountIdentity> ClaudeUsageClient::readIdentity() const
{
    auto identity = ClaudeAccountIdentity::read(m_profile.claudeConfigFileURL(m_home));
    if (!identity || !identity->isUsable())
        return std::nullopt;
    return identity;
}

bool ClaudeUsageClient::isCurrentAccount(const Call& call) const
{
    return m_identity && *m_identity == call.start;
}

void ClaudeUsageClient::finish(const Completion<ProviderUsage>& done, Result<ProviderUsage> result)
{
    // Never inside the call that started the fetch.
    m_scheduler.post([done, result = std::move(result)]() mutable { done(std::move(result)); });
}

void ClaudeUsageClient::fetchUsage(bool force, Timestamp now, const CancelToken& cancel, Completion<ProviderUsage> done)
{
    ASSERT_MAIN_THREAD();
    const std::optional<ClaudeAccountIdentity> start = readIdentity();
    if (!start) {
        finish(done, Result<ProviderUsage>::failure(std::make_exception_ptr(notSignedIn())));
        return;
    }
    if (!m_identity || *m_identity != *start) {
        m_cached.reset();
        m_nextRead = distantPast();
        m_identity = start;
    }

    if (!force && now < m_nextRead && m_cached) {
        ProviderUsage answer = *m_cached;
        answer.windows = removingElapsedWindows(answer.windows, now);
        answer.isStale = m_cached->isStale.value_or(false)
            || now.secondsSince(m_cached->updatedAt.value_or(distantPast())) > kCacheSeconds;
        finish(done, Result<ProviderUsage>::success(std::move(answer)));
        return;
    }

    Call call {now, cancel, std::move(done), *start, m_nextRead};
    m_nextRead = now.adding(kCacheSeconds);

    QPointer<ClaudeUsageClient> self(this);
    const Reader read = m_read;
    runOnWorker<QByteArray>(m_scheduler, [read, cancel] { return read(cancel); },
                            Completion<QByteArray>([self, call = std::move(call)](Result<QByteArray> result) mutable {
                                if (self)
                                    self->readerFinished(std::move(call), std::move(result));
                            }));
}

void ClaudeUsageClient::readerFinished(Call call, Result<QByteArray> read)
{
    ASSERT_MAIN_THREAD();
    if (!read.ok()) {
        fallback(std::move(call), read.error());
        return;
    }
    ProviderUsage usage;
    try {
        usage = ClaudeUsageParser::parse(read.value(), call.now);
    } catch (...) {
        fallback(std::move(call), std::current_exception());
        return;
    }
    if (call.cancel.isCancelled()) {
        fallback(std::move(call), std::make_exception_ptr(CancellationError()));
        return;
    }
    // The state may have moved while the reader ran; judge by what holds now.
    const std::optional<ClaudeAccountIdentity> after = readIdentity();
    if (!after) {
        fallback(std::move(call), std::make_exception_ptr(notSignedIn()));
        return;
    }
    if (*after != call.start) {
        m_cached.reset();
        fallback(std::move(call), std::make_exception_ptr(ProviderClientError::requestFailed(
                                      QStringLiteral("Аккаунт Claude изменился во время обновления."))));
        return;
    }
    if (isCurrentAccount(call))
        m_cached = usage;
    call.done(Result<ProviderUsage>::success(std::move(usage)));
}

void ClaudeUsageClient::fallback(Call call, std::exception_ptr error)
{
    ASSERT_MAIN_THREAD();
    if (call.cancel.isCancelled()) {
        // Undo this call's move only: another call may have set its own since.
        if (m_nextRead == call.now.adding(kCacheSeconds))
            m_nextRead = call.previousNextRead;
        call.done(Result<ProviderUsage>::failure(std::make_exception_ptr(CancellationError())));
        return;
    }
    const std::optional<ClaudeAccountIdentity> after = readIdentity();
    if (!after) {
        call.done(Result<ProviderUsage>::failure(std::make_exception_ptr(notSignedIn())));
        return;
    }
    if (*after != call.start) {
        m_cached.reset();
        call.done(Result<ProviderUsage>::failure(error));
        return;
    }

    // The bridge file blocks on file reads: a worker reads it; cancelling the call
    // does not stop that read, whose result the call still awaits.
    const ClaudeStatusLineClient statusLine(m_profile, m_home, m_environment);
    const Clock* clock = &m_scheduler.clock();
    QPointer<ClaudeUsageClient> self(this);
    runOnWorker<ProviderUsage>(m_scheduler, [statusLine, clock] { return statusLine.read(*clock); },
                               Completion<ProviderUsage>([self, call = std::move(call), error](Result<ProviderUsage> result) mutable {
                                   if (self)
                                       self->statusLineFinished(std::move(call), error, std::move(result));
                               }));
}

void ClaudeUsageClient::statusLineFinished(Call call, std::exception_ptr error, Result<ProviderUsage> statusLine)
{
    ASSERT_MAIN_THREAD();
    // The cache as it stands now: another call may have replaced it meanwhile, or
    // dropped it for another account, whose data must not stand in for this one's.
    const std::optional<ProviderUsage> cached = isCurrentAccount(call) ? m_cached : std::nullopt;
    ProviderUsage base;
    base.provider = UsageProvider::claude;
    base.isLoading = false;
    base.failureCount = 0;
    if (cached && statusLine.ok())
        base = updatedOrDistantPast(statusLine.value()) > updatedOrDistantPast(*cached) ? statusLine.value() : *cached;
    else if (cached)
        base = *cached;
    else if (statusLine.ok())
        base = statusLine.value();

    const ProviderClientError normalized = ProviderClientError::from(error);
    base.windows = removingElapsedWindows(base.windows, call.now);
    base.isStale = true;
    base.errorCode = normalized.errorCode();
    base.errorMessage = normalized.errorDescription();
    // This call's own next read, whatever other calls did to the shared one meanwhile.
    base.nextRetryAt = call.now.adding(kCacheSeconds);
    if (isCurrentAccount(call))
        m_cached = base;
    call.done(Result<ProviderUsage>::success(std::move(base)));
}
