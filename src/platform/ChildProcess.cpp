#include "ChildProcess.h"

#include "ForeignError.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace {

constexpr int kPollStepMs = 100;
constexpr int kExitStepMs = 10;
constexpr qsizetype kReadChunk = 8192;

void closeQuietly(int& fd) noexcept
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

void sleepMs(int ms) noexcept
{
    if (ms > 0)
        ::poll(nullptr, 0, ms); // an interrupted sleep just ends early
}

// Milliseconds to wait in one pass: at most `capMs`, never past the deadline,
// at least 1 so that a fraction of a millisecond left does not become a busy pass.
int stepMs(double now, double deadline, int capMs)
{
    const double left = (deadline - now) * 1000.0;
    if (!(left < capMs))
        return capMs;
    return std::max(1, static_cast<int>(std::ceil(left)));
}

QByteArray encodeStrict(const QString& s)
{
    QByteArray bytes = QFile::encodeName(s);
    if (bytes.contains('\0'))
        throw ForeignError::posix(EINVAL);
    return bytes;
}

// The descriptors of a pipe, both close-on-exec and above the standard three
// (a pipe end at 0..2 would lose close-on-exec to dup2 onto itself).
struct Pipe {
    int read = -1;
    int write = -1;
    ~Pipe()
    {
        closeQuietly(read);
        closeQuietly(write);
    }
};

int liftAboveStandard(int fd)
{
    if (fd > STDERR_FILENO)
        return fd;
    const int lifted = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return lifted;
}

void openPipe(Pipe& pipe)
{
    int fds[2] = {-1, -1};
#if defined(__linux__)
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw ForeignError::posix(errno);
#else
    if (::pipe(fds) != 0)
        throw ForeignError::posix(errno);
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
#endif
    pipe.read = liftAboveStandard(fds[0]);
    pipe.write = liftAboveStandard(fds[1]);
    if (pipe.read < 0 || pipe.write < 0)
        throw ForeignError::posix(errno);
}

class SpawnSetup {
public:
    SpawnSetup()
    {
        if (int rc = posix_spawn_file_actions_init(&actions); rc != 0)
            throw ForeignError::posix(rc);
        if (int rc = posix_spawnattr_init(&attributes); rc != 0) {
            posix_spawn_file_actions_destroy(&actions);
            throw ForeignError::posix(rc);
        }
    }
    ~SpawnSetup()
    {
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    static void check(int rc)
    {
        if (rc != 0)
            throw ForeignError::posix(rc);
    }

    // Connects the child's `target` descriptor to `pipeEnd`, or to the null device.
    void connect(int target, StreamMode mode, int pipeEnd)
    {
        if (mode == StreamMode::Pipe)
            check(posix_spawn_file_actions_adddup2(&actions, pipeEnd, target));
        else
            check(posix_spawn_file_actions_addopen(&actions, target, "/dev/null",
                target == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0));
    }

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
};

} // namespace

void ignoreSigpipe()
{
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGPIPE, &action, nullptr);
}

