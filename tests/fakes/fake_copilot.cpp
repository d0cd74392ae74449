// A stand-in for the `copilot` program in headless stdio mode. It reads
// Content-Length framed JSON-RPC requests from standard input and answers
// them as a scenario file says. The scenario's path comes from the variable
// FAKE_COPILOT_SCENARIO. Everything the program sees (arguments, working
// folder, environment, requests, end of input, SIGTERM and whether input
// was closed by then) is appended to the
// scenario's "log" file as one JSON object per line.
//
// Scenario (JSON object, every member optional):
//   "log":          path of the log file
//   "ignoreTerm":   true: SIGTERM is logged and ignored
//   "stayAfterEof": true: the program keeps running after its input ends
//   "onStart":      actions run before the first request is read
//   "methods":      method name -> actions run for each request of that method;
//                   a method that is not listed gets a -32601 error reply
//   "otherwise":    actions for methods that are not listed (instead of -32601)
//
// Actions (objects, run in order):
//   {"send": <message>, ...framing options}  a framed message; inside <message>
//        the string "$id" becomes the request's id and "$otherId" the id + 100
//   {"result": <value>, ...framing options}  shorthand for a reply carrying "result"
//   {"error": <value>, ...framing options}   shorthand for a reply carrying "error"
//   {"raw": "text"}                           bytes written as they are
//   {"garbage": n}                            n bytes of "x" (no separator)
//   {"stderr": "text", "repeat": n}           text written n times to standard error
//   {"sleepMs": n}
//   {"exit": status}                          ends the program at once
//   {"hang": true}                            waits until killed
// Framing options:
//   "headers":     header lines written before the length line
//   "headersAfter": header lines written after the length line
//   "lengthName":  the length header's name (default "Content-Length")
//   "lengthValue": the length value as text (default the body's real length)
//   "noSpace":     true: no blank after the colon
//   "padTo":       the body is padded (a "pad" member) to exactly this many bytes
//   "truncate":    only this many bytes of the body are written
//   "chunks":      sizes of the first pieces of the message, each followed by
//                  "chunkDelayMs" (default 40) of silence; the rest follows at once

#include "FakeIO.h"
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

int g_logFd = -1;
bool g_ignoreTerm = false;

void writeAll(int fd, const QByteArray& bytes)
{
    if (!writeFully(fd, bytes))
        ::_exit(3);
}

void log(const QJsonObject& entry)
{
    if (g_logFd >= 0)
        writeAll(g_logFd, jsonLine(entry));
}

void onTerm(int)
{
    // Whether our input was already closed when the signal came.
    struct pollfd input {STDIN_FILENO, POLLIN, 0};
    const bool closed = ::poll(&input, 1, 0) == 1 && (input.revents & POLLHUP);
    static const char closedLine[] = "{\"event\":\"term\",\"stdinClosed\":true}\n";
    static const char openLine[] = "{\"event\":\"term\",\"stdinClosed\":false}\n";
    if (g_logFd >= 0) {
        ssize_t ignored = closed ? ::write(g_logFd, closedLine, sizeof closedLine - 1)
                                 : ::write(g_logFd, openLine, sizeof openLine - 1);
        (void)ignored;
    }
    if (!g_ignoreTerm)
        ::_exit(143);
}

QJsonValue substitute(const QJsonValue& value, qint64 id)
{
    return withPlaceholders(value, {{QStringLiteral("$id"), id}, {QStringLiteral("$otherId"), id + 100}});
}

QByteArray bodyOf(const QJsonValue& message)
{
    if (message.isObject())
        return QJsonDocument(message.toObject()).toJson(QJsonDocument::Compact);
    if (message.isArray())
        return QJsonDocument(message.toArray()).toJson(QJsonDocument::Compact);
    return message.toString().toUtf8(); // a string is sent as the raw body
}

void sendFramed(const QJsonObject& action, QJsonValue message)
{
    QByteArray body = bodyOf(message);
    if (action.contains(QLatin1String("padTo")) && message.isObject()) {
        const qsizetype target = action.value(QLatin1String("padTo")).toInteger();
        QJsonObject padded = message.toObject();
        padded.insert(QLatin1String("pad"), QString());
        const qsizetype base = bodyOf(padded).size();
        padded.insert(QLatin1String("pad"), QString(qMax<qsizetype>(0, target - base), QLatin1Char('x')));
        body = bodyOf(padded);
    }
    QByteArray header;
    for (const QJsonValue& line : action.value(QLatin1String("headers")).toArray())
        header += line.toString().toUtf8() + "\r\n";
    const QString name = action.value(QLatin1String("lengthName")).toString(QStringLiteral("Content-Length"));
    const QString value = action.contains(QLatin1String("lengthValue"))
        ? action.value(QLatin1String("lengthValue")).toString()
        : QString::number(body.size());
    header += name.toUtf8() + (action.value(QLatin1String("noSpace")).toBool() ? ":" : ": ") + value.toUtf8() + "\r\n";
    for (const QJsonValue& line : action.value(QLatin1String("headersAfter")).toArray())
        header += line.toString().toUtf8() + "\r\n";
    header += "\r\n";
    if (action.contains(QLatin1String("truncate")))
        body.truncate(action.value(QLatin1String("truncate")).toInteger());

    const QByteArray whole = header + body;
    const int delay = action.value(QLatin1String("chunkDelayMs")).toInt(40);
    qsizetype at = 0;
    for (const QJsonValue& size : action.value(QLatin1String("chunks")).toArray()) {
        const qsizetype n = qMin<qsizetype>(size.toInteger(), whole.size() - at);
        writeAll(STDOUT_FILENO, whole.mid(at, n));
        at += n;
        QThread::msleep(static_cast<unsigned long>(delay));
    }
    writeAll(STDOUT_FILENO, whole.mid(at));
}

