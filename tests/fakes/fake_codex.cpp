// A stand-in for `codex app-server --stdio`, driven by a JSON scenario file whose
// path is in FAKE_CODEX_SCENARIO (or the first argument that ends in ".json").
//
// Scenario (every member optional):
// {
//   "log": "/path/log.jsonl",         record of what arrived (also FAKE_CODEX_LOG)
//   "stderr": "text",                 written to standard error at start
//   "exitAtStart": 3,                 exit with this status before reading anything
//   "ignoreSigterm": true,            SIGTERM is logged and otherwise ignored
//   "onEof": "exit" | "hang",         when standard input closes (default: exit 0, hang with ignoreSigterm)
//   "methods": {                      answers by method; an array answers the n-th call
//     "initialize": {...},            with its n-th action (the last one repeats)
//     "account/rateLimits/read": [{...}, {...}]
//   },
//   "otherwise": {...}                action for a method not listed (default: error -32601)
// }
//
// An action, carried out in this order:
//   "delayMs": 100                    wait before answering
//   "waitForFile": "/path/gate"       wait until that file exists (at most 30 s)
//   "stderr": "text"                  write to standard error
//   "before": [line, ...]             lines written before the answer
//   "exit": 1                         exit with this status instead of answering
//   "never": true                     never answer
//   "result": any | "error": {...}    the answer {"id": id, "result"|"error": ...}
//   "raw": "text"                     written verbatim in place of the answer
//   "oversize": 2100000               that many bytes of one line without a line feed
//   "padTo": 1999999                  pad the answer line to that many bytes (result gets "padding")
//   "chunks": 3, "chunkDelayMs": 20   write the answer in pieces
//   "after": [line, ...]              lines written right after the answer, in the same write
//   "afterRaw": "text"                bytes written right after the answer, in the same write
//   "exitAfter": 0                    exit with this status after answering
// Lines in "before" and "after" are strings (written as they stand) or objects
// (serialised); "$ID" in either is replaced by the id of the request being answered.
//
// For example, a spend that succeeds and a re-read that then fails:
//   "methods": {"account/rateLimits/read": [{"result": {...}}, {"error": {"code": -1, "message": "x"}}],
//               "account/rateLimitResetCredit/consume": {"result": {"outcome": "reset"}}}
// and a program that dies once it has the spend request: the consume action {"exit": 1}
// (the request, with its idempotency key, is in the log before the program exits).
//
// The log holds one JSON object per line: {"start": {...}} with the arguments, the
// environment and the working folder; {"received": message} for every line read
// ({"receivedRaw": text} when it is not JSON); {"sigterm": true}; {"exit": {...}}
// with the status and the milliseconds since start.

