#pragma once

#include "Clock.h"

#include <QObject>
#include <QHash>
#include <QMutex>
#include <QWaitCondition>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

// Runs work on the main thread: at the next turn of the loop (`post`, callable
// from any thread) or after a delay on the monotonic clock (`schedule`, main
// thread only). Every implementation keeps the same contract:
// - A task never runs inside `schedule()`, so its id is known before it runs.
//   A zero, negative or NaN delay runs on a later turn of the loop; +inf never
//   runs; any finite delay works, however large.
// - Tasks run in the order they are due; tasks due at the same time run in
//   the order they were scheduled.
// - A task cancelled before it runs never runs, also when the cancel comes
//   from another task running at the same time.
class Scheduler {
public:
    using TaskId = std::uint64_t;
    using Task = std::function<void()>;

    virtual ~Scheduler() = default;
    virtual void post(Task task) = 0;
    virtual TaskId schedule(double delaySeconds, Task task) = 0;
    // Cancelling an unknown, finished or already cancelled id does nothing.
    virtual void cancel(TaskId id) = 0;
    virtual const Clock& clock() const = 0;
};

// QTimer-backed scheduler of the application. Long delays are split into
// chunks of at most a day, so no timer interval overflows.
class QtScheduler final : public QObject, public Scheduler {
    Q_OBJECT
public:
    explicit QtScheduler(const Clock& clock = SystemClock::shared(), QObject* parent = nullptr);
    ~QtScheduler() override;

    void post(Task task) override;
    TaskId schedule(double delaySeconds, Task task) override;
    void cancel(TaskId id) override;
    const Clock& clock() const override { return m_clock; }

private:
    struct Pending;
    // Runs the task once it is due, else waits on for what is left.
    void fire(TaskId id);

    const Clock& m_clock;
    TaskId m_nextId = 1;
    QHash<TaskId, Pending*> m_pending;
};

// Virtual time for tests: nothing runs until the test advances the clock or
// drains posted work. `post` is thread-safe so worker threads can hand results back.
class VirtualScheduler final : public Scheduler, public Clock {
public:
    explicit VirtualScheduler(Timestamp start = Timestamp::fromSince1970(1'800'000'000.0), double uptime = 1000.0);

    void post(Task task) override;
    TaskId schedule(double delaySeconds, Task task) override;
    void cancel(TaskId id) override;
    const Clock& clock() const override { return *this; }

    Timestamp now() const override;
    double uptime() const override;
    // Moves the wall clock alone (a clock change), not the monotonic one.
    void setWallTime(Timestamp t);

    // Runs posted work until none is left (work posted meanwhile runs too).
    // Returns how many tasks ran.
    int drainPosted();
    // Advances virtual time by `seconds`, running posted work and every task
    // due on the way, in time order. Returns how many tasks ran.
    int advance(double seconds);
    // Advances to the next scheduled task and runs it (plus posted work).
    // Returns false when nothing is scheduled.
    bool runNext();
    // Blocks up to `realMillis` of real time until a worker posts something,
    // then drains. For tests whose work runs on real threads and processes.
    bool waitForPosted(int realMillis);
    // Repeats waitForPosted until `done()` or the real time limit passes.
    bool waitUntil(const std::function<bool()>& done, int realMillis = 30000);

    std::size_t scheduledCount() const { return m_timed.size(); }
    // Delay of the next scheduled task from now, or -1 when none.
    double nextDelay() const;

private:
    struct Timed { double due; TaskId id; };
    double m_elapsed = 0;
    Timestamp m_start;
    double m_wallOffset = 0;
    double m_uptimeStart;
    TaskId m_nextId = 1;
    std::map<std::pair<double, TaskId>, Task> m_timed;
    QHash<TaskId, double> m_dueOf;
    mutable QMutex m_mutex;
    QWaitCondition m_posted;
    std::vector<Task> m_postedTasks;
};
