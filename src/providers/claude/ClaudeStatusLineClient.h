#pragma once

#include "platform/Clock.h"
#include "platform/ProcessEnvironment.h"
#include "usage/ProviderProfile.h"
#include "usage/ProviderUsage.h"

#include <QString>

// Reads what the Claude Code collector last observed for one profile: its bridge
// file, or, before the first observation, the installation marker in the profile folder.
class ClaudeStatusLineClient {
public:
    // `home` is the home folder path; `environment` locates the bridge folder.
    ClaudeStatusLineClient(ProviderProfile profile, QString home, ProcessEnvironment environment = systemEnvironment());

    // Blocking file reads; takes the current time from `clock` once the files are read.
    // Throws a retryable ProviderClientError diagnostic (retry after 30 s) or the
    // ForeignError of a failing file function.
    ProviderUsage read(const Clock& clock) const;

    const ProviderProfile& profile() const { return m_profile; }
    // Path of the profile's bridge file.
    QString bridgeFilePath() const;
    // Path of the installation marker.
    QString markerPath() const;

    static constexpr qint64 kLargestBridgeFile = 16384;
    static constexpr qint64 kLargestMarker = 16384;

private:
    ProviderProfile m_profile;
    QString m_home;
    ProcessEnvironment m_environment;
};
