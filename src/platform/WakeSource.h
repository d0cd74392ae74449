#pragma once

#include <QDBusConnection>
#include <QObject>

// Announces that the machine has woken from sleep, on the thread that built it.
class WakeSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    void woke();
};

// The wake of a Linux machine: logind's PrepareForSleep(false) on the system
// bus. Hears nothing when the bus cannot be reached; stops listening when it goes.
class LogindWakeSource final : public WakeSource {
    Q_OBJECT
public:
    static inline const QString kService = QStringLiteral("org.freedesktop.login1");
    static inline const QString kPath = QStringLiteral("/org/freedesktop/login1");
    static inline const QString kInterface = QStringLiteral("org.freedesktop.login1.Manager");
    static inline const QString kSignal = QStringLiteral("PrepareForSleep");

    explicit LogindWakeSource(QDBusConnection bus = QDBusConnection::systemBus(), QObject* parent = nullptr);
    ~LogindWakeSource() override;

    bool isListening() const { return m_listening; }

private slots:
    // True before the machine sleeps, false once it has woken.
    void prepareForSleep(bool sleeping);

private:
    QDBusConnection m_bus;
    bool m_listening = false;
};
