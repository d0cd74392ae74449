#include "CodexMessages.h"

#include "CodexUsageClient.h"
#include "platform/StrictJson.h"

CodexErrorEnvelope CodexErrorEnvelope::decode(const QByteArray& line)
{
    const json::Reader r(json::parseObject(line));
    CodexErrorEnvelope out;
    if (auto e = r.optObject(QStringLiteral("error")))
        out.error = ErrorPayload {e->integer(QStringLiteral("code")), e->string(QStringLiteral("message"))};
    return out;
}

CodexRateLimitWindow CodexRateLimitWindow::decode(const QJsonValue& value, const QString& path)
{
    const json::Reader r = json::Reader::fromValue(value, path);
    CodexRateLimitWindow w;
    w.usedPercent = r.integer(QStringLiteral("usedPercent"));
    w.windowDurationMins = r.optInteger(QStringLiteral("windowDurationMins"));
    w.resetsAt = r.optInteger(QStringLiteral("resetsAt"));
    return w;
}

CodexRateLimitSnapshot CodexRateLimitSnapshot::decode(const QJsonValue& value, const QString& path)
{
    const json::Reader r = json::Reader::fromValue(value, path);
    CodexRateLimitSnapshot s;
    s.limitId = r.optString(QStringLiteral("limitId"));
    s.limitName = r.optString(QStringLiteral("limitName"));
    if (auto w = r.optObject(QStringLiteral("primary")))
        s.primary = CodexRateLimitWindow::decode(w->object(), w->path());
    if (auto w = r.optObject(QStringLiteral("secondary")))
        s.secondary = CodexRateLimitWindow::decode(w->object(), w->path());
    s.planType = r.optString(QStringLiteral("planType"));
    s.spendControlReached = r.optBoolean(QStringLiteral("spendControlReached"));
    s.rateLimitReachedType = r.optString(QStringLiteral("rateLimitReachedType"));
    return s;
}

CodexEnvelope CodexEnvelope::decode(const QByteArray& line)
{
    const json::Reader r(json::parseObject(line));
    CodexEnvelope out;
    if (auto res = r.optObject(QStringLiteral("result"))) {
        ResultPayload p;
        p.accountId = res->optString(QStringLiteral("accountId"));
        p.ordinaryUsageAllowed = res->optBoolean(QStringLiteral("ordinaryUsageAllowed"));
        if (auto credits = res->optObject(QStringLiteral("rateLimitResetCredits")))
            p.rateLimitResetCredits = CodexResetCredits::fromJson(credits->object(), credits->path());
        if (auto snapshot = res->optObject(QStringLiteral("rateLimits")))
            p.rateLimits = CodexRateLimitSnapshot::decode(snapshot->object(), snapshot->path());
        if (auto byId = res->optObject(QStringLiteral("rateLimitsByLimitId"))) {
            std::map<QString, CodexRateLimitSnapshot> map;
            const QJsonObject& o = byId->object();
            for (auto it = o.begin(); it != o.end(); ++it)
                map.emplace(it.key(), CodexRateLimitSnapshot::decode(it.value(), byId->child(it.key())));
            p.rateLimitsByLimitId = std::move(map);
        }
        out.result = std::move(p);
    }
    if (auto e = r.optObject(QStringLiteral("error")))
        out.error = ErrorPayload {e->string(QStringLiteral("message"))};
    return out;
}

namespace {

CodexResetOutcome outcomeFrom(const json::Reader& r)
{
    const QString key = QStringLiteral("outcome");
    r.string(key); // absent or null fails as missing
    return codexResetOutcomeFromJson(r.object().value(key), r.child(key));
}

} // namespace

CodexConsumeEnvelope CodexConsumeEnvelope::decode(const QByteArray& line)
{
    const json::Reader r(json::parseObject(line));
    return CodexConsumeEnvelope {Result {outcomeFrom(r.object(QStringLiteral("result")))}};
}

QJsonObject CodexResetTransportPayload::toJson() const
{
    json::Writer w;
    w.set(QStringLiteral("outcome"), ::toJson(outcome));
    if (usage)
        w.set(QStringLiteral("usage"), usage->toJson());
    w.setOpt(QStringLiteral("refreshError"), refreshError);
    return w.object();
}

QByteArray CodexResetTransportPayload::encode() const
{
    return json::serialize(toJson());
}

CodexResetTransportPayload CodexResetTransportPayload::decode(const QByteArray& data)
{
    const json::Reader r(json::parseObject(data));
    CodexResetTransportPayload p;
    p.outcome = outcomeFrom(r);
    if (auto u = r.optObject(QStringLiteral("usage")))
        p.usage = ProviderUsage::fromJson(u->object(), u->path());
    p.refreshError = r.optString(QStringLiteral("refreshError"));
    return p;
}

CodexResetResult CodexResetTransportPayload::toResult() const
{
    return CodexResetResult {outcome, usage, refreshError};
}

std::optional<ProviderClientError> CodexUsageClient::classifyError(const QByteArray& line)
{
    std::optional<CodexErrorEnvelope::ErrorPayload> error;
    try {
        error = CodexErrorEnvelope::decode(line).error;
    } catch (const json::DecodeError&) {
        return std::nullopt;
    }
    if (!error)
        return std::nullopt;

    const QString message = ProviderClientError::sanitized(error->message);
    const QString text = QStringLiteral("JSON-RPC ") + QString::number(error->code) + QStringLiteral(": ") + message;
    // Tested after redaction, so the key name of a redacted secret does not count.
    static const QStringList signInWords {QStringLiteral("auth"), QStringLiteral("token"), QStringLiteral("unauthorized"),
                                          QStringLiteral("401"), QStringLiteral("log in"), QStringLiteral("login")};
    for (const QString& word : signInWords) {
        if (message.contains(word, Qt::CaseInsensitive))
            return ProviderClientError::diagnostic(QStringLiteral("CODEX_AUTH"), text, true, 60.0);
    }
    return ProviderClientError::diagnostic(QStringLiteral("JSON_RPC_") + QString::number(error->code), text, true);
}
