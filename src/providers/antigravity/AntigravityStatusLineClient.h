#pragma once

#include "platform/Clock.h"
#include "platform/ProcessEnvironment.h"
#include "platform/Result.h"
#include "platform/Scheduler.h"
#include "usage/ProviderProfile.h"
#include "usage/ProviderUsage.h"

#include <QString>

// Reads the usage of one Antigravity profile from the bridge file its collector writes.
class AntigravityStatusLineClient {
public:
    // `home` is the home folder path; `environment` locates the bridge folder.
    AntigravityStatusLineClient(ProviderProfile profile, QString home, ProcessEnvironment environment = systemEnvironment());

    // Blocking file reads; takes the current time from `clock` once the files are read.
    // Throws a retryable ProviderClientError diagnostic (retry after 30 s) or the
    // ForeignError of a failing file function.
    ProviderUsage read(const Clock& clock) const;
    // The same read on the worker pool; `done` runs on the main thread through
    // `scheduler`, whose clock gives the current time.
    void read(Scheduler& scheduler, Completion<ProviderUsage> done) const;

    const ProviderProfile& profile() const { return m_profile; }
    QString bridgeFilePath() const;
    QString credentialFilePath() const;

    static constexpr qint64 kLargestBridgeFile = 32768;
    static constexpr qsizetype kMostQuotas = 64;
    static constexpr qsizetype kLongestQuotaName = 128;
    static constexpr double kCredentialTolerance = 0.001;
    static constexpr double kStaleAfterSeconds = 300;
    static constexpr double kRetryAfterSeconds = 30;

private:
    ProviderProfile m_profile;
    QString m_home;
    ProcessEnvironment m_environment;
};
