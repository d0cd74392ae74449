#include "ClaudeStatusLineMapping.h"

#include "ClaudeWindows.h"
#include "platform/StrictJson.h"
#include "platform/Text.h"
#include "providers/StatusLineBridge.h"
#include "usage/ProviderClientError.h"

#include <QMap>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const QString kInvalid = QStringLiteral("CLAUDE_STATUSLINE_INVALID");

[[noreturn]] void fail(const QString& code, const QString& message)
{
    throw ProviderClientError::diagnostic(code, message, true, ClaudeStatusLineMapping::kRetryAfterSeconds);
}

[[noreturn]] void invalid(const QString& message)
{
    fail(kInvalid, message);
}

struct Window {
    double usedPercentage;
    std::optional<double> resetsAt;
};

struct ModelWindow {
    QString name;
    double usedPercentage;
    double resetsAt;
};

struct Snapshot {
    StatusLineBridgeHeader header;
    QMap<QString, Window> rateLimits;
    std::vector<ModelWindow> modelLimits;
    std::optional<QString> errorCode;
};

Snapshot decode(const QByteArray& data)
{
    const json::Reader r(json::parseObject(data));
    Snapshot s {StatusLineBridgeHeader::decode(r), {}, {}, {}};
    decodeObjectMembers(r, QStringLiteral("rate_limits"), [&s](const QString& key, const json::Reader& w) {
        s.rateLimits.insert(key, Window {w.number(QStringLiteral("used_percentage")), w.optNumber(QStringLiteral("resets_at"))});
    });
    s.modelLimits = r.optArrayOf<ModelWindow>(QStringLiteral("model_limits"), [](const QJsonValue& v, const QString& path) {
                         const json::Reader m = json::Reader::fromValue(v, path);
                         return ModelWindow {m.string(QStringLiteral("name")), m.number(QStringLiteral("used_percentage")),
                                             m.number(QStringLiteral("resets_at"))};
                     }).value_or(std::vector<ModelWindow> {});
    s.errorCode = r.optString(QStringLiteral("errorCode"));
    return s;
}

bool isPercent(double p)
{
    return std::isfinite(p) && p >= 0 && p <= 100;
}

// Error codes of a collector that could not reach the service for a moment.
bool isTransientCode(const QString& code)
{
    return code == QLatin1String("CURL_6") || code == QLatin1String("CURL_7") || code == QLatin1String("CURL_28");
}

Timestamp observedOrDistantPast(const UsageWindow& w)
{
    return w.observedAt.value_or(Timestamp::fromSinceReference(-std::numeric_limits<double>::infinity()));
}

Timestamp updatedOrDistantPast(const ProviderUsage& u)
{
    return u.updatedAt.value_or(Timestamp::fromSinceReference(-std::numeric_limits<double>::infinity()));
}

int windowRank(const QString& id)
{
    if (id == claudewindows::kFiveHourId)
        return 0;
    if (id == claudewindows::kSevenDayId)
        return 1;
    return 2;
}

} // namespace

