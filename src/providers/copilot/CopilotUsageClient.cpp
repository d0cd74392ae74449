#include "CopilotUsageClient.h"

#include "platform/StrictJson.h"
#include "platform/Workers.h"
#include "providers/copilot/CopilotUsageParser.h"
#include "usage/ProviderClientError.h"

#include <QJsonArray>

namespace {

const QString kListMethod = QStringLiteral("account.getAllUsers");
const QString kQuotaMethod = QStringLiteral("account.getQuota");

std::optional<CopilotUsageClient::Account> decodeAccount(const QJsonValue& value, const QString& path)
{
    const json::Reader entry = json::Reader::fromValue(value, path);
    const json::Reader auth = entry.object(QStringLiteral("authInfo"));
    if (!auth.hasValue(QStringLiteral("login")))
        return std::nullopt; // a token sign-in: no account to address
    CopilotUsageClient::Account account;
    account.authInfo.host = auth.string(QStringLiteral("host"));
    account.authInfo.login = auth.string(QStringLiteral("login"));
    if (const auto user = auth.optObject(QStringLiteral("copilotUser"))) {
        CopilotUsageClient::Account::User u;
        u.copilot_plan = user->optString(QStringLiteral("copilot_plan"));
        u.quota_reset_date_utc = user->optString(QStringLiteral("quota_reset_date_utc"));
        account.authInfo.copilotUser = u;
    }
    account.selectionId = entry.optString(QStringLiteral("selectionId"));
    return account;
}

// Runs `work` on `rpc`, shutting it down whether the work returns or throws.
template <class F>
auto withShutdown(CopilotRPC& rpc, F work) -> decltype(work())
{
    try {
        auto value = work();
        rpc.shutdown();
        return value;
    } catch (...) {
        rpc.shutdown();
        throw;
    }
}

} // namespace

QString CopilotUsageClient::accountIdentifier(const QString& host, const QString& login)
{
    return host + QChar(u'\0') + login;
}

QList<CopilotUsageClient::Account> CopilotUsageClient::decodeAccounts(const QByteArray& bytes)
{
    const QJsonArray entries = json::toArray(json::parse(bytes));
    QList<Account> accounts;
    for (qsizetype i = 0; i < entries.size(); ++i)
        if (auto account = decodeAccount(entries.at(i), QLatin1Char('[') + QString::number(i) + QLatin1Char(']')))
            accounts.append(*account);
    return accounts;
}

CopilotUsageClient::CopilotUsageClient(ProviderProfile profile, CopilotLaunch launch)
    : m_profile(std::move(profile))
    , m_launch(std::move(launch))
{
}

const CopilotUsageClient::Account& CopilotUsageClient::choose(const QList<Account>& accounts) const
{
    if (!m_profile.accountIdentifier) {
        if (accounts.size() != 1)
            throw ProviderClientError::diagnostic(
                QStringLiteral("COPILOT_SELECT_ACCOUNT"),
                QStringLiteral("Нажмите «Найти профили» в настройках и выберите конкретный аккаунт Copilot."), false);
        return accounts.front();
    }
    for (const Account& account : accounts)
        if (account.identifier() == *m_profile.accountIdentifier)
            return account;
    throw ProviderClientError::diagnostic(
        QStringLiteral("COPILOT_ACCOUNT_UNAVAILABLE"),
        QStringLiteral("Аккаунт «") + m_profile.name + QStringLiteral("» отсутствует в Copilot CLI. Войдите в него через copilot login."),
        true, 60.0);
}

ProviderUsage CopilotUsageClient::fetchUsage(const CancelToken& cancel) const
{
    CopilotRPC rpc(m_profile.configDirectory, m_launch, cancel);
    return withShutdown(rpc, [&] {
        const QList<Account> accounts = decodeAccounts(rpc.call(kListMethod));
        const Account& account = choose(accounts);
        if (!account.selectionId || account.selectionId->isEmpty())
            throw ProviderClientError::diagnostic(QStringLiteral("COPILOT_CLI_OUTDATED"),
                                                  QStringLiteral("Copilot CLI не поддерживает выбор аккаунта. Обновите CLI."), false);
        const QByteArray quota = rpc.call(kQuotaMethod, {{QStringLiteral("selectionId"), *account.selectionId}});
        std::optional<QString> plan, reset;
        if (const auto& user = account.authInfo.copilotUser) {
            plan = user->copilot_plan;
            reset = user->quota_reset_date_utc;
        }
        const Timestamp now = m_launch.effectiveClock().now();
        return CopilotUsageParser::parse(quota, plan, reset, now);
    });
}

void CopilotUsageClient::fetchUsage(Scheduler& scheduler, const CancelToken& cancel, Completion<ProviderUsage> done) const
{
    runOnWorker<ProviderUsage>(scheduler, [client = *this, cancel] { return client.fetchUsage(cancel); }, std::move(done));
}

QList<CopilotUsageClient::Account> CopilotUsageClient::listAccounts(const QString& folder, const CancelToken& cancel,
                                                                     const CopilotLaunch& launch)
{
    CopilotRPC rpc(folder, launch, cancel);
    return withShutdown(rpc, [&] { return decodeAccounts(rpc.call(kListMethod)); });
}

void CopilotUsageClient::discoverAccounts(Scheduler& scheduler, const QString& folder, Completion<QList<Account>> done,
                                          const CancelToken& cancel, const CopilotLaunch& launch)
{
    runOnWorker<QList<Account>>(scheduler, [folder, cancel, launch] { return listAccounts(folder, cancel, launch); },
                                std::move(done));
}
