#pragma once

#include <QDBusVariant>
#include <QObject>

// The desktop's preferred colour scheme, read from the freedesktop settings
// portal ("org.freedesktop.appearance" / "color-scheme") and followed while
// the portal announces changes. Unknown when no portal answers.
class DesktopColorScheme final : public QObject {
    Q_OBJECT
public:
    enum class Scheme { Unknown, Light, Dark };

    explicit DesktopColorScheme(QObject* parent = nullptr);

    Scheme scheme() const { return m_scheme; }

    // The portal's value: 1 prefers dark, 2 prefers light, anything else is no preference.
    static Scheme fromPortalValue(uint value);

signals:
    void schemeChanged();

private slots:
    void onSettingChanged(const QString& group, const QString& key, const QDBusVariant& value);

private:
    void setScheme(Scheme scheme);
    Scheme m_scheme = Scheme::Unknown;
};
