#include "usage/UsageWindow.h"

#include "platform/StrictJson.h"
#include "platform/TimestampJson.h"

QJsonObject UsageWindow::toJson() const
{
    json::Writer w;
    w.set(QStringLiteral("id"), id);
    w.set(QStringLiteral("title"), title);
    w.setNumber(QStringLiteral("usedPercent"), usedPercent);
    json::setOptTimestamp(w, QStringLiteral("resetsAt"), resetsAt);
    w.setOpt(QStringLiteral("durationMinutes"), durationMinutes);
    json::setOptTimestamp(w, QStringLiteral("observedAt"), observedAt);
    return w.object();
}

UsageWindow UsageWindow::fromJson(const QJsonValue& value, const QString& path)
{
    const auto r = json::Reader::fromValue(value, path);
    UsageWindow w;
    w.id = r.string(QStringLiteral("id"));
    w.title = r.string(QStringLiteral("title"));
    w.usedPercent = r.number(QStringLiteral("usedPercent"));
    w.resetsAt = json::optTimestamp(r, QStringLiteral("resetsAt"));
    w.durationMinutes = r.optInteger(QStringLiteral("durationMinutes"));
    w.observedAt = json::optTimestamp(r, QStringLiteral("observedAt"));
    return w;
}
