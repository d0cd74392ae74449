#include "TerminationSignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The write end the handler uses; -1 while no instance is active.
std::atomic<int> g_writeEnd {-1};

extern "C" void onTerminationSignal(int number)
{
    const int saved = errno;
    const int fd = g_writeEnd.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(number);
        // Non-blocking: a full pipe already holds a wake-up, so dropping this one loses nothing.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = saved;
}

} // namespace

TerminationSignals::TerminationSignals(QList<int> signalNumbers, QObject* parent)
    : QObject(parent), m_signals(std::move(signalNumbers))
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    int expected = -1;
    if (!g_writeEnd.compare_exchange_strong(expected, fds[1])) {
        // Another instance owns the handlers.
        ::close(fds[0]);
        ::close(fds[1]);
        return;
    }
    m_readEnd = fds[0];
    m_writeEnd = fds[1];
    m_notifier = new QSocketNotifier(m_readEnd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::drain);

    struct sigaction action {};
    action.sa_handler = &onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    m_previous.resize(m_signals.size());
    for (qsizetype i = 0; i < m_signals.size(); ++i) {
        ::sigaction(m_signals.at(i), nullptr, &m_previous[i]);
        if (m_signals.at(i) == SIGHUP && m_previous[i].sa_handler == SIG_IGN)
            continue;
        ::sigaction(m_signals.at(i), &action, nullptr);
    }
}

TerminationSignals::~TerminationSignals()
{
    if (!m_notifier)
        return;
    for (qsizetype i = 0; i < m_signals.size(); ++i)
        ::sigaction(m_signals.at(i), &m_previous[i], nullptr);
    g_writeEnd.store(-1);
    delete m_notifier;
    ::close(m_readEnd);
    ::close(m_writeEnd);
}

void TerminationSignals::drain()
{
    QList<int> arrived;
    unsigned char buffer[64];
    for (;;) {
        const ssize_t n = ::read(m_readEnd, buffer, sizeof buffer);
        if (n > 0) {
            for (ssize_t i = 0; i < n; ++i)
                arrived.append(buffer[i]);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break; // EAGAIN: empty for now
    }
    for (const int number : arrived)
        emit received(number);
}
