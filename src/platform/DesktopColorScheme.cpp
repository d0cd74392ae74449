#include "DesktopColorScheme.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>

namespace {
const char* const kService = "org.freedesktop.portal.Desktop";
const char* const kPath = "/org/freedesktop/portal/desktop";
const char* const kInterface = "org.freedesktop.portal.Settings";
const char* const kGroup = "org.freedesktop.appearance";
const char* const kKey = "color-scheme";

// The portal wraps the value in one or two variants depending on its version.
uint unwrap(QVariant value)
{
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    bool ok = false;
    const uint result = value.toUInt(&ok);
    return ok ? result : 0;
}
} // namespace

DesktopColorScheme::DesktopColorScheme(QObject* parent)
    : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    bus.connect(QString::fromLatin1(kService), QString::fromLatin1(kPath), QString::fromLatin1(kInterface),
                QStringLiteral("SettingChanged"), this,
                SLOT(onSettingChanged(QString, QString, QDBusVariant)));
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                                       QString::fromLatin1(kInterface), QStringLiteral("Read"));
    call << QString::fromLatin1(kGroup) << QString::fromLatin1(kKey);
    const QDBusMessage reply = bus.call(call, QDBus::Block, 500);
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
        m_scheme = fromPortalValue(unwrap(reply.arguments().constFirst()));
}

DesktopColorScheme::Scheme DesktopColorScheme::fromPortalValue(uint value)
{
    switch (value) {
    case 1: return Scheme::Dark;
    case 2: return Scheme::Light;
    default: return Scheme::Unknown;
    }
}

void DesktopColorScheme::onSettingChanged(const QString& group, const QString& key, const QDBusVariant& value)
{
    if (group == QLatin1String(kGroup) && key == QLatin1String(kKey))
        setScheme(fromPortalValue(unwrap(value.variant())));
}

void DesktopColorScheme::setScheme(Scheme scheme)
{
    if (scheme == m_scheme)
        return;
    m_scheme = scheme;
    emit schemeChanged();
}