void run(const QJsonArray& actions, qint64 id)
{
    for (const QJsonValue& a : actions) {
        const QJsonObject action = a.toObject();
        if (action.contains(QLatin1String("send"))) {
            sendFramed(action, substitute(action.value(QLatin1String("send")), id));
        } else if (action.contains(QLatin1String("result")) || action.contains(QLatin1String("error"))) {
            QJsonObject reply {{QStringLiteral("jsonrpc"), QStringLiteral("2.0")}, {QStringLiteral("id"), id}};
            for (const char* key : {"result", "error"})
                if (action.contains(QLatin1String(key)))
                    reply.insert(QLatin1String(key), substitute(action.value(QLatin1String(key)), id));
            sendFramed(action, reply);
        } else if (action.contains(QLatin1String("raw"))) {
            writeAll(STDOUT_FILENO, action.value(QLatin1String("raw")).toString().toUtf8());
        } else if (action.contains(QLatin1String("garbage"))) {
            writeAll(STDOUT_FILENO, QByteArray(action.value(QLatin1String("garbage")).toInteger(), 'x'));
        } else if (action.contains(QLatin1String("stderr"))) {
            const QByteArray text = action.value(QLatin1String("stderr")).toString().toUtf8();
            const int repeat = action.value(QLatin1String("repeat")).toInt(1);
            for (int i = 0; i < repeat; ++i)
                writeAll(STDERR_FILENO, text);
        } else if (action.contains(QLatin1String("sleepMs"))) {
            QThread::msleep(static_cast<unsigned long>(action.value(QLatin1String("sleepMs")).toInt()));
        } else if (action.contains(QLatin1String("exit"))) {
            log({{QStringLiteral("event"), QStringLiteral("exit")}});
            ::_exit(action.value(QLatin1String("exit")).toInt());
        } else if (action.contains(QLatin1String("hang"))) {
            for (;;)
                ::pause();
        }
    }
}

// Reads one framed request; false at end of input.
bool readRequest(QByteArray& buffer, QByteArray& header, QByteArray& body)
{
    char chunk[4096];
    for (;;) {
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end >= 0) {
            header = buffer.left(end);
            qsizetype length = -1;
            for (const QByteArray& line : header.split('\n')) {
                const QByteArray l = line.trimmed();
                if (l.toLower().startsWith("content-length:"))
                    length = l.mid(15).trimmed().toLongLong();
            }
            if (length < 0)
                ::_exit(4);
            if (buffer.size() >= end + 4 + length) {
                body = buffer.mid(end + 4, length);
                buffer.remove(0, end + 4 + length);
                return true;
            }
        }
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        buffer.append(chunk, n);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const std::optional<QJsonObject> read = readScenario(qEnvironmentVariable("FAKE_COPILOT_SCENARIO"));
    if (!read)
        return 2;
    const QJsonObject& scenario = *read;

    const QString logPath = scenario.value(QLatin1String("log")).toString();
    if (!logPath.isEmpty())
        g_logFd = ::open(QFile::encodeName(logPath).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    g_ignoreTerm = scenario.value(QLatin1String("ignoreTerm")).toBool();
    catchSignal(SIGTERM, onTerm);

    QJsonArray args;
    for (int i = 0; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    log({{QStringLiteral("event"), QStringLiteral("start")},
         {QStringLiteral("argv"), args},
         {QStringLiteral("cwd"), QDir::currentPath()},
         {QStringLiteral("env"), environmentObject()}});

    run(scenario.value(QLatin1String("onStart")).toArray(), 0);

    const QJsonObject methods = scenario.value(QLatin1String("methods")).toObject();
    QByteArray buffer, header, body;
    while (readRequest(buffer, header, body)) {
        const QJsonObject request = QJsonDocument::fromJson(body).object();
        const qint64 id = request.value(QLatin1String("id")).toInteger(-1);
        const QString method = request.value(QLatin1String("method")).toString();
        log({{QStringLiteral("event"), QStringLiteral("request")},
             {QStringLiteral("header"), QString::fromUtf8(header)},
             {QStringLiteral("body"), QString::fromUtf8(body)}});
        if (methods.contains(method)) {
            run(methods.value(method).toArray(), id);
        } else if (scenario.contains(QLatin1String("otherwise"))) {
            run(scenario.value(QLatin1String("otherwise")).toArray(), id);
        } else {
            run(QJsonArray {QJsonObject {{QStringLiteral("error"),
                 QJsonObject {{QStringLiteral("code"), -32601}, {QStringLiteral("message"), QStringLiteral("Method not found")}}}}}, id);
        }
    }
    log({{QStringLiteral("event"), QStringLiteral("eof")}});
    if (scenario.value(QLatin1String("stayAfterEof")).toBool())
        for (;;)
            ::pause();
    return 0;
}
