#pragma once

#include "CancelToken.h"
#include "Clock.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <sys/types.h>

// Makes a write to a pipe whose reader is gone fail with EPIPE instead of
// ending the process. Idempotent; `ChildProcess::start` calls it as well.
void ignoreSigpipe();

// True when `path` names a regular file this process may execute.
bool isExecutableFile(const QString& path);
// The first of `candidates` that is an executable regular file, in order.
std::optional<QString> firstExecutable(const QStringList& candidates);

// How one standard stream of the child is connected.
enum class StreamMode { Null, Pipe };

struct SpawnOptions {
    QString program;                                  // path of the program (argv[0])
    QStringList arguments;                            // argv[1...]
    std::optional<QMap<QString, QString>> environment; // none: inherit this process's
    QString workingDirectory;                         // empty: inherit
    StreamMode stdinMode = StreamMode::Null;
    StreamMode stdoutMode = StreamMode::Null;
    StreamMode stderrMode = StreamMode::Null;
    // Unconsumed output of this many bytes or more ends a wait with OutputCapReached.
    qsizetype outputCap = 2'000'000;
    // The error buffer keeps only its last this many bytes (0: standard error is read and dropped).
    qsizetype errorTailLimit = 8192;
    // Grace the destructor gives the child between SIGTERM and SIGKILL.
    double terminateGrace = 0.5;
    // Monotonic clock of deadlines; none: the system uptime.
    const Clock* clock = nullptr;
};

// How a reaped child ended. A child killed by a signal never succeeded.
struct ExitStatus {
    bool signalled = false;
    int code = 0; // exit status, or the signal number when signalled

    bool succeeded() const { return !signalled && code == 0; }
    // Exit status, or the signal number for a signalled child.
    int terminationStatus() const { return code; }
    bool operator==(const ExitStatus&) const = default;
};

// Why `ChildProcess::waitUntil` returned.
struct WaitOutcome {
    enum class Kind {
        Ready,            // the predicate returned true
        Exited,           // the child ended; both pipes were read to the end first (and `ready` ran on it)
        DeadlinePassed,
        Cancelled,
        OutputCapReached, // output().size() >= SpawnOptions::outputCap
        PollError,        // poll failed, or reported POLLNVAL / POLLERR: `error` holds the errno
        ReadError,        // read failed (not end of file): `error` holds the errno
    };
    Kind kind = Kind::DeadlinePassed;
    int error = 0;   // errno for PollError and ReadError
    ExitStatus exit; // for Exited
};

// One started program with its pipes, in a process group of its own. Blocking;
// one thread uses an instance at a time (the cancel token may be set from any
// thread). Every started child is reaped: by terminate(), kill(), or the
// destructor (terminate with the options' grace), so a child never outlives its
// owner, also when a step throws. Each of them signals the whole group, so what
// the child started (a wrapper script's program) ends with it, also after the
// child itself has exited.
class ChildProcess {
public:
    // Called after each read that added output (and once when a wait starts).
    // May consume bytes from the front of the buffer; returns true when what
    // the caller waits for has arrived. Whatever it throws leaves waitUntil.
    using Predicate = std::function<bool(QByteArray& output)>;

    // Starts the program. Throws ForeignError (POSIX domain, errno) when it
    // cannot: no such program, not executable, bad working folder, no pipes.
    static ChildProcess start(const SpawnOptions& options);

    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    pid_t pid() const { return m_pid; }

    // Writes every byte to the child's standard input, over EINTR and partial
    // writes. Throws ForeignError: EPIPE when the child has closed its input
    // or exited, EBADF when standard input is not a pipe or already closed.
    // Output is not read meanwhile: meant for requests that fit a pipe (64 KiB).
    void writeAll(const QByteArray& bytes);
    // Closes the writing end of standard input (the child sees end of input).
    // Throws ForeignError when close fails; a second call does nothing.
    void closeStdin();

    // Pumps standard output and error until an outcome (see WaitOutcome).
    // `deadline` is on the options' clock (infinity: none). First runs `ready`
    // on what is already buffered; then each pass: cancelled? deadline passed?
    // poll the open pipes for at most 100 ms (EINTR: next pass), read up to
    // 8192 bytes from each ready one, run `ready` when output grew; when the
    // child has ended, read both pipes to their end (running `ready` on it)
    // and report Exited; else check the output cap. A pipe at end of file
    // leaves the poll set; with none left it waits on the child in 10 ms steps.
    // A null predicate never reports Ready (wait for exit, cancel or deadline).
    WaitOutcome waitUntil(double deadline, const CancelToken& cancel, const Predicate& ready);
    // Deadline helper: the options' clock now plus `seconds`.
    double deadlineAfter(double seconds) const;
    double uptime() const;

    // Bytes read from standard output and not yet consumed.
    QByteArray& output() { return m_output; }
    // The last bytes read from standard error (at most the options' tail limit).
    QByteArray& errorTail() { return m_errorTail; }

    // True when the child has ended (now or before). It stays unreaped, holding
    // the group's id, until terminate(), kill() or the destructor.
    bool hasExited();
    // The status once ended.
    std::optional<ExitStatus> exitStatus() const { return m_status; }

    // Closes standard input, sends SIGTERM to the group, waits up to
    // `graceSeconds` of real time (looking every 10 ms) for the child to end and
    // the group to empty, then SIGKILL to the group; reaps the child and closes
    // every pipe. Returns how the child ended.
    ExitStatus terminate(double graceSeconds) noexcept;
    // SIGKILL to the group at once, then reap and close every pipe.
    ExitStatus kill() noexcept;

    // Cuts the first line (bytes before the first line feed) out of `buffer`,
    // removing it and its line feed; none when no line feed is there.
    static std::optional<QByteArray> takeLine(QByteArray& buffer);

private:
    ChildProcess() = default;
    void release() noexcept;
    void closeOutputs() noexcept;
    // Waits for the child, which has ended or been killed, and takes its status.
    void reap() noexcept;
    void signalGroup(int signalNumber) noexcept;
    // Reaps the child once it has ended; true when it has and no member of its group is left.
    bool groupEnded() noexcept;
    void appendError(const char* data, qsizetype size);
    // Reads once from `fd`; returns bytes read, 0 at end of file (and closes
    // `fd`), -1 with errno.
    ssize_t readInto(int& fd, bool isOutput);

    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
    int m_stderr = -1;
    QByteArray m_output;
    QByteArray m_errorTail;
    qsizetype m_outputCap = 2'000'000;
    qsizetype m_errorTailLimit = 8192;
    double m_terminateGrace = 0.5;
    const Clock* m_clock = nullptr;
    std::optional<ExitStatus> m_status;
    bool m_reaped = false;
};
