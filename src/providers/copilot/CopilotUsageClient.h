#pragma once

#include "platform/CancelToken.h"
#include "platform/Result.h"
#include "platform/Scheduler.h"
#include "providers/copilot/CopilotRPC.h"
#include "usage/ProviderProfile.h"
#include "usage/ProviderUsage.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// The GitHub Copilot CLI client: lists the accounts signed in to one Copilot
// home and reads the quota of one profile's account, each through one
// CopilotRPC that it ends before returning.
class CopilotUsageClient {
public:
    // One account of "account.getAllUsers".
    struct Account {
        struct User {
            std::optional<QString> copilot_plan;
            std::optional<QString> quota_reset_date_utc;
            bool operator==(const User&) const = default;
        };
        struct AuthInfo {
            QString host;
            QString login;
            std::optional<User> copilotUser;
            bool operator==(const AuthInfo&) const = default;
        };
        AuthInfo authInfo;
        std::optional<QString> selectionId; // absent or empty: the CLI cannot address it

        // host, U+0000, login: the accountIdentifier of the account's profile.
        QString identifier() const { return accountIdentifier(authInfo.host, authInfo.login); }
        bool operator==(const Account&) const = default;
    };

    static QString accountIdentifier(const QString& host, const QString& login);

    // Strict decoding of the account list, in the CLI's order. An entry whose
    // "authInfo" has no "login" (a token sign-in) is skipped. Throws json::DecodeError.
    static QList<Account> decodeAccounts(const QByteArray& json);

    explicit CopilotUsageClient(ProviderProfile profile, CopilotLaunch launch = CopilotLaunch::standard());

    // Blocking (run it on a worker): the profile's Copilot usage. Throws
    // ProviderClientError (the account choice: "COPILOT_SELECT_ACCOUNT",
    // "COPILOT_ACCOUNT_UNAVAILABLE", "COPILOT_CLI_OUTDATED"), the transport's
    // and decoders' errors, or CancellationError.
    ProviderUsage fetchUsage(const CancelToken& cancel = {}) const;
    // The same on the worker pool; `done` runs on the main thread.
    void fetchUsage(Scheduler& scheduler, const CancelToken& cancel, Completion<ProviderUsage> done) const;

    // Blocking: the accounts of the Copilot home `folder`, none filtered out.
    static QList<Account> listAccounts(const QString& folder, const CancelToken& cancel = {},
                                       const CopilotLaunch& launch = CopilotLaunch::standard());
    // `listAccounts` on the worker pool; `done` runs on the main thread.
    static void discoverAccounts(Scheduler& scheduler, const QString& folder, Completion<QList<Account>> done,
                                 const CancelToken& cancel = {}, const CopilotLaunch& launch = CopilotLaunch::standard());

    const ProviderProfile& profile() const { return m_profile; }

private:
    // The account this profile reads, or the account-choice error.
    const Account& choose(const QList<Account>& accounts) const;

    ProviderProfile m_profile;
    CopilotLaunch m_launch;
};
