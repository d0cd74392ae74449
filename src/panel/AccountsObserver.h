#pragma once

#include "platform/CoalescedCall.h"

#include <QList>
#include <QMetaObject>
#include <QObject>

#include <functional>

class UsageAccounts;

// Follows what a panel view shows of the registry: the profile list, the set
// of stores and every store's usages and refreshing flag. Any number of changes
// within one turn of the event loop ends in one call of `changed` on the next
// turn. Store connections follow the stores as they come and go.
class AccountsObserver final : public QObject {
    Q_OBJECT
public:
    AccountsObserver(UsageAccounts& accounts, std::function<void()> changed, QObject* parent = nullptr);

    // Runs a pending call now.
    void flush() { m_call.flush(); }
    bool isPending() const { return m_call.isArmed(); }
    // Stores currently followed.
    int followedStores() const { return m_storeCount; }

private:
    void reconnectStores();
    void request() { m_call.request(); }

    UsageAccounts& m_accounts;
    CoalescedCall m_call;
    QList<QMetaObject::Connection> m_connections;
    int m_storeCount = 0;
};
