// A scripted program for the child-process tests. Each argument is one action,
// run in order; "@PATH" runs the actions listed in PATH, one per line.
//
//   out=TEXT  err=TEXT   write TEXT (escapes \n \r \t \\) to standard output / error
//   lots=N    errlots=N  write N bytes "x" to standard output / error
//   errcount=N           write the lines "000000\n" ... to standard error, N of them
//   echo                 copy standard input to standard output line by line until its end
//   drain-stdin          read standard input to its end
//   env=NAME             write "NAME=value\n", or "NAME unset\n"
//   pwd                  write the working folder and a line feed
//   sleep=SECONDS
//   close-stdout  close-stderr  close-stdin
//   ignore-term          ignore SIGTERM from here on
//   hold=SECONDS         leave a grandchild that keeps the pipes open for SECONDS
//   exit=N               exit with status N (the default at the end is 0)
//   signal=N             die by signal N

#include "FakeIO.h"
#include <QByteArray>
#include <QFile>
#include <QList>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

namespace {

void writeAll(int fd, const QByteArray& bytes)
{
    if (!writeFully(fd, bytes))
        std::exit(70);
}

QByteArray unescape(const QByteArray& text)
{
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c != '\\' || i + 1 == text.size()) {
            out.append(c);
            continue;
        }
        const char next = text.at(++i);
        out.append(next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : next);
    }
    return out;
}

void sleepSeconds(double seconds)
{
    timespec ts {};
    ts.tv_sec = static_cast<time_t>(seconds);
    ts.tv_nsec = static_cast<long>((seconds - static_cast<double>(ts.tv_sec)) * 1e9);
    while (nanosleep(&ts, &ts) != 0) { }
}

void echoLines()
{
    QByteArray pending;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0)
            break;
        pending.append(chunk, n);
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            writeAll(STDOUT_FILENO, pending.left(end + 1));
            pending.remove(0, end + 1);
        }
    }
    writeAll(STDOUT_FILENO, pending);
}

void run(const QByteArray& action);

void runFile(const QByteArray& path)
{
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::ReadOnly))
        std::exit(71);
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray& line : lines) {
        if (!line.isEmpty())
            run(line);
    }
}

void run(const QByteArray& action)
{
    if (action.startsWith('@'))
        return runFile(action.mid(1));
    const qsizetype eq = action.indexOf('=');
    const QByteArray verb = eq < 0 ? action : action.left(eq);
    const QByteArray value = eq < 0 ? QByteArray() : action.mid(eq + 1);

    if (verb == "out")
        writeAll(STDOUT_FILENO, unescape(value));
    else if (verb == "err")
        writeAll(STDERR_FILENO, unescape(value));
    else if (verb == "lots")
        writeAll(STDOUT_FILENO, QByteArray(value.toLongLong(), 'x'));
    else if (verb == "errlots")
        writeAll(STDERR_FILENO, QByteArray(value.toLongLong(), 'x'));
    else if (verb == "errcount") {
        QByteArray text;
        for (int i = 0; i < value.toInt(); ++i)
            text += QByteArray::number(i).rightJustified(6, '0') + '\n';
        writeAll(STDERR_FILENO, text);
    } else if (verb == "echo")
        echoLines();
    else if (verb == "drain-stdin") {
        char chunk[4096];
        while (::read(STDIN_FILENO, chunk, sizeof chunk) > 0) { }
    } else if (verb == "env") {
        const char* found = std::getenv(value.constData());
        writeAll(STDOUT_FILENO, found ? value + '=' + QByteArray(found) + '\n' : value + " unset\n");
    } else if (verb == "pwd") {
        char buffer[4096];
        if (!::getcwd(buffer, sizeof buffer))
            std::exit(72);
        writeAll(STDOUT_FILENO, QByteArray(buffer) + '\n');
    } else if (verb == "sleep")
        sleepSeconds(value.toDouble());
    else if (verb == "close-stdout")
        ::close(STDOUT_FILENO);
    else if (verb == "close-stderr")
        ::close(STDERR_FILENO);
    else if (verb == "close-stdin")
        ::close(STDIN_FILENO);
    else if (verb == "ignore-term")
        std::signal(SIGTERM, SIG_IGN);
    else if (verb == "hold") {
        if (::fork() == 0) {
            sleepSeconds(value.toDouble());
            ::_exit(0);
        }
    } else if (verb == "exit")
        std::exit(value.toInt());
    else if (verb == "signal") {
        const int number = value.toInt();
        std::signal(number, SIG_DFL);
        std::raise(number);
        std::exit(73);
    } else {
        writeAll(STDERR_FILENO, "fake_program: unknown action " + action + '\n');
        std::exit(64);
    }
}

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        run(QByteArray(argv[i]));
    return 0;
}