#include "FakeIO.h"
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {

int g_logFd = -1;
QElapsedTimer g_clock;

void writeAll(int fd, const QByteArray& bytes)
{
    if (!writeFully(fd, bytes))
        return;
}

void logObject(const QJsonObject& object)
{
    if (g_logFd >= 0)
        writeAll(g_logFd, jsonLine(object));
}

[[noreturn]] void finish(int status)
{
    logObject({{QStringLiteral("exit"), QJsonObject {{QStringLiteral("status"), status},
                                                     {QStringLiteral("elapsedMs"), double(g_clock.nsecsElapsed()) / 1e6}}}});
    std::fflush(nullptr);
    ::_exit(status);
}

void onSigterm(int)
{
    static const char line[] = "{\"sigterm\":true}\n";
    if (g_logFd >= 0)
        (void)!::write(g_logFd, line, sizeof line - 1);
}

void sleepMs(int ms)
{
    if (ms > 0)
        QThread::msleep(static_cast<unsigned long>(ms));
}

QByteArray linesOf(const QJsonValue& list, qint64 id)
{
    QByteArray out;
    for (const QJsonValue& entry : list.toArray()) {
        if (entry.isString())
            out += entry.toString().replace(QLatin1String("$ID"), QString::number(id)).toUtf8() + '\n';
        else
            out += jsonLine(withPlaceholders(entry, {{QStringLiteral("$ID"), QJsonValue(id)}}).toObject());
    }
    return out;
}

QJsonObject actionFor(const QJsonObject& scenario, const QString& method, QMap<QString, int>& calls)
{
    const int n = calls[method]++;
    const QJsonValue entry = scenario.value(QStringLiteral("methods")).toObject().value(method);
    if (entry.isArray()) {
        const QJsonArray list = entry.toArray();
        if (!list.isEmpty())
            return list.at(std::min<qsizetype>(n, list.size() - 1)).toObject();
    } else if (entry.isObject()) {
        return entry.toObject();
    }
    if (scenario.contains(QStringLiteral("otherwise")))
        return scenario.value(QStringLiteral("otherwise")).toObject();
    if (method == QLatin1String("initialize"))
        return {{QStringLiteral("result"), QJsonObject {{QStringLiteral("userAgent"), QStringLiteral("fake_codex")}}}};
    return {{QStringLiteral("error"), QJsonObject {{QStringLiteral("code"), -32601},
                                                   {QStringLiteral("message"), QStringLiteral("method not found: ") + method}}}};
}

QByteArray answerLine(const QJsonObject& action, qint64 id)
{
    QJsonObject reply {{QStringLiteral("id"), id}};
    if (action.contains(QStringLiteral("error")))
        reply.insert(QStringLiteral("error"), action.value(QStringLiteral("error")));
    else
        reply.insert(QStringLiteral("result"), action.value(QStringLiteral("result")));
    QByteArray line = QJsonDocument(reply).toJson(QJsonDocument::Compact);
    const qsizetype padTo = action.value(QStringLiteral("padTo")).toInteger(0);
    if (padTo > 0 && reply.value(QStringLiteral("result")).isObject()) {
        // {"id":..,"result":{"padding":"xxxx",...}}: grow the padding until the line has padTo bytes.
        QJsonObject result = reply.value(QStringLiteral("result")).toObject();
        result.insert(QStringLiteral("padding"), QString());
        reply.insert(QStringLiteral("result"), result);
        const qsizetype base = QJsonDocument(reply).toJson(QJsonDocument::Compact).size();
        result.insert(QStringLiteral("padding"), QString(std::max<qsizetype>(0, padTo - base), QLatin1Char('x')));
        reply.insert(QStringLiteral("result"), result);
        line = QJsonDocument(reply).toJson(QJsonDocument::Compact);
    }
    return line + '\n';
}

// Returns once `path` exists, or after 30 s.
void waitForFile(const QString& path)
{
    QElapsedTimer waited;
    waited.start();
    while (!QFile::exists(path) && waited.elapsed() < 30'000)
        sleepMs(5);
}

void act(const QJsonObject& action, qint64 id)
{
    sleepMs(action.value(QStringLiteral("delayMs")).toInt());
    if (action.contains(QStringLiteral("waitForFile")))
        waitForFile(action.value(QStringLiteral("waitForFile")).toString());
    if (action.contains(QStringLiteral("stderr")))
        writeAll(STDERR_FILENO, action.value(QStringLiteral("stderr")).toString().toUtf8());
    if (action.contains(QStringLiteral("before")))
        writeAll(STDOUT_FILENO, linesOf(action.value(QStringLiteral("before")), id));
    if (action.contains(QStringLiteral("exit")))
        finish(action.value(QStringLiteral("exit")).toInt());
    if (action.value(QStringLiteral("never")).toBool())
        return;

    QByteArray out;
    if (action.contains(QStringLiteral("oversize")))
        out = QByteArray(action.value(QStringLiteral("oversize")).toInteger(), 'x');
    else if (action.contains(QStringLiteral("raw")))
        out = action.value(QStringLiteral("raw")).toString().replace(QLatin1String("$ID"), QString::number(id)).toUtf8();
    else
        out = answerLine(action, id);

    const int chunks = std::max(1, action.value(QStringLiteral("chunks")).toInt(1));
    if (chunks > 1) {
        const qsizetype step = (out.size() + chunks - 1) / chunks;
        for (qsizetype at = 0; at < out.size(); at += step) {
            if (at > 0)
                sleepMs(action.value(QStringLiteral("chunkDelayMs")).toInt(20));
            writeAll(STDOUT_FILENO, out.mid(at, step));
        }
        out.clear();
    }
    if (action.contains(QStringLiteral("after")))
        out += linesOf(action.value(QStringLiteral("after")), id);
    if (action.contains(QStringLiteral("afterRaw")))
        out += action.value(QStringLiteral("afterRaw")).toString().toUtf8();
    writeAll(STDOUT_FILENO, out);

    if (action.contains(QStringLiteral("exitAfter")))
        finish(action.value(QStringLiteral("exitAfter")).toInt());
}

QString scenarioPath(int argc, char** argv)
{
    const QByteArray fromEnv = qgetenv("FAKE_CODEX_SCENARIO");
    if (!fromEnv.isEmpty())
        return QString::fromLocal8Bit(fromEnv);
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg.endsWith(QLatin1String(".json")))
            return arg;
    }
    return {};
}

} // namespace