bool isExecutableFile(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QByteArray native = QFile::encodeName(path);
    if (native.contains('\0'))
        return false;
    struct stat info {};
    if (::stat(native.constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    return ::access(native.constData(), X_OK) == 0;
}

std::optional<QString> firstExecutable(const QStringList& candidates)
{
    for (const QString& candidate : candidates) {
        if (isExecutableFile(candidate))
            return candidate;
    }
    return std::nullopt;
}

ChildProcess ChildProcess::start(const SpawnOptions& options)
{
    ignoreSigpipe();

    const QByteArray program = encodeStrict(options.program);
    std::vector<QByteArray> argStore;
    argStore.push_back(program);
    for (const QString& argument : options.arguments)
        argStore.push_back(encodeStrict(argument));
    std::vector<char*> argv;
    for (QByteArray& argument : argStore)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    std::vector<QByteArray> envStore;
    std::vector<char*> envp;
    char** childEnvironment = environ;
    if (options.environment) {
        for (auto it = options.environment->cbegin(); it != options.environment->cend(); ++it) {
            const QByteArray name = encodeStrict(it.key());
            if (name.isEmpty() || name.contains('='))
                throw ForeignError::posix(EINVAL);
            envStore.push_back(name + '=' + encodeStrict(it.value()));
        }
        for (QByteArray& entry : envStore)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        childEnvironment = envp.data();
    }
    const QByteArray directory = options.workingDirectory.isEmpty() ? QByteArray() : encodeStrict(options.workingDirectory);

    Pipe input, output, error;
    if (options.stdinMode == StreamMode::Pipe)
        openPipe(input);
    if (options.stdoutMode == StreamMode::Pipe)
        openPipe(output);
    if (options.stderrMode == StreamMode::Pipe)
        openPipe(error);

    SpawnSetup setup;
    setup.connect(STDIN_FILENO, options.stdinMode, input.read);
    setup.connect(STDOUT_FILENO, options.stdoutMode, output.write);
    setup.connect(STDERR_FILENO, options.stderrMode, error.write);
    if (!directory.isEmpty())
        SpawnSetup::check(posix_spawn_file_actions_addchdir_np(&setup.actions, directory.constData()));

    // The child starts with no blocked signals and with the signals we ignore
    // or handle here back at their defaults.
    sigset_t empty;
    sigemptyset(&empty);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    SpawnSetup::check(posix_spawnattr_setsigmask(&setup.attributes, &empty));
    SpawnSetup::check(posix_spawnattr_setsigdefault(&setup.attributes, &defaults));
    // A process group of its own, whose id is the child's pid: a wrapper script
    // and the program it starts end together.
    SpawnSetup::check(posix_spawnattr_setpgroup(&setup.attributes, 0));
    SpawnSetup::check(posix_spawnattr_setflags(&setup.attributes,
        POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP));

    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, program.constData(), &setup.actions, &setup.attributes, argv.data(), childEnvironment);
    if (rc != 0)
        throw ForeignError::posix(rc);

    ChildProcess child;
    child.m_pid = pid;
    child.m_stdin = std::exchange(input.write, -1);
    child.m_stdout = std::exchange(output.read, -1);
    child.m_stderr = std::exchange(error.read, -1);
    child.m_outputCap = options.outputCap;
    child.m_errorTailLimit = std::max<qsizetype>(0, options.errorTailLimit);
    child.m_terminateGrace = options.terminateGrace;
    child.m_clock = options.clock ? options.clock : &SystemClock::shared();
    return child;
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
{
    *this = std::move(other);
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept
{
    if (this == &other)
        return *this;
    release();
    m_pid = std::exchange(other.m_pid, -1);
    m_stdin = std::exchange(other.m_stdin, -1);
    m_stdout = std::exchange(other.m_stdout, -1);
    m_stderr = std::exchange(other.m_stderr, -1);
    m_output = std::exchange(other.m_output, QByteArray());
    m_errorTail = std::exchange(other.m_errorTail, QByteArray());
    m_outputCap = other.m_outputCap;
    m_errorTailLimit = other.m_errorTailLimit;
    m_terminateGrace = other.m_terminateGrace;
    m_clock = other.m_clock;
    m_status = std::exchange(other.m_status, std::nullopt);
    m_reaped = std::exchange(other.m_reaped, false);
    return *this;
}

ChildProcess::~ChildProcess()
{
    release();
}

void ChildProcess::release() noexcept
{
    if (m_pid > 0 && !m_reaped)
        terminate(m_terminateGrace);
    closeQuietly(m_stdin);
    closeOutputs();
}

void ChildProcess::closeOutputs() noexcept
{
    closeQuietly(m_stdout);
    closeQuietly(m_stderr);
}

double ChildProcess::uptime() const
{
    return (m_clock ? m_clock : &SystemClock::shared())->uptime();
}

double ChildProcess::deadlineAfter(double seconds) const
{
    return uptime() + seconds;
}

void ChildProcess::writeAll(const QByteArray& bytes)
{
    if (m_stdin < 0)
        throw ForeignError::posix(EBADF);
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(m_stdin, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            throw ForeignError::posix(errno);
        }
        data += written;
        left -= written;
    }
}

void ChildProcess::closeStdin()
{
    if (m_stdin < 0)
        return;
    const int fd = std::exchange(m_stdin, -1);
    // The descriptor is released even when close reports an error; EINTR is not a failure.
    if (::close(fd) != 0 && errno != EINTR)
        throw ForeignError::posix(errno);
}

bool ChildProcess::hasExited()
{
    if (m_status)
        return true;
    if (m_pid <= 0)
        return true;
    // Looked at, not reaped: the zombie keeps the process group's id ours.
    siginfo_t info {};
    int rc;
    do {
        rc = ::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) { // reaped elsewhere (SIGCHLD ignored): the status is lost, never a success
        m_status = ExitStatus {false, -1};
        m_reaped = true;
        return true;
    }
    if (info.si_pid == 0)
        return false;
    m_status = info.si_code == CLD_EXITED ? ExitStatus {false, info.si_status} : ExitStatus {true, info.si_status};
    return true;
}

void ChildProcess::reap() noexcept
{
    if (m_reaped || m_pid <= 0)
        return;
    int raw = 0;
    pid_t result;
    do {
        result = ::waitpid(m_pid, &raw, 0);
    } while (result < 0 && errno == EINTR);
    m_reaped = true;
    if (m_status)
        return;
    if (result < 0)
        m_status = ExitStatus {false, -1};
    else if (WIFSIGNALED(raw))
        m_status = ExitStatus {true, WTERMSIG(raw)};
    else
        m_status = ExitStatus {false, WEXITSTATUS(raw)};
}

void ChildProcess::signalGroup(int signalNumber) noexcept
{
    // The group's id is the child's pid, which stays ours while the child is
    // unreaped, and afterwards while any member of the group is left. No such
    // group: the child has moved to another one, and is signalled alone.
    if (::kill(-m_pid, signalNumber) != 0 && !m_reaped)
        ::kill(m_pid, signalNumber);
}

bool ChildProcess::groupEnded() noexcept
{
    if (!m_reaped) {
        if (!hasExited())
            return false;
        reap();
    }
    return ::kill(-m_pid, 0) != 0 && errno == ESRCH;
}

ExitStatus ChildProcess::terminate(double graceSeconds) noexcept
{
    closeQuietly(m_stdin);
    if (m_pid > 0 && !m_reaped) {
        signalGroup(SIGTERM);
        const double grace = std::isfinite(graceSeconds) ? std::max(0.0, graceSeconds) : 0.0;
        const Clock& real = SystemClock::shared(); // the grace is real time, whatever clock the deadlines use
        const double until = real.uptime() + grace;
        while (!groupEnded() && real.uptime() < until)
            sleepMs(kExitStepMs);
        if (!groupEnded()) {
            signalGroup(SIGKILL);
            reap();
        }
    }
    closeOutputs();
    return m_status.value_or(ExitStatus {});
}

ExitStatus ChildProcess::kill() noexcept
{
    closeQuietly(m_stdin);
    if (m_pid > 0 && !m_reaped) {
        signalGroup(SIGKILL);
        reap();
    }
    closeOutputs();
    return m_status.value_or(ExitStatus {});
}

void ChildProcess::appendError(const char* data, qsizetype size)
{
    if (m_errorTailLimit <= 0)
        return;
    m_errorTail.append(data, size);
    if (m_errorTail.size() > m_errorTailLimit)
        m_errorTail.remove(0, m_errorTail.size() - m_errorTailLimit);
}

ssize_t ChildProcess::readInto(int& fd, bool isOutput)
{
    char chunk[kReadChunk];
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got > 0) {
        if (isOutput)
            m_output.append(chunk, got);
        else
            appendError(chunk, got);
    } else if (got == 0) {
        closeQuietly(fd); // end of file: this pipe leaves the poll set
    }
    return got;
}

namespace {

WaitOutcome outcome(WaitOutcome::Kind kind, int error = 0)
{
    WaitOutcome result;
    result.kind = kind;
    result.error = error;
    return result;
}

} // namespace

WaitOutcome ChildProcess::waitUntil(double deadline, const CancelToken& cancel, const Predicate& ready)
{
    using Kind = WaitOutcome::Kind;
    const auto isReady = [&] { return ready && ready(m_output); };

    // Polls the open pipes once and reads what is ready; an outcome ends the wait.
    // `progress` tells whether anything was read or reached its end.
    const auto pumpOnce = [&](int timeoutMs, bool& progress) -> std::optional<WaitOutcome> {
        progress = false;
        pollfd fds[2];
        int* owners[2];
        bool isOutput[2];
        nfds_t count = 0;
        if (m_stdout >= 0) {
            fds[count] = pollfd {m_stdout, POLLIN, 0};
            owners[count] = &m_stdout;
            isOutput[count++] = true;
        }
        if (m_stderr >= 0) {
            fds[count] = pollfd {m_stderr, POLLIN, 0};
            owners[count] = &m_stderr;
            isOutput[count++] = false;
        }
        const int rc = ::poll(fds, count, timeoutMs);
        if (rc < 0) {
            if (errno != EINTR)
                return outcome(Kind::PollError, errno);
            progress = true; // interrupted: worth another pass
            return std::nullopt;
        }
        bool grew = false;
        for (nfds_t i = 0; i < count; ++i) {
            const short events = fds[i].revents;
            if (events & POLLNVAL)
                return outcome(Kind::PollError, EBADF);
            if (events & (POLLIN | POLLHUP)) {
                const ssize_t got = readInto(*owners[i], isOutput[i]);
                progress = true;
                if (got < 0) {
                    if (errno == EINTR || errno == EAGAIN)
                        continue;
                    return outcome(Kind::ReadError, errno);
                }
                grew = grew || (isOutput[i] && got > 0);
            } else if (events & POLLERR) {
                return outcome(Kind::PollError, EIO);
            }
        }
        if (grew && isReady())
            return outcome(Kind::Ready);
        return std::nullopt;
    };

    // The child has ended: whatever it wrote last is still in the pipes. Read
    // until both are at their end or nothing more is there (a grandchild may
    // hold a pipe open), then report the exit, which wins over the output cap.
    const auto finishExited = [&]() -> WaitOutcome {
        while ((m_stdout >= 0 || m_stderr >= 0) && m_output.size() < m_outputCap) {
            if (cancel.isCancelled())
                return outcome(Kind::Cancelled);
            if (!(uptime() < deadline))
                break;
            bool progress = false;
            if (auto done = pumpOnce(0, progress))
                return *done;
            if (!progress)
                break;
        }
        WaitOutcome result = outcome(Kind::Exited);
        result.exit = m_status.value_or(ExitStatus {false, -1});
        return result;
    };

    if (isReady())
        return outcome(Kind::Ready);
    for (;;) {
        if (cancel.isCancelled())
            return outcome(Kind::Cancelled);
        const double now = uptime();
        if (!(now < deadline))
            return outcome(Kind::DeadlinePassed);
        if (m_stdout < 0 && m_stderr < 0) {
            // Nothing left to read: wait on the child and the clock in short steps.
            if (hasExited())
                return finishExited();
            sleepMs(stepMs(now, deadline, kExitStepMs));
            if (hasExited())
                return finishExited();
            continue;
        }
        bool progress = false;
        if (auto done = pumpOnce(stepMs(now, deadline, kPollStepMs), progress))
            return *done;
        if (hasExited())
            return finishExited();
        if (m_output.size() >= m_outputCap)
            return outcome(Kind::OutputCapReached);
    }
}

std::optional<QByteArray> ChildProcess::takeLine(QByteArray& buffer)
{
    const qsizetype end = buffer.indexOf('\n');
    if (end < 0)
        return std::nullopt;
    QByteArray line = buffer.left(end);
    buffer.remove(0, end + 1);
    return line;
}
