#include "Defaults.h"

#include <QSettings>

std::optional<QVariant> Defaults::object(const QString& key) const
{
    if (auto v = stored(key))
        return v;
    auto it = m_registered.constFind(key);
    if (it != m_registered.constEnd())
        return *it;
    return std::nullopt;
}

double Defaults::doubleValue(const QString& key) const
{
    auto v = object(key);
    if (!v)
        return 0;
    bool ok = false;
    const double d = v->toDouble(&ok);
    return ok ? d : 0;
}

bool Defaults::boolValue(const QString& key) const
{
    auto v = object(key);
    if (!v)
        return false;
    if (v->typeId() == QMetaType::QString) {
        const QString s = v->toString().toLower();
        return s == QLatin1String("true") || s == QLatin1String("yes") || s.toDouble() != 0;
    }
    return v->toBool();
}

std::optional<bool> Defaults::boolean(const QString& key) const
{
    auto v = object(key);
    if (!v)
        return std::nullopt;
    if (v->typeId() == QMetaType::Bool)
        return v->toBool();
    if (v->typeId() == QMetaType::QString) {
        const QString s = v->toString();
        if (s == QLatin1String("true"))
            return true;
        if (s == QLatin1String("false"))
            return false;
    }
    return std::nullopt;
}

std::optional<QString> Defaults::string(const QString& key) const
{
    auto v = object(key);
    if (!v || v->typeId() != QMetaType::QString)
        return std::nullopt;
    return v->toString();
}

std::optional<QByteArray> Defaults::data(const QString& key) const
{
    auto v = object(key);
    if (!v || v->typeId() != QMetaType::QByteArray)
        return std::nullopt;
    return v->toByteArray();
}

void Defaults::backUp(const QString& key, const QString& backupKey)
{
    if (contains(backupKey))
        return;
    if (const auto bytes = data(key))
        setData(backupKey, *bytes);
    else if (const auto text = string(key))
        setData(backupKey, text->toUtf8());
}

void Defaults::registerDefaults(const QVariantMap& values)
{
    for (auto it = values.constBegin(); it != values.constEnd(); ++it)
        m_registered.insert(it.key(), it.value());
}

bool MemoryDefaults::flush()
{
    ++m_flushes;
    m_persisted = m_values;
    return true;
}

std::optional<QVariant> MemoryDefaults::stored(const QString& key) const
{
    auto it = m_values.constFind(key);
    if (it == m_values.constEnd())
        return std::nullopt;
    return *it;
}

SettingsDefaults::SettingsDefaults(std::unique_ptr<QSettings> settings) : m_settings(std::move(settings)) {}
SettingsDefaults::~SettingsDefaults() { m_settings->sync(); }

void SettingsDefaults::remove(const QString& key) { m_settings->remove(key); }

bool SettingsDefaults::flush()
{
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

std::optional<QVariant> SettingsDefaults::stored(const QString& key) const
{
    if (!m_settings->contains(key))
        return std::nullopt;
    return m_settings->value(key);
}

void SettingsDefaults::store(const QString& key, const QVariant& value) { m_settings->setValue(key, value); }