int main(int argc, char** argv)
{
    g_clock.start();
    QCoreApplication app(argc, argv);

    QJsonObject scenario;
    const QString path = scenarioPath(argc, argv);
    if (!path.isEmpty()) {
        const std::optional<QJsonObject> read = readScenario(path);
        if (!read) {
            std::fprintf(stderr, "fake_codex: cannot read scenario %s\n", qPrintable(path));
            return 90;
        }
        scenario = *read;
    }

    QString logPath = QString::fromLocal8Bit(qgetenv("FAKE_CODEX_LOG"));
    if (logPath.isEmpty())
        logPath = scenario.value(QStringLiteral("log")).toString();
    if (!logPath.isEmpty())
        g_logFd = ::open(QFile::encodeName(logPath).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);

    QJsonArray args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    logObject({{QStringLiteral("start"), QJsonObject {{QStringLiteral("args"), args},
                                                      {QStringLiteral("env"), environmentObject()},
                                                      {QStringLiteral("cwd"), QDir::currentPath()},
                                                      {QStringLiteral("pid"), qint64(::getpid())}}}});

    if (scenario.value(QStringLiteral("ignoreSigterm")).toBool())
        catchSignal(SIGTERM, onSigterm);
    if (scenario.contains(QStringLiteral("stderr")))
        writeAll(STDERR_FILENO, scenario.value(QStringLiteral("stderr")).toString().toUtf8());
    if (scenario.contains(QStringLiteral("exitAtStart")))
        finish(scenario.value(QStringLiteral("exitAtStart")).toInt());

    QMap<QString, int> calls;
    std::string line;
    while (std::getline(std::cin, line)) {
        const QByteArray bytes = QByteArray::fromStdString(line);
        QJsonParseError error {};
        const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject()) {
            logObject({{QStringLiteral("receivedRaw"), QString::fromUtf8(bytes)}});
            continue;
        }
        const QJsonObject message = doc.object();
        logObject({{QStringLiteral("received"), message}});
        if (!message.contains(QStringLiteral("id")))
            continue; // a notification: no answer
        const qint64 id = message.value(QStringLiteral("id")).toInteger();
        act(actionFor(scenario, message.value(QStringLiteral("method")).toString(), calls), id);
    }

    const QString onEof = scenario.value(QStringLiteral("onEof")).toString(
        scenario.value(QStringLiteral("ignoreSigterm")).toBool() ? QStringLiteral("hang") : QStringLiteral("exit"));
    if (onEof == QLatin1String("hang")) {
        for (;;)
            ::pause();
    }
    finish(0);
}
