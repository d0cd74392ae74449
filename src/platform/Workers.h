#pragma once

#include "Result.h"
#include "Scheduler.h"

#include <QThreadPool>
#include <memory>

// The dedicated pool that runs blocking client work (child processes, file reads).
class Workers {
public:
    static QThreadPool& pool();
    // Cancels nothing by itself; waits for running work (quit cancels tokens first).
    static void waitForDone();
};

// Runs `work` on the worker pool and hands its result to `done` on the main
// thread through `scheduler.post`, never synchronously.
template <class T, class F>
void runOnWorker(Scheduler& scheduler, F work, Completion<T> done)
{
    Scheduler* target = &scheduler;
    Workers::pool().start([target, work = std::move(work), done = std::move(done)]() mutable {
        auto result = std::make_shared<Result<T>>(Result<T>::capture(work));
        target->post([done = std::move(done), result]() mutable { done(std::move(*result)); });
    });
}
