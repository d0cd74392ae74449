#include "AccountsObserver.h"

#include "accounts/UsageAccounts.h"
#include "accounts/UsageStore.h"

AccountsObserver::AccountsObserver(UsageAccounts& accounts, std::function<void()> changed, QObject* parent)
    : QObject(parent), m_accounts(accounts), m_call(std::move(changed), this)
{
    connect(&accounts, &UsageAccounts::profilesChanged, this, &AccountsObserver::request);
    connect(&accounts, &UsageAccounts::storesChanged, this, [this] {
        reconnectStores();
        request();
    });
    reconnectStores();
}

void AccountsObserver::reconnectStores()
{
    for (const QMetaObject::Connection& c : std::as_const(m_connections))
        disconnect(c);
    m_connections.clear();
    m_storeCount = 0;
    for (UsageStore* store : m_accounts.stores()) {
        if (!store)
            continue;
        ++m_storeCount;
        for (auto signal : {&UsageStore::codexChanged, &UsageStore::claudeChanged, &UsageStore::copilotChanged,
                            &UsageStore::antigravityChanged, &UsageStore::isRefreshingChanged})
            m_connections << connect(store, signal, this, &AccountsObserver::request);
    }
}
