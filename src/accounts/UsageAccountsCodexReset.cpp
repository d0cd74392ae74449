// The registry's side of a Codex reset: the stores it touches and the request.

#include "accounts/UsageAccounts.h"

#include "platform/MainThread.h"

#include <QPointer>

void UsageAccounts::beginCodexReset(const QList<UsageStore*>& stores)
{
    ASSERT_MAIN_THREAD();
    for (UsageStore* store : stores)
        store->beginCodexReset();
}

void UsageAccounts::finishCodexReset(const std::optional<CodexResetResult>& result, const QList<UsageStore*>& stores,
                                     const QList<UsageStore*>& sameAccount)
{
    ASSERT_MAIN_THREAD();
    for (UsageStore* store : stores) {
        if (sameAccount.contains(store))
            store->applyCodexResetResult(result);
        else
            store->endCodexReset();
    }
}

void UsageAccounts::requestCodexReset(const CodexResetController::Confirmation& confirmation,
                                      const ProviderProfile& profile, Completion<QString> done)
{
    ASSERT_MAIN_THREAD();
    const std::optional<CodexResetPlan> plan = codexResetPlan(profile.id(), confirmation.accountID);
    if (!plan) {
        later([done = std::move(done)] {
            if (done)
                done(Result<QString>::success(kResetRefusedMessage));
        });
        return;
    }
    QPointer<UsageAccounts> self(this);
    m_resets->performReset(confirmation, plan->profile, plan->usage, plan->codexStores, plan->sameAccountStores,
                           [self, done = std::move(done)](Result<QString> message) {
                               if (self && done)
                                   done(std::move(message));
                           });
}

std::optional<UsageAccounts::CodexResetPlan> UsageAccounts::codexResetPlan(const QString& profileID,
                                                                          const QString& accountID) const
{
    ASSERT_MAIN_THREAD();
    const qsizetype index = indexOfProfile(profileID);
    if (index < 0 || !m_profiles.at(index).isVisible || !m_availableProviders.contains(UsageProvider::codex))
        return std::nullopt;
    CodexResetPlan plan {m_profiles.at(index), {}, {}, {}};
    for (const ProviderProfile& profile : m_profiles) {
        if (profile.provider != UsageProvider::codex)
            continue;
        UsageStore* store = m_stores.value(profile.id());
        if (!store)
            continue;
        plan.codexStores.append(store);
        if (store->codex().codexAccountID == accountID)
            plan.sameAccountStores.append(store);
    }
    plan.usage = usage(plan.profile);
    return plan;
}
