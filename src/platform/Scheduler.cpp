#include "Scheduler.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <cmath>
#include <limits>

namespace {
// Longest single timer interval; longer delays re-arm in chunks.
constexpr double kMaxChunkSeconds = 86400.0;

double clampDelay(double seconds)
{
    if (std::isnan(seconds) || seconds < 0)
        return 0;
    return seconds;
}

// The interval of one timer run for `seconds` still to wait: 0 ms when the
// time has come (the timer still fires on a later turn), at most one chunk.
int timerMillis(double seconds)
{
    if (!(seconds > 0))
        return 0;
    return static_cast<int>(std::ceil(std::min(seconds, kMaxChunkSeconds) * 1000.0));
}
} // namespace

struct QtScheduler::Pending {
    double due = 0; // monotonic seconds; +inf never
    Task task;
    QTimer* timer = nullptr;
};

QtScheduler::QtScheduler(const Clock& clock, QObject* parent) : QObject(parent), m_clock(clock) {}

QtScheduler::~QtScheduler()
{
    for (Pending* p : std::as_const(m_pending)) {
        delete p->timer;
        delete p;
    }
}

void QtScheduler::post(Task task)
{
    QMetaObject::invokeMethod(this, [task = std::move(task)] { task(); }, Qt::QueuedConnection);
}

Scheduler::TaskId QtScheduler::schedule(double delaySeconds, Task task)
{
    const TaskId id = m_nextId++;
    auto* p = new Pending;
    const double delay = clampDelay(delaySeconds);
    p->due = std::isinf(delay) ? std::numeric_limits<double>::infinity() : m_clock.uptime() + delay;
    p->task = std::move(task);
    p->timer = new QTimer(this);
    p->timer->setSingleShot(true);
    p->timer->setTimerType(Qt::PreciseTimer);
    m_pending.insert(id, p);
    connect(p->timer, &QTimer::timeout, this, [this, id] { fire(id); });
    if (!std::isinf(p->due))
        p->timer->start(timerMillis(delay));
    return id;
}

void QtScheduler::fire(TaskId id)
{
    Pending* p = m_pending.value(id);
    if (!p)
        return; // cancelled while its timeout was on the way
    const double remaining = p->due - m_clock.uptime();
    if (remaining > 0) {
        p->timer->start(timerMillis(remaining));
        return;
    }
    Task task = std::move(p->task);
    m_pending.remove(id);
    p->timer->deleteLater();
    delete p;
    task();
}

void QtScheduler::cancel(TaskId id)
{
    Pending* p = m_pending.take(id);
    if (!p)
        return;
    p->timer->stop();
    p->timer->deleteLater();
    delete p;
}

VirtualScheduler::VirtualScheduler(Timestamp start, double uptime) : m_start(start), m_uptimeStart(uptime) {}

void VirtualScheduler::post(Task task)
{
    QMutexLocker lock(&m_mutex);
    m_postedTasks.push_back(std::move(task));
    m_posted.wakeAll();
}

Scheduler::TaskId VirtualScheduler::schedule(double delaySeconds, Task task)
{
    const TaskId id = m_nextId++;
    const double due = m_elapsed + clampDelay(delaySeconds);
    m_timed.emplace(std::make_pair(due, id), std::move(task));
    m_dueOf.insert(id, due);
    return id;
}

void VirtualScheduler::cancel(TaskId id)
{
    auto it = m_dueOf.find(id);
    if (it == m_dueOf.end())
        return;
    m_timed.erase(std::make_pair(*it, id));
    m_dueOf.erase(it);
}

Timestamp VirtualScheduler::now() const
{
    QMutexLocker lock(&m_mutex);
    return m_start.adding(m_elapsed + m_wallOffset);
}

double VirtualScheduler::uptime() const
{
    QMutexLocker lock(&m_mutex);
    return m_uptimeStart + m_elapsed;
}

void VirtualScheduler::setWallTime(Timestamp t)
{
    QMutexLocker lock(&m_mutex);
    m_wallOffset = t.secondsSince(m_start) - m_elapsed;
}

int VirtualScheduler::drainPosted()
{
    int ran = 0;
    for (;;) {
        std::vector<Task> batch;
        {
            QMutexLocker lock(&m_mutex);
            batch.swap(m_postedTasks);
        }
        if (batch.empty())
            return ran;
        for (Task& t : batch) {
            t();
            ++ran;
        }
    }
}

int VirtualScheduler::advance(double seconds)
{
    int ran = drainPosted();
    const double target = m_elapsed + clampDelay(seconds);
    while (!m_timed.empty() && m_timed.begin()->first.first <= target) {
        auto it = m_timed.begin();
        {
            QMutexLocker lock(&m_mutex);
            m_elapsed = std::max(m_elapsed, it->first.first);
        }
        Task task = std::move(it->second);
        m_dueOf.remove(it->first.second);
        m_timed.erase(it);
        task();
        ++ran;
        ran += drainPosted();
    }
    {
        QMutexLocker lock(&m_mutex);
        if (!std::isinf(target))
            m_elapsed = target;
    }
    return ran;
}

bool VirtualScheduler::runNext()
{
    drainPosted();
    if (m_timed.empty())
        return false;
    const double delay = m_timed.begin()->first.first - m_elapsed;
    if (std::isinf(delay))
        return false;
    advance(delay);
    return true;
}

bool VirtualScheduler::waitForPosted(int realMillis)
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_postedTasks.empty())
            m_posted.wait(&m_mutex, QDeadlineTimer(realMillis));
        if (m_postedTasks.empty())
            return false;
    }
    drainPosted();
    return true;
}

bool VirtualScheduler::waitUntil(const std::function<bool()>& done, int realMillis)
{
    QDeadlineTimer deadline(realMillis);
    drainPosted();
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        waitForPosted(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
    }
    return true;
}

double VirtualScheduler::nextDelay() const
{
    if (m_timed.empty())
        return -1;
    return m_timed.begin()->first.first - m_elapsed;
}
