#pragma once

#include <QList>
#include <QObject>

#include <csignal>
#include <vector>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the thread that built
// it: the handler only writes the signal's number into a pipe, and a socket
// notifier reads it back, so quitting runs the ordinary teardown. A hang-up
// that is ignored already (nohup) stays ignored. One instance at a time; it
// puts the earlier dispositions back when it goes. A receiver must not delete
// it while being told.
class TerminationSignals final : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QList<int> signalNumbers = {SIGTERM, SIGINT, SIGHUP}, QObject* parent = nullptr);
    ~TerminationSignals() override;

    // Whether the pipe and the handlers are in place.
    bool isActive() const { return m_notifier != nullptr; }

signals:
    // Once per signal delivered; several in a row may arrive together.
    void received(int signalNumber);

private:
    void drain();

    QList<int> m_signals;
    std::vector<struct sigaction> m_previous;
    int m_readEnd = -1;
    int m_writeEnd = -1;
    QSocketNotifier* m_notifier = nullptr;
};
