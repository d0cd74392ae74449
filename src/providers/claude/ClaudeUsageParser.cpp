#include "ClaudeUsageParser.h"

#include "ClaudeWindows.h"
#include "platform/StrictJson.h"
#include "platform/Text.h"
#include "usage/ProviderClientError.h"

#include <QCryptographicHash>
#include <QFile>
#include <cmath>

namespace {

struct PayloadWindow {
    std::optional<double> utilization;
    std::optional<QString> resetsAt;
};

PayloadWindow decodeWindow(const json::Reader& r)
{
    return {r.optNumber(QStringLiteral("utilization")), r.optString(QStringLiteral("resets_at"))};
}

// ISO 8601 internet date and time: with a fraction first, then without.
std::optional<Timestamp> parseResetTime(const QString& text)
{
    if (auto t = text::parseRfc3339(text, text::Fraction::Required))
        return t;
    return text::parseRfc3339(text, text::Fraction::Forbidden);
}

// Appends the window when its reset time reads and its utilization is usable.
void accept(QList<UsageWindow>& windows, const PayloadWindow& source, const QString& id, const QString& title,
            qint64 durationMinutes, Timestamp now)
{
    std::optional<Timestamp> resetsAt;
    if (source.resetsAt) {
        resetsAt = parseResetTime(*source.resetsAt);
        if (!resetsAt)
            return;
    }
    if (!source.utilization || !std::isfinite(*source.utilization) || *source.utilization < 0)
        return;
    windows.append(UsageWindow {id, title, std::min(*source.utilization, 100.0), resetsAt, durationMinutes, now});
}

} // namespace

ClaudeAccountIdentity::Metadata ClaudeAccountIdentity::Metadata::decode(const QByteArray& bytes)
{
    const json::Reader root(json::parseObject(bytes));
    const json::Reader account = root.object(QStringLiteral("oauthAccount"));
    return {{account.string(QStringLiteral("accountUuid")), account.string(QStringLiteral("organizationUuid"))}};
}

std::optional<ClaudeAccountIdentity> ClaudeAccountIdentity::read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    try {
        return Metadata::decode(bytes).oauthAccount;
    } catch (const json::DecodeError&) {
        return std::nullopt;
    }
}

QString claudeAccountKey(const ClaudeAccountIdentity& identity)
{
    QByteArray material = identity.accountUuid.toUtf8();
    material.append('\0');
    material.append(identity.organizationUuid.toUtf8());
    return QString::fromLatin1(QCryptographicHash::hash(material, QCryptographicHash::Sha256).toHex());
}

ProviderUsage ClaudeUsageParser::parse(const QByteArray& payload, Timestamp now)
{
    const json::Reader response(json::parseObject(payload));
    const bool available = response.boolean(QStringLiteral("rate_limits_available"));
    const std::optional<QString> subscription = response.optString(QStringLiteral("subscription_type"));
    const std::optional<json::Reader> limits = response.optObject(QStringLiteral("rate_limits"));

    std::optional<PayloadWindow> fiveHour, sevenDay;
    struct Model {
        std::optional<QString> name;
        PayloadWindow window;
    };
    std::vector<Model> models;
    if (limits) {
        if (auto w = limits->optObject(QStringLiteral("five_hour")))
            fiveHour = decodeWindow(*w);
        if (auto w = limits->optObject(QStringLiteral("seven_day")))
            sevenDay = decodeWindow(*w);
        models = limits->optArrayOf<Model>(QStringLiteral("model_scoped"), [](const QJsonValue& v, const QString& path) {
                           const json::Reader m = json::Reader::fromValue(v, path);
                           return Model {m.optString(QStringLiteral("display_name")), decodeWindow(m)};
                       }).value_or(std::vector<Model> {});
    }

    if (!available || !limits)
        throw ProviderClientError::sessionExpired(QStringLiteral("Claude Code не вернул лимиты. Проверьте вход в этот профиль."));

    QList<UsageWindow> windows;
    if (fiveHour)
        accept(windows, *fiveHour, claudewindows::kFiveHourId, claudewindows::kFiveHourTitle, claudewindows::kFiveHourMinutes, now);
    if (sevenDay)
        accept(windows, *sevenDay, claudewindows::kSevenDayId, claudewindows::kSevenDayTitle, claudewindows::kWeekMinutes, now);
    for (const Model& model : models) {
        if (!model.name || model.name->isEmpty() || text::graphemeCount(*model.name) > claudewindows::kLongestModelName)
            continue;
        const QString id = claudewindows::modelWindowId(*model.name);
        if (claudewindows::contains(windows, id))
            continue;
        accept(windows, model.window, id, claudewindows::modelWindowTitle(*model.name), claudewindows::kWeekMinutes, now);
    }
    if (windows.isEmpty())
        throw ProviderClientError::invalidResponse(QStringLiteral("Claude не вернул ни одного лимита."));

    ProviderUsage usage;
    usage.provider = UsageProvider::claude;
    usage.planName = subscription;
    usage.windows = windows;
    usage.updatedAt = now;
    usage.isLoading = false;
    usage.failureCount = 0;
    usage.sourceNote = QStringLiteral("Claude Code · экспериментальный источник");
    usage.isStale = false;
    return usage;
}
