#include "WakeSource.h"

LogindWakeSource::LogindWakeSource(QDBusConnection bus, QObject* parent) : WakeSource(parent), m_bus(std::move(bus))
{
    if (m_bus.isConnected())
        m_listening = m_bus.connect(kService, kPath, kInterface, kSignal, this, SLOT(prepareForSleep(bool)));
}

LogindWakeSource::~LogindWakeSource()
{
    if (m_listening)
        m_bus.disconnect(kService, kPath, kInterface, kSignal, this, SLOT(prepareForSleep(bool)));
}

void LogindWakeSource::prepareForSleep(bool sleeping)
{
    if (!sleeping)
        emit woke();
}