ProviderUsage ClaudeStatusLineMapping::validate(const QByteArray& data, const QString& profileId,
                                                const QString& accountKey, Timestamp now)
{
    Snapshot s;
    try {
        s = decode(data);
    } catch (const json::DecodeError&) {
        invalid(QStringLiteral("Неизвестный формат statusLine. Ожидаю следующего обновления Claude Code."));
    }
    if (s.header.version != 1 || s.header.profileId != profileId || s.header.accountKey != accountKey)
        fail(QStringLiteral("CLAUDE_STATUSLINE_ACCOUNT_CHANGED"),
             QStringLiteral("Аккаунт изменился. Старые лимиты скрыты; ожидаю statusLine текущего профиля."));
    const double nowSince1970 = now.since1970();
    if (!s.header.capturedAtIsSane(nowSince1970))
        invalid(QStringLiteral("Некорректное время наблюдения statusLine."));

    QList<UsageWindow> windows;
    const struct {
        const QString& id;
        const QString& title;
        qint64 minutes;
    } rows[] = {
        {claudewindows::kFiveHourId, claudewindows::kFiveHourTitle, claudewindows::kFiveHourMinutes},
        {claudewindows::kSevenDayId, claudewindows::kSevenDayTitle, claudewindows::kWeekMinutes},
    };
    for (const auto& row : rows) {
        const auto found = s.rateLimits.constFind(row.id);
        if (found == s.rateLimits.constEnd())
            continue;
        const double p = found->usedPercentage + 0.0; // -0 counts as 0
        const std::optional<double> r = found->resetsAt;
        const bool isFiveHour = row.id == claudewindows::kFiveHourId;
        if (!isPercent(p))
            invalid(QStringLiteral("Некорректный процент или время сброса в statusLine."));
        std::optional<Timestamp> resetsAt;
        if (!r) {
            if (!(isFiveHour && p == 0))
                invalid(QStringLiteral("Отсутствует время сброса ненулевого или недельного лимита."));
        } else {
            if (!std::isfinite(*r))
                invalid(QStringLiteral("Некорректное время сброса в statusLine."));
            if (*r <= nowSince1970) {
                if (!isFiveHour)
                    continue;
            } else {
                resetsAt = Timestamp::fromSince1970(*r);
            }
        }
        windows.append(UsageWindow {row.id, row.title, p, resetsAt, row.minutes, std::nullopt});
    }

    for (const ModelWindow& m : s.modelLimits) {
        const qsizetype length = text::graphemeCount(m.name);
        if (length < 1 || length > claudewindows::kLongestModelName || !isPercent(m.usedPercentage) || !std::isfinite(m.resetsAt))
            invalid(QStringLiteral("Некорректный модельный лимит в statusLine."));
        if (m.resetsAt <= nowSince1970)
            continue;
        const QString id = claudewindows::modelWindowId(m.name);
        if (claudewindows::contains(windows, id))
            continue;
        windows.append(UsageWindow {id, claudewindows::modelWindowTitle(m.name), m.usedPercentage + 0.0,
                                    Timestamp::fromSince1970(m.resetsAt), claudewindows::kWeekMinutes, std::nullopt});
    }

    const Timestamp captured = Timestamp::fromSince1970(s.header.capturedAt);
    for (UsageWindow& w : windows)
        w.observedAt = captured;

    ProviderUsage usage;
    usage.provider = UsageProvider::claude;
    usage.windows = windows;
    if (!windows.isEmpty())
        usage.updatedAt = captured;
    if (s.errorCode && !isTransientCode(*s.errorCode)) {
        usage.errorMessage = *s.errorCode == QLatin1String("HTTP_429")
            ? QStringLiteral("Anthropic ограничил частоту запросов usage-отчёта. Последние данные сохранены; следующий запрос — после паузы от 5 минут до часа.")
            : QStringLiteral("Скрипт statusLine не получил новый usage-отчёт. Последние данные сохранены; повтор при следующем запуске строки (не чаще 3 минут).");
        usage.errorCode = ProviderClientError::sanitized(*s.errorCode);
    }
    usage.isLoading = false;
    usage.failureCount = 0;
    return usage;
}

ProviderUsage ClaudeStatusLineMapping::merge(const QList<ProviderUsage>& usages, Timestamp now)
{
    ProviderUsage result;
    result.provider = UsageProvider::claude;
    result.isLoading = false;
    result.failureCount = 0;

    QList<ProviderUsage> ordered = usages;
    std::stable_sort(ordered.begin(), ordered.end(), [](const ProviderUsage& a, const ProviderUsage& b) {
        return updatedOrDistantPast(a) < updatedOrDistantPast(b);
    });
    for (const ProviderUsage& input : ordered) {
        for (const UsageWindow& w : input.windows) {
            result.windows.removeIf([&](const UsageWindow& old) { return old.id == w.id; });
            result.windows.append(w);
        }
        if (input.errorCode) {
            result.errorCode = input.errorCode;
            result.errorMessage = input.errorMessage;
        }
    }
    std::stable_sort(result.windows.begin(), result.windows.end(), [](const UsageWindow& a, const UsageWindow& b) {
        const int ra = windowRank(a.id), rb = windowRank(b.id);
        if (ra != rb)
            return ra < rb;
        return ra == 2 && text::lessByCodePoints(a.id, b.id);
    });

    for (const UsageWindow& w : result.windows)
        if (w.observedAt && (!result.updatedAt || *w.observedAt < *result.updatedAt))
            result.updatedAt = w.observedAt;

    bool stale = result.errorCode.has_value();
    if (!stale)
        for (const UsageWindow& w : result.windows)
            if (now.secondsSince(observedOrDistantPast(w)) > kStaleAfterSeconds)
                stale = true;
    result.isStale = stale;

    QString note = claudewindows::contains(result.windows, QStringLiteral("model-fable"))
        ? QStringLiteral("statusLine · Fable из usage-отчёта")
        : QStringLiteral("Fable: нет актуального окна в кеше statusLine. Это не 0%.");
    if (stale)
        note += QStringLiteral(" Есть устаревшие данные.");
    result.sourceNote = note;
    return result;
}
