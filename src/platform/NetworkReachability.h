#pragma once

#include <QObject>

// Reachability of the network as the system reports it. Every instance
// follows the one QNetworkInformation object of the process (loaded on first
// use, on the main thread). A disconnected network counts as unreachable;
// every other state, unknown included, counts as reachable, and so does a
// system where no reachability backend loads.
class NetworkReachability final : public QObject {
    Q_OBJECT
public:
    explicit NetworkReachability(QObject* parent = nullptr);

    bool isReachable() const;

signals:
    // Emitted on every reachability update of the backend (repeats included).
    void reachabilityChanged(bool reachable);
};
