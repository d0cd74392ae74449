#pragma once

#include <QCoreApplication>
#include <QThread>

// Main-thread entry points assert that they run on the thread of the application object.
inline bool isMainThread()
{
    auto* app = QCoreApplication::instance();
    return app == nullptr || QThread::currentThread() == app->thread();
}

#define ASSERT_MAIN_THREAD() Q_ASSERT(isMainThread())
