#include "Clock.h"

#include <ctime>

Timestamp SystemClock::now() const
{
    timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    return Timestamp::fromSince1970(static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9);
}

double SystemClock::uptime() const
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

SystemClock& SystemClock::shared()
{
    static SystemClock clock;
    return clock;
}
