#pragma once

#include <QObject>

#include <functional>

// Runs a callback once on the next turn of the event loop, however many times
// it was requested before then: a burst of changes costs one call.
class CoalescedCall final : public QObject {
    Q_OBJECT
public:
    explicit CoalescedCall(std::function<void()> callback, QObject* parent = nullptr)
        : QObject(parent), m_callback(std::move(callback)) {}

    // Arms the call unless it is already armed.
    void request()
    {
        if (m_armed)
            return;
        m_armed = true;
        QMetaObject::invokeMethod(this, &CoalescedCall::fire, Qt::QueuedConnection);
    }

    bool isArmed() const { return m_armed; }

    // Runs an armed call now (tests, and callers that must be current at once).
    void flush()
    {
        if (m_armed)
            fire();
    }

private:
    void fire()
    {
        if (!m_armed)
            return;
        m_armed = false;
        m_callback();
    }

    std::function<void()> m_callback;
    bool m_armed = false;
};
