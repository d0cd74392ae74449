// A stand-in for the `claude` program, driven by the scenario file named in
// FAKE_CLAUDE_SCENARIO. It reads its standard input to the end (the request
// line), records its arguments, environment, folder and input to the scenario's
// "log" file, then plays the scenario's steps on its standard output:
//
//   {"write": "text"}            raw text
//   {"respond": {...}}           one control_response line; the object becomes its
//                                "response", with "request_id" taken from the request
//                                unless the object names its own
//   {"fill": {"text": "x", "count": N}}   N copies of text, no line feed
//   {"sleepMs": N}
//   {"closeStdout": true}        close standard output and keep running
//   {"exit": N}                  exit at once with status N
//
// Other members: "readInput" (default true; false skips reading the input),
// "ignoreTerm" (ignore SIGTERM), "end" ("exit" by default, or "hang": wait until
// killed), "exitCode" (status for "exit", default 0).

#include "FakeIO.h"
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <unistd.h>

namespace {

void writeAll(int fd, const QByteArray& bytes)
{
    if (!writeFully(fd, bytes))
        std::_Exit(70);
}

QByteArray readInputToEnd()
{
    QByteArray input;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(0, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return input;
        input.append(buffer, n);
    }
}

QString requestId(const QByteArray& input)
{
    const qsizetype end = input.indexOf('\n');
    const QJsonObject request = QJsonDocument::fromJson(end < 0 ? input : input.left(end)).object();
    return request.value(QStringLiteral("request_id")).toString();
}

void record(const QString& path, const QByteArray& input, const QStringList& arguments)
{
    if (path.isEmpty())
        return;
    QJsonObject log {
        {QStringLiteral("arguments"), QJsonArray::fromStringList(arguments)},
        {QStringLiteral("environment"), environmentObject()},
        {QStringLiteral("directory"), QDir::currentPath()},
        {QStringLiteral("input"), QString::fromUtf8(input)},
        {QStringLiteral("pid"), static_cast<qint64>(::getpid())},
    };
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(QJsonDocument(log).toJson());
}

[[noreturn]] void hang()
{
    for (;;)
        ::pause();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments();
    arguments.removeFirst();

    const std::optional<QJsonObject> read = readScenario(qEnvironmentVariable("FAKE_CLAUDE_SCENARIO"));
    if (!read)
        return 64;
    const QJsonObject& scenario = *read;

    if (scenario.value(QStringLiteral("ignoreTerm")).toBool())
        std::signal(SIGTERM, SIG_IGN);

    const QByteArray input = scenario.value(QStringLiteral("readInput")).toBool(true) ? readInputToEnd() : QByteArray();
    record(scenario.value(QStringLiteral("log")).toString(), input, arguments);
    const QString id = requestId(input);

    for (const QJsonValue& value : scenario.value(QStringLiteral("steps")).toArray()) {
        const QJsonObject step = value.toObject();
        if (step.contains(QStringLiteral("write"))) {
            writeAll(1, step.value(QStringLiteral("write")).toString().toUtf8());
        } else if (step.contains(QStringLiteral("respond"))) {
            QJsonObject response = step.value(QStringLiteral("respond")).toObject();
            if (!response.contains(QStringLiteral("request_id")))
                response.insert(QStringLiteral("request_id"), id);
            const QJsonObject line {
                {QStringLiteral("type"), QStringLiteral("control_response")},
                {QStringLiteral("response"), response},
            };
            writeAll(1, jsonLine(line));
        } else if (step.contains(QStringLiteral("fill"))) {
            const QJsonObject fill = step.value(QStringLiteral("fill")).toObject();
            const QByteArray text = fill.value(QStringLiteral("text")).toString(QStringLiteral("x")).toUtf8();
            const qint64 count = fill.value(QStringLiteral("count")).toInteger();
            QByteArray chunk;
            for (int i = 0; i < 4096; ++i)
                chunk += text;
            qint64 left = count;
            while (left >= 4096) {
                writeAll(1, chunk);
                left -= 4096;
            }
            for (qint64 i = 0; i < left; ++i)
                writeAll(1, text);
        } else if (step.contains(QStringLiteral("sleepMs"))) {
            ::usleep(static_cast<useconds_t>(step.value(QStringLiteral("sleepMs")).toInt() * 1000));
        } else if (step.contains(QStringLiteral("closeStdout"))) {
            ::close(1);
        } else if (step.contains(QStringLiteral("exit"))) {
            std::_Exit(step.value(QStringLiteral("exit")).toInt());
        }
    }

    if (scenario.value(QStringLiteral("end")).toString() == QLatin1String("hang"))
        hang();
    return scenario.value(QStringLiteral("exitCode")).toInt(0);
}
