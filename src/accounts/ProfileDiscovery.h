#pragma once

#include "platform/ProcessEnvironment.h"
#include "usage/ProviderCapabilities.h"
#include "usage/ProviderProfile.h"
#include "usage/UsageProvider.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// Recognises the tools' configuration folders in a home folder and reads and
// writes the saved profile list.
class ProfileDiscovery {
public:
    // Where one tool's folders are looked for and what marks one as used.
    struct ScanRow {
        UsageProvider provider;
        QString parentFolder;         // relative to home; empty: home itself
        QString baseName;             // ".codex": candidates are ".codex" and ".codex-*"
        QString environmentVariable;  // an absolute path in it adds one candidate
        QStringList markers;          // files inside the candidate; any one suffices
    };
    static ScanRow scanRow(UsageProvider provider);

    // The providers a build of `channel` offers, in the order Claude Code,
    // Codex, Copilot, Antigravity.
    static QList<UsageProvider> offeredProviders(AppDistributionChannel channel);

    // The profiles found in `home` for `providers` (in that order; within a
    // provider by folder path), every one hidden. A candidate is an entry that
    // is itself a folder (a symbolic link is no candidate) and holds a marker.
    // `current` is the list the registry holds: a Copilot folder that already
    // has account profiles there is skipped. Reads the file system only.
    static QList<ProviderProfile> scanHome(const QString& home, const ProcessEnvironment& environment,
                                           const QList<UsageProvider>& providers,
                                           const QList<ProviderProfile>& current);

    // Candidate order: a before b when a's path is less, by code points.
    static bool folderPathOrder(const QString& a, const QString& b);

    // First run: makes one Claude Code and one Codex profile visible, the
    // folder of the older "selectedAccount" choice when listed, else the
    // provider's first profile.
    static void seedVisibility(QList<ProviderProfile>& profiles, const QList<UsageProvider>& providers,
                               const QString& home, const std::optional<QString>& selectedAccount);

    // The saved list: a JSON array of profiles, keys sorted, compact.
    static QByteArray encodeProfileList(const QList<ProviderProfile>& profiles);
    // Strict: one bad entry fails the whole list. Throws json::DecodeError.
    static QList<ProviderProfile> decodeProfileList(const QByteArray& data);

    // The last component of a folder path as written (trailing "/" ignored).
    static QString folderName(const QString& path);
};
