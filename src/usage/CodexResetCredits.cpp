#include "usage/CodexResetCredits.h"

#include "platform/StrictJson.h"
#include "usage/ModelCoding.h"

#include <QJsonArray>

QJsonObject CodexResetCredits::Credit::toJson() const
{
    json::Writer w;
    w.set(QStringLiteral("id"), id);
    w.set(QStringLiteral("resetType"), resetType);
    w.set(QStringLiteral("status"), status);
    w.set(QStringLiteral("grantedAt"), grantedAt);
    w.setOpt(QStringLiteral("expiresAt"), expiresAt);
    w.setOpt(QStringLiteral("title"), title);
    w.setOpt(QStringLiteral("description"), description);
    return w.object();
}

CodexResetCredits::Credit CodexResetCredits::Credit::fromJson(const QJsonValue& value, const QString& path)
{
    const auto r = json::Reader::fromValue(value, path);
    Credit c;
    c.id = r.string(QStringLiteral("id"));
    c.resetType = r.string(QStringLiteral("resetType"));
    c.status = r.string(QStringLiteral("status"));
    c.grantedAt = r.integer(QStringLiteral("grantedAt"));
    c.expiresAt = r.optInteger(QStringLiteral("expiresAt"));
    c.title = r.optString(QStringLiteral("title"));
    c.description = r.optString(QStringLiteral("description"));
    return c;
}

QJsonObject CodexResetCredits::toJson() const
{
    json::Writer w;
    w.set(QStringLiteral("availableCount"), availableCount);
    if (credits) {
        QJsonArray array;
        for (const Credit& c : *credits)
            array.append(c.toJson());
        w.set(QStringLiteral("credits"), array);
    }
    return w.object();
}

CodexResetCredits CodexResetCredits::fromJson(const QJsonValue& value, const QString& path)
{
    const auto r = json::Reader::fromValue(value, path);
    CodexResetCredits out;
    out.availableCount = r.integer(QStringLiteral("availableCount"));
    if (const auto array = r.optArray(QStringLiteral("credits")))
        out.credits = decodeList(*array, r.child(QStringLiteral("credits")), &Credit::fromJson);
    return out;
}
