#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVariant>
#include <memory>
#include <optional>

class QSettings;

// The user defaults: a key-value store of doubles, booleans, strings and data,
// with registered defaults that a stored value overrides.
class Defaults {
public:
    virtual ~Defaults() = default;

    // Stored value, else the registered default, else none.
    std::optional<QVariant> object(const QString& key) const;
    bool contains(const QString& key) const { return object(key).has_value(); }

    double doubleValue(const QString& key) const;   // 0 when absent or not a number
    bool boolValue(const QString& key) const;       // false when absent
    // The value when it is a Boolean; none when absent or of another type. A
    // settings file gives Booleans back as the text "true" or "false".
    std::optional<bool> boolean(const QString& key) const;
    // The value when it is text; none when absent or of another type (data
    // bytes and numbers are not text).
    std::optional<QString> string(const QString& key) const;
    std::optional<QByteArray> data(const QString& key) const;

    void setDouble(const QString& key, double value) { store(key, QVariant(value)); }
    void setBool(const QString& key, bool value) { store(key, QVariant(value)); }
    void setString(const QString& key, const QString& value) { store(key, QVariant(value)); }
    void setData(const QString& key, const QByteArray& value) { store(key, QVariant(value)); }
    virtual void remove(const QString& key) = 0;
    // Keeps the value under `key` (text as UTF-8) under `backupKey` before it is
    // replaced, but never over an earlier backup.
    void backUp(const QString& key, const QString& backupKey);
    // Writes pending changes to disk; false when that failed.
    virtual bool flush() = 0;

    void registerDefaults(const QVariantMap& values);

protected:
    virtual std::optional<QVariant> stored(const QString& key) const = 0;
    virtual void store(const QString& key, const QVariant& value) = 0;

private:
    QVariantMap m_registered;
};

// In-memory defaults for tests. `flush` copies the values into what a
// restarted process would find; `restarted()` builds that process's defaults.
class MemoryDefaults final : public Defaults {
public:
    MemoryDefaults() = default;
    explicit MemoryDefaults(QVariantMap persisted) : m_values(persisted), m_persisted(std::move(persisted)) {}

    void remove(const QString& key) override { m_values.remove(key); }
    bool flush() override;
    int flushCount() const { return m_flushes; }
    const QVariantMap& values() const { return m_values; }
    const QVariantMap& persisted() const { return m_persisted; }
    std::unique_ptr<MemoryDefaults> restarted() const { return std::make_unique<MemoryDefaults>(m_persisted); }

protected:
    std::optional<QVariant> stored(const QString& key) const override;
    void store(const QString& key, const QVariant& value) override { m_values.insert(key, value); }

private:
    QVariantMap m_values;
    QVariantMap m_persisted;
    int m_flushes = 0;
};

// The application's defaults: QSettings in native format.
class SettingsDefaults final : public Defaults {
public:
    explicit SettingsDefaults(std::unique_ptr<QSettings> settings);
    ~SettingsDefaults() override;
    void remove(const QString& key) override;
    bool flush() override;

protected:
    std::optional<QVariant> stored(const QString& key) const override;
    void store(const QString& key, const QVariant& value) override;

private:
    std::unique_ptr<QSettings> m_settings;
};
