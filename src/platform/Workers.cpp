#include "Workers.h"

QThreadPool& Workers::pool()
{
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool();
        p->setMaxThreadCount(16);
        p->setExpiryTimeout(30000);
        return p;
    }();
    return *pool;
}

void Workers::waitForDone()
{
    pool().waitForDone();
}
