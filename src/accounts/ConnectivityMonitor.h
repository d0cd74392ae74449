#pragma once

#include <functional>
#include <memory>

// Tells a store whether the network is reachable. `start` reports the current
// state at once (on the main thread) and then every update until `cancel`.
class ConnectivityMonitor {
public:
    using Handler = std::function<void(bool reachable)>;

    virtual ~ConnectivityMonitor() = default;
    virtual void start(Handler onUpdate) = 0;
    virtual void cancel() = 0;
};

// Builds one monitor per store start.
using ConnectivityMonitorFactory = std::function<std::unique_ptr<ConnectivityMonitor>()>;

// The monitor of the running system (the platform's network reachability).
std::unique_ptr<ConnectivityMonitor> makeSystemConnectivityMonitor();
