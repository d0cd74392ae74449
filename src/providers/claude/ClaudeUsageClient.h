#pragma once

#include "ClaudeUsageParser.h"
#include "platform/CancelToken.h"
#include "platform/ProcessEnvironment.h"
#include "platform/Result.h"
#include "platform/Scheduler.h"
#include "usage/ProviderProfile.h"
#include "usage/ProviderUsage.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <exception>
#include <functional>
#include <optional>

// The usage of one Claude Code profile: the control request first; when it fails,
// the newer of the statusLine bridge file and the last result, marked stale and
// carrying the request's error. Answers calls that are not forced from a five-minute
// cache, and drops the cache when the account in ".claude.json" changes.
//
// State lives on the main thread; only the blocking reads run on the worker pool.
// A completion never runs inside the call that started it. When the client is
// destroyed while a read runs, that call's completion is dropped.
class ClaudeUsageClient : public QObject {
    Q_OBJECT
public:
    // Blocking reader of the control-request payload, run on a worker thread; it ends
    // its work and throws CancellationError when the token is set.
    using Reader = std::function<QByteArray(const CancelToken&)>;

    // `home` is the home folder path. Without `read`, the reader is one
    // ClaudeControlTransport for the profile's folder with `environment` and a 20 s
    // timeout. `scheduler` hands worker results back and its clock times the bridge file.
    ClaudeUsageClient(ProviderProfile profile, QString home, Scheduler& scheduler, std::optional<Reader> read = std::nullopt,
                      ProcessEnvironment environment = systemEnvironment(), QObject* parent = nullptr);

    // Completes with a usage of provider claude, or with ProviderClientError
    // credentialsMissing, the request's own error after an account change, or
    // CancellationError when `cancel` was set by the time the reader finished.
    void fetchUsage(bool force, Timestamp now, const CancelToken& cancel, Completion<ProviderUsage> done);

    const ProviderProfile& profile() const { return m_profile; }
    const std::optional<ProviderUsage>& cached() const { return m_cached; }
    Timestamp nextRead() const { return m_nextRead; }
    const std::optional<ClaudeAccountIdentity>& identity() const { return m_identity; }

    // Windows in order without the elapsed ones; an elapsed "five_hour" window stays
    // without its reset time.
    static QList<UsageWindow> removingElapsedWindows(const QList<UsageWindow>& windows, Timestamp now);

    static constexpr double kCacheSeconds = 300;
    static constexpr double kTimeoutSeconds = 20;
    static Timestamp distantPast();

private:
    struct Call {
        Timestamp now;
        CancelToken cancel;
        Completion<ProviderUsage> done;
        ClaudeAccountIdentity start;
        Timestamp previousNextRead;
    };

    std::optional<ClaudeAccountIdentity> readIdentity() const;
    // Whether the state still belongs to the account this call started with.
    bool isCurrentAccount(const Call& call) const;
    void finish(const Completion<ProviderUsage>& done, Result<ProviderUsage> result);
    void readerFinished(Call call, Result<QByteArray> read);
    void fallback(Call call, std::exception_ptr error);
    void statusLineFinished(Call call, std::exception_ptr error, Result<ProviderUsage> statusLine);

    const ProviderProfile m_profile;
    const QString m_home;
    Scheduler& m_scheduler;
    const ProcessEnvironment m_environment;
    const Reader m_read;

    std::optional<ProviderUsage> m_cached;
    Timestamp m_nextRead;
    std::optional<ClaudeAccountIdentity> m_identity;
};
