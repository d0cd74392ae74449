// The collector set-up pass and the bridge-folder refreshes of the registry.

#include "accounts/UsageAccounts.h"

#include "platform/MainThread.h"
#include "usage/ProviderClientError.h"

#include <QPointer>
#include <algorithm>

// ---------------------------------------------------------------------------
// Collector set-up

struct UsageAccounts::SetupPass {
    CancelToken cancel;
    QList<ProviderProfile> profiles; // the list when the pass started
    qsizetype next = 0;
};

void UsageAccounts::scheduleSetup()
{
    ASSERT_MAIN_THREAD();
    if (!m_started || m_connectionTask)
        return;
    const bool pending = std::any_of(m_profiles.begin(), m_profiles.end(),
                                     [&](const ProviderProfile& p) { return !m_setupAttempts.contains(p.id()); });
    if (!pending)
        return;
    auto pass = std::make_shared<SetupPass>();
    m_connectionTask = pass->cancel;
    later([this, pass] {
        pass->profiles = m_profiles;
        connectPendingProfiles(pass);
    });
}

void UsageAccounts::connectPendingProfiles(const std::shared_ptr<SetupPass>& pass)
{
    ASSERT_MAIN_THREAD();
    while (pass->next < pass->profiles.size()) {
        const ProviderProfile profile = pass->profiles.at(pass->next++);
        const QString id = profile.id();
        if (m_setupAttempts.contains(id))
            continue;
        if (pass->cancel.isCancelled())
            break;
        m_setupAttempts.insert(id);
        QPointer<UsageAccounts> self(this);
        m_operations.connectProfile(profile, pass->cancel, [self, pass, profile](Result<Unit> outcome) {
            if (self)
                self->finishSetupAttempt(pass, profile, outcome);
        });
        return;
    }
    finishSetupPass(pass);
}

void UsageAccounts::finishSetupAttempt(const std::shared_ptr<SetupPass>& pass, const ProviderProfile& profile,
                                       const Result<Unit>& outcome)
{
    ASSERT_MAIN_THREAD();
    const QString id = profile.id();
    if (outcome.ok() && pass->cancel.isCancelled()) {
        // Stopped meanwhile: the next run tries it again.
        m_setupAttempts.remove(id);
        finishSetupPass(pass);
        return;
    }
    if (!outcome.ok() && pass->cancel.isCancelled() && outcome.errorAs<CancellationError>()) {
        // The installer was ended by the cancellation; not a failure of the profile.
        // A cancellation the pass did not ask for counts as a failure (else the
        // follow-up pass would try the profile again at once, without end).
        m_setupAttempts.remove(id);
        finishSetupPass(pass);
        return;
    }
    ConnectionErrors errors = m_connectionErrors;
    if (outcome.ok())
        errors.remove(id);
    else
        errors.insert(id, ProviderClientError::redactedDescription(outcome.error()));
    setConnectionErrors(std::move(errors));

    if (outcome.ok() && m_started && usesStatusLine(profile.provider) && isProfileVisible(id)) {
        // A freshly connected collector's data shows at once.
        QPointer<UsageAccounts> self(this);
        refresh(profile, false, [self, pass](bool) {
            if (self)
                self->connectPendingProfiles(pass);
        });
        return;
    }
    connectPendingProfiles(pass);
}

void UsageAccounts::finishSetupPass(const std::shared_ptr<SetupPass>& pass)
{
    ASSERT_MAIN_THREAD();
    // A cancelled pass was already let go by stop, and a later start may run its own.
    if (pass->cancel.isCancelled())
        return;
    m_connectionTask.reset();
    // Profiles added or retried during the pass.
    scheduleSetup();
}

// ---------------------------------------------------------------------------
// Bridge folder

struct UsageAccounts::BridgeRefresh {
    QList<ProviderProfile> profiles;
    qsizetype next = 0;
};

void UsageAccounts::statusLineFolderChanged()
{
    ASSERT_MAIN_THREAD();
    auto refresh = std::make_shared<BridgeRefresh>();
    for (const ProviderProfile& profile : visibleProfiles()) {
        if (usesStatusLine(profile.provider))
            refresh->profiles.append(profile);
    }
    refreshNextBridgeProfile(refresh);
}

void UsageAccounts::refreshNextBridgeProfile(const std::shared_ptr<BridgeRefresh>& refresh)
{
    ASSERT_MAIN_THREAD();
    while (refresh->next < refresh->profiles.size()) {
        const ProviderProfile& profile = refresh->profiles.at(refresh->next++);
        UsageStore* store = isProfileVisible(profile.id()) ? m_stores.value(profile.id()) : nullptr;
        if (!store)
            continue;
        QPointer<UsageAccounts> self(this);
        store->refresh(profile.provider, false, [self, refresh](bool) {
            if (self)
                self->refreshNextBridgeProfile(refresh);
        });
        return;
    }
}
