#include "AntigravityStatusLineClient.h"

#include "platform/FileRead.h"
#include "providers/StatusLineBridge.h"
#include "platform/StrictJson.h"
#include "platform/Text.h"
#include "platform/Workers.h"
#include "usage/ProviderClientError.h"

#include <algorithm>
#include <cmath>

namespace {

const QString kInvalid = QStringLiteral("ANTIGRAVITY_STATUSLINE_INVALID");

[[noreturn]] void fail(const QString& code, const QString& message)
{
    throw ProviderClientError::diagnostic(code, message, true, AntigravityStatusLineClient::kRetryAfterSeconds);
}

struct Quota {
    QString name;
    double remainingFraction;
    double resetTime;
};

struct Snapshot {
    StatusLineBridgeHeader header;
    std::optional<double> credentialModifiedAt;
    std::optional<QString> plan;
    std::vector<Quota> quota;
};

Snapshot decode(const QByteArray& data)
{
    const json::Reader r(json::parseObject(data));
    Snapshot s {StatusLineBridgeHeader::decode(r), r.optNumber(QStringLiteral("credentialModifiedAt")),
                r.optString(QStringLiteral("plan")), {}};
    decodeObjectMembers(r, QStringLiteral("quota"), [&s](const QString& name, const json::Reader& q) {
        s.quota.push_back({name, q.number(QStringLiteral("remainingFraction")), q.number(QStringLiteral("resetTime"))});
    });
    return s;
}

bool credentialTimesAgree(std::optional<double> recorded, std::optional<double> actual)
{
    if (!recorded && !actual)
        return true;
    if (!recorded || !actual)
        return false;
    return std::fabs(*recorded - *actual) < AntigravityStatusLineClient::kCredentialTolerance;
}

} // namespace

AntigravityStatusLineClient::AntigravityStatusLineClient(ProviderProfile profile, QString home, ProcessEnvironment environment)
    : m_profile(std::move(profile))
    , m_home(std::move(home))
    , m_environment(std::move(environment))
{
}

QString AntigravityStatusLineClient::bridgeFilePath() const
{
    return statusLineBridgeFilePath(m_home, m_environment, m_profile.id());
}

QString AntigravityStatusLineClient::credentialFilePath() const
{
    return m_profile.configDirectory + QStringLiteral("/antigravity-oauth-token");
}

void AntigravityStatusLineClient::read(Scheduler& scheduler, Completion<ProviderUsage> done) const
{
    const Clock* clock = &scheduler.clock();
    runOnWorker<ProviderUsage>(scheduler, [client = *this, clock] { return client.read(*clock); }, std::move(done));
}

ProviderUsage AntigravityStatusLineClient::read(const Clock& clock) const
{
    // One open descriptor for the size check and the read; a file that vanished
    // meanwhile counts as not there yet.
    const CappedFile bridge = readFileCapped(bridgeFilePath(), kLargestBridgeFile);
    if (bridge.status == CappedFile::Status::Missing)
        fail(QStringLiteral("ANTIGRAVITY_STATUSLINE_WAITING"),
             QStringLiteral("StatusLine подключается автоматически. Ожидаю первую передачу Antigravity CLI; при необходимости перезапустите CLI. Ошибки автоподключения показаны в настройках; desktop/IDE напрямую не опрашивается."));
    if (bridge.status == CappedFile::Status::TooLarge)
        fail(kInvalid, QStringLiteral("Слишком большой файл наблюдения Antigravity."));

    const std::optional<double> credentialTime = fileModificationTimeSince1970(credentialFilePath());
    const Timestamp now = clock.now();
    const double nowSince1970 = now.since1970();

    Snapshot s;
    try {
        s = decode(bridge.bytes);
    } catch (const json::DecodeError&) {
        fail(kInvalid, QStringLiteral("Неизвестный формат statusLine Antigravity."));
    }
    const QString changed = QStringLiteral("Авторизация или профиль изменились. Ожидаю новые данные statusLine; старые лимиты скрыты.");
    if (s.header.version != 1 || s.header.profileId != m_profile.id() || text::graphemeCount(s.header.accountKey) != 64)
        fail(QStringLiteral("ANTIGRAVITY_ACCOUNT_CHANGED"), changed);
    if (!credentialTimesAgree(s.credentialModifiedAt, credentialTime))
        fail(QStringLiteral("ANTIGRAVITY_ACCOUNT_CHANGED"), changed);
    if (!s.header.capturedAtIsSane(nowSince1970) || static_cast<qsizetype>(s.quota.size()) > kMostQuotas)
        fail(kInvalid, QStringLiteral("Некорректное время или число квот Antigravity."));

    std::sort(s.quota.begin(), s.quota.end(), [](const Quota& a, const Quota& b) { return text::lessByCodePoints(a.name, b.name); });
    const Timestamp captured = Timestamp::fromSince1970(s.header.capturedAt);
    QList<UsageWindow> windows;
    for (const Quota& q : s.quota) {
        const qsizetype length = text::graphemeCount(q.name);
        if (length == 0 || length > kLongestQuotaName || !std::isfinite(q.remainingFraction) || q.remainingFraction < 0
            || q.remainingFraction > 1 || !std::isfinite(q.resetTime))
            fail(kInvalid, QStringLiteral("Некорректный процент или время сброса Antigravity."));
        if (q.resetTime <= nowSince1970)
            continue;
        windows.append(UsageWindow {q.name, q.name, (1 - q.remainingFraction) * 100, Timestamp::fromSince1970(q.resetTime),
                                    std::nullopt, captured});
    }

    const bool stale = nowSince1970 - s.header.capturedAt > kStaleAfterSeconds;
    ProviderUsage usage;
    usage.provider = UsageProvider::antigravity;
    usage.planName = s.plan;
    usage.windows = windows;
    usage.isLoading = false;
    usage.failureCount = 0;
    if (!windows.isEmpty()) {
        usage.updatedAt = captured;
        usage.sourceNote = stale ? QStringLiteral("Antigravity CLI · statusLine · Данные устарели")
                                 : QStringLiteral("Antigravity CLI · statusLine");
        usage.isStale = stale;
    } else {
        usage.sourceNote = QStringLiteral("Нет действующих квот; ожидаю statusLine Antigravity. Это не 0%.");
        usage.isStale = true;
    }
    return usage;
}
