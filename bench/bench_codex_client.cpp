// Times the Codex app-server exchange against the fake program answering at once,
// beside the fake's own start-to-exit time, and the decoding of a reply near the
// 2,000,000-byte limit.

#include "platform/ChildProcess.h"
#include "platform/StrictJson.h"
#include "providers/codex/CodexUsageClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const QString kFake = QStringLiteral(VANTOREL_FAKES_DIR "/fake_codex");

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

QJsonObject limits()
{
    return QJsonObject {
        {"accountId", "acc-1"},
        {"ordinaryUsageAllowed", false},
        {"rateLimitResetCredits", QJsonObject {{"availableCount", 1}}},
        {"rateLimits", QJsonObject {{"limitId", "codex"},
                                    {"primary", QJsonObject {{"usedPercent", 62}, {"windowDurationMins", 300}, {"resetsAt", 1'900'000'000}}},
                                    {"secondary", QJsonObject {{"usedPercent", 18}, {"windowDurationMins", 10080}, {"resetsAt", 1'900'500'000}}},
                                    {"planType", "pro"}}},
    };
}

void writeScenario(const QString& path, const QJsonObject& readAction)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(QJsonDocument(QJsonObject {{"methods", QJsonObject {{"account/rateLimits/read", readAction}}}}).toJson());
}

CodexUsageClient clientFor(const QString& scenario, const QString& log)
{
    CodexUsageClient c;
    c.executableOverride = kFake;
    c.environmentOverride = ProcessEnvironment {{"PATH", "/usr/bin:/bin"}, {"FAKE_CODEX_SCENARIO", scenario}, {"FAKE_CODEX_LOG", log}};
    return c;
}

// The fake alone: started, handed the three requests at once, read to its exit.
double fakeAloneMs(const QString& scenario, std::vector<double>& ownMs, const QString& log)
{
    QFile::remove(log);
    SpawnOptions o;
    o.program = kFake;
    o.arguments = {"app-server", "--stdio"};
    o.environment = ProcessEnvironment {{"PATH", "/usr/bin:/bin"}, {"FAKE_CODEX_SCENARIO", scenario}, {"FAKE_CODEX_LOG", log}};
    o.stdinMode = o.stdoutMode = o.stderrMode = StreamMode::Pipe;
    QElapsedTimer t;
    t.start();
    ChildProcess child = ChildProcess::start(o);
    child.writeAll(R"({"id":1,"method":"initialize","params":{}})" "\n" R"({"method":"initialized"})" "\n"
                   R"({"id":2,"method":"account/rateLimits/read"})" "\n");
    child.closeStdin();
    child.waitUntil(child.deadlineAfter(20), CancelToken(), nullptr);
    child.terminate(1.0);
    const double wall = double(t.nsecsElapsed()) / 1e6;
    QFile f(log);
    f.open(QIODevice::ReadOnly);
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QJsonObject exit = QJsonDocument::fromJson(line).object().value("exit").toObject();
        if (!exit.isEmpty())
            ownMs.push_back(exit.value("elapsedMs").toDouble());
    }
    return wall;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString scenario = dir.filePath("scenario.json");
    const QString log = dir.filePath("log.jsonl");
    constexpr int kRuns = 200;

    writeScenario(scenario, QJsonObject {{"result", limits()}});
    const CodexUsageClient client = clientFor(scenario, dir.filePath("client-log.jsonl"));
    client.fetchUsageBlocking(); // warm the caches

    std::vector<double> exchange, alone, own;
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer t;
        t.start();
        const ProviderUsage u = client.fetchUsageBlocking();
        exchange.push_back(double(t.nsecsElapsed()) / 1e6);
        if (u.windows.size() != 2)
            return 1;
    }
    for (int i = 0; i < kRuns; ++i)
        alone.push_back(fakeAloneMs(scenario, own, log));

    std::printf("whole exchange (spawn, initialize, initialized, rateLimits/read, terminate), %d runs:\n", kRuns);
    std::printf("  client median             %8.2f ms\n", median(exchange));
    std::printf("  fake alone, spawn to reap %8.2f ms\n", median(alone));
    std::printf("  fake's own start to exit  %8.2f ms (%zu runs)\n", median(own), own.size());

    // A reply line as large as the limit allows through the pipe (1,999,999 bytes and its line feed).
    writeScenario(scenario, QJsonObject {{"result", limits()}, {"padTo", 1'999'999}});
    std::vector<double> big;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer t;
        t.start();
        client.fetchUsageBlocking();
        big.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::printf("exchange with a 1,999,999-byte reply, 20 runs: median %8.2f ms\n", median(big));

    // Decoding alone: a 2,000,000-byte reply line.
    QJsonObject result = limits();
    result.insert("padding", QString());
    QJsonObject reply {{"id", 2}, {"result", result}};
    const qsizetype base = json::serialize(reply).size();
    result.insert("padding", QString(2'000'000 - base, QLatin1Char('x')));
    reply.insert("result", result);
    const QByteArray line = json::serialize(reply);
    std::vector<double> decode;
    for (int i = 0; i < 50; ++i) {
        QElapsedTimer t;
        t.start();
        QByteArray buffer = line + '\n';
        const auto found = CodexUsageClient::nextLine(buffer, 2);
        const ProviderUsage u = CodexUsageClient::makeUsage(*found, Timestamp::fromSince1970(1'800'000'000));
        decode.push_back(double(t.nsecsElapsed()) / 1e6);
        if (u.windows.size() != 2)
            return 1;
    }
    std::printf("cut and decode a %lld-byte reply, 50 runs: median %8.2f ms\n", static_cast<long long>(line.size()), median(decode));
    return 0;
}
