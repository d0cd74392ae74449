#pragma once

#include "Timestamp.h"

// Wall time and a monotonic clock in seconds (system uptime).
class Clock {
public:
    virtual ~Clock() = default;
    virtual Timestamp now() const = 0;
    virtual double uptime() const = 0;
};

class SystemClock final : public Clock {
public:
    Timestamp now() const override;
    double uptime() const override;
    static SystemClock& shared();
};
