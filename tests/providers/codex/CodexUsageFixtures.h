#pragma once

#include "providers/codex/CodexResetModels.h"
#include "support/TestSupport.h"
#include "usage/ProviderUsage.h"

#include <QString>

namespace fixtures {

// A Codex usage read at `updatedAt` whose primary limit is spent until `resetsAt`,
// with credits left: a reset may be offered.
inline ProviderUsage exhaustedCodex(const QString& account, Timestamp updatedAt, Timestamp resetsAt)
{
    ProviderUsage u = ProviderUsage::placeholder(UsageProvider::codex);
    u.isLoading = false;
    u.updatedAt = updatedAt;
    u.codexAccountID = account;
    u.codexResetCredits = CodexResetCredits {2, std::nullopt};
    u.codexOrdinaryUsageAllowed = false;
    u.windows = {testsupport::limitWindow("codex-primary", 100.0, resetsAt), testsupport::limitWindow("codex-secondary", 40)};
    return u;
}

// The same account with its limits back.
inline ProviderUsage recoveredCodex(const QString& account, Timestamp updatedAt)
{
    ProviderUsage u = exhaustedCodex(account, updatedAt, updatedAt);
    u.codexOrdinaryUsageAllowed = true;
    u.windows = {testsupport::limitWindow("codex-primary", 3), testsupport::limitWindow("codex-secondary", 41)};
    return u;
}

} // namespace fixtures
