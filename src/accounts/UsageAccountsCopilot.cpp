// The registry's merge of the accounts signed in within each Copilot folder.

#include "accounts/UsageAccounts.h"

#include "platform/MainThread.h"
#include "platform/Paths.h"
#include "usage/ProviderClientError.h"

#include <QPointer>
#include <algorithm>
#include <set>

struct UsageAccounts::CopilotMerge {
    QStringList folders;
    qsizetype next = 0;
    std::vector<std::function<void()>> waiters;
};

void UsageAccounts::refreshCopilotAccounts(std::function<void()> done)
{
    ASSERT_MAIN_THREAD();
    if (done)
        m_copilotWaiters.push_back(std::move(done));
    if (m_copilotMergeRunning) {
        // Served by one follow-up merge, which sees the folders added meanwhile.
        m_copilotMergeRequested = true;
        return;
    }
    startCopilotMerge();
}

void UsageAccounts::startCopilotMerge()
{
    m_copilotMergeRunning = true;
    m_copilotMergeRequested = false;
    auto merge = std::make_shared<CopilotMerge>();
    merge->waiters = std::exchange(m_copilotWaiters, {});

    setDiscoveryError(std::nullopt);
    if (m_availableProviders.contains(UsageProvider::copilot)) {
        std::set<QString> folders;
        for (const ProviderProfile& profile : std::as_const(m_profiles)) {
            if (profile.provider == UsageProvider::copilot)
                folders.insert(profile.configDirectory);
        }
        merge->folders = QStringList(folders.begin(), folders.end());
    }
    mergeNextCopilotFolder(merge);
}

void UsageAccounts::mergeNextCopilotFolder(const std::shared_ptr<CopilotMerge>& merge)
{
    if (merge->next >= merge->folders.size()) {
        // Ends on a later turn, so a caller is never answered inside its own call.
        later([this, merge] { finishCopilotMerge(merge); });
        return;
    }
    QPointer<UsageAccounts> self(this);
    const QString folder = merge->folders.at(merge->next++);
    m_operations.copilotAccounts(folder, [self, merge, folder](Result<QList<CopilotUsageClient::Account>> accounts) {
        if (!self)
            return;
        // Ended by stop: the merge ends too, without a message.
        if (accounts.errorAs<CancellationError>())
            merge->next = merge->folders.size();
        else
            self->mergeCopilotFolder(folder, accounts);
        self->mergeNextCopilotFolder(merge);
    });
}

void UsageAccounts::mergeCopilotFolder(const QString& folder,
                                       const Result<QList<CopilotUsageClient::Account>>& accounts)
{
    ASSERT_MAIN_THREAD();
    if (!accounts.ok()) {
        setDiscoveryError(ProviderClientError::redactedDescription(accounts.error()));
        return;
    }
    const QList<CopilotUsageClient::Account>& listed = accounts.value();
    if (listed.isEmpty())
        return;

    // The list as it is now: the user may have changed it while the program ran.
    QList<ProviderProfile> profiles = m_profiles;
    profiles.removeIf([&](const ProviderProfile& p) {
        return p.provider == UsageProvider::copilot && p.configDirectory == folder && !p.accountIdentifier
            && !p.isVisible;
    });
    const QString resolvedFolder = paths::standardizedResolvedPath(folder);
    for (const CopilotUsageClient::Account& account : listed) {
        ProviderProfile candidate;
        candidate.provider = UsageProvider::copilot;
        candidate.configDirectory = resolvedFolder;
        candidate.name = account.authInfo.login;
        candidate.isVisible = false;
        candidate.accountIdentifier = account.identifier();
        const QString id = candidate.id();
        const bool known = std::any_of(profiles.begin(), profiles.end(),
                                       [&](const ProviderProfile& p) { return p.id() == id; });
        if (!known)
            profiles.append(candidate);
    }
    setProfiles(std::move(profiles));
    saveProfiles();
    syncStores();
}

void UsageAccounts::finishCopilotMerge(const std::shared_ptr<CopilotMerge>& merge)
{
    m_copilotMergeRunning = false;
    for (const auto& waiter : merge->waiters)
        waiter();
    if (m_copilotMergeRequested)
        startCopilotMerge();
}
