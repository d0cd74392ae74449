#pragma once

// The fake codex program serving one Codex profile, and the server replies the
// reset tests script it with.

#include "providers/ProviderFixtures.h"
#include "providers/codex/CodexUsageClient.h"
#include "support/TestSupport.h"
#include "usage/ProviderProfile.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTemporaryDir>

namespace fakecodex {

// Far in the future, so a window at 100 % still waits for its reset.
constexpr qint64 kLater = 4'102'444'800;

// What the Codex server reports for an account whose limit is spent.
inline QJsonObject serverLimits(const QString& account)
{
    return QJsonObject {
        {"accountId", account},
        {"ordinaryUsageAllowed", false},
        {"rateLimitResetCredits", QJsonObject {{"availableCount", 1}}},
        {"rateLimits", QJsonObject {{"limitId", "codex"},
                                    {"primary", QJsonObject {{"usedPercent", 100}, {"windowDurationMins", 300}, {"resetsAt", kLater}}},
                                    {"secondary", QJsonObject {{"usedPercent", 40}, {"windowDurationMins", 10080}, {"resetsAt", kLater}}},
                                    {"rateLimitReachedType", "rate_limit_reached"}}},
    };
}

inline QJsonObject answer(const QJsonObject& result) { return QJsonObject {{"result", result}}; }
inline QJsonObject outcomeAnswer(const char* outcome) { return answer(QJsonObject {{"outcome", outcome}}); }

inline const QString kConsume = QStringLiteral("account/rateLimitResetCredit/consume");
inline const QString kReadLimits = QStringLiteral("account/rateLimits/read");

// The fake codex program serving one profile: its scenario (rewritten before
// every run) and its log, which every run appends to.
class Rig {
    QTemporaryDir m_dir; // first: the profile lives in it

public:
    Rig() : profile {UsageProvider::codex, m_dir.filePath("codex-home"), QStringLiteral("Codex"), true, {}, {}} {}

    ProviderProfile profile;

    QString scenarioPath() const { return m_dir.filePath("scenario.json"); }
    QString logPath() const { return m_dir.filePath("log.jsonl"); }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    void setScenario(const QJsonObject& scenario) { testsupport::writeFile(scenarioPath(), QJsonDocument(scenario).toJson()); }

    CodexUsageClient client(const ProviderProfile& p) const
    {
        CodexUsageClient c = CodexUsageClient::forProfile(p, ProcessEnvironment {
            {"PATH", "/usr/bin:/bin"}, {"HOME", m_dir.path()},
            {"FAKE_CODEX_SCENARIO", scenarioPath()}, {"FAKE_CODEX_LOG", logPath()}});
        c.executableOverride = testsupport::fakeProgram("fake_codex");
        return c;
    }

    QList<QJsonObject> log() const { return fixtures::jsonLines(logPath()); }
    // The idempotency key of every consume request the server ever received, in order.
    QStringList consumeKeys() const
    {
        QStringList out;
        for (const QJsonObject& entry : log()) {
            const QJsonObject m = entry.value("received").toObject();
            if (m.value("method").toString() == kConsume)
                out.append(m.value("params").toObject().value("idempotencyKey").toString());
        }
        return out;
    }
    QStringList codexHomes() const
    {
        QStringList out;
        for (const QJsonObject& entry : log())
            if (entry.contains("start"))
                out.append(entry.value("start").toObject().value("env").toObject().value("CODEX_HOME").toString());
        return out;
    }
    // Waits (for the program's real I/O) until a consume request has arrived.
    bool waitForConsume() const
    {
        return fixtures::waitForFake([this] { return !consumeKeys().isEmpty(); });
    }
};

} // namespace fakecodex
