#pragma once

#include "ForeignError.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

// Strict JSON decoding shared by every reply and stored model:
// - a required member absent or of the wrong type fails the whole value;
// - an optional member absent or null is none, of the wrong type fails;
// - integers accept integral numbers only (12 and 12.0, not 12.5);
// - unknown members are ignored.
// Failures throw json::DecodeError, a ForeignError of the Cocoa domain
// (3840 not JSON, 4864 corrupted, 4865 missing or mistyped).
namespace json {

class DecodeError : public ForeignError {
public:
    enum Kind { NotJson = 3840, Corrupted = 4864, Missing = 4865 };
    DecodeError(Kind kind, const QString& detail);
    Kind kind() const { return m_kind; }
    const QString& detail() const { return m_detail; }

private:
    Kind m_kind;
    QString m_detail;
};

// Thrown when a value cannot be encoded (a NaN or infinite number).
class EncodeError : public ForeignError {
public:
    explicit EncodeError(const QString& detail);
    const QString& detail() const { return m_detail; }

private:
    QString m_detail;
};

QJsonValue parse(const QByteArray& bytes);           // any JSON value; DecodeError(NotJson)
QJsonObject parseObject(const QByteArray& bytes);    // must be an object
QByteArray serialize(const QJsonObject& object);     // compact, keys sorted
QByteArray serialize(const QJsonArray& array);

// A finite double as a JSON number; EncodeError otherwise.
QJsonValue number(double value);

// Every element of `array` decoded by `decode(value, path)`, where the path of
// element i is "<path>[i]"; fails as a whole on the first failure.
template <class Container, class Decode>
Container decodeElements(const QJsonArray& array, const QString& path, const Decode& decode)
{
    Container out;
    out.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i)
        out.push_back(decode(array.at(i), path + QLatin1Char('[') + QString::number(i) + QLatin1Char(']')));
    return out;
}

// Typed views of one value; `path` names it in error details.
qint64 toInteger(const QJsonValue& value, const QString& path = {});
double toDouble(const QJsonValue& value, const QString& path = {});
bool toBool(const QJsonValue& value, const QString& path = {});
QString toString(const QJsonValue& value, const QString& path = {});
QJsonObject toObject(const QJsonValue& value, const QString& path = {});
QJsonArray toArray(const QJsonValue& value, const QString& path = {});

// Reads the members of one object.
class Reader {
public:
    explicit Reader(QJsonObject object, QString path = {});
    static Reader fromValue(const QJsonValue& value, const QString& path = {});

    const QJsonObject& object() const { return m_object; }
    bool has(const QString& key) const { return m_object.contains(key); }
    // Present and not null.
    bool hasValue(const QString& key) const;

    QString string(const QString& key) const;
    std::optional<QString> optString(const QString& key) const;
    qint64 integer(const QString& key) const;
    std::optional<qint64> optInteger(const QString& key) const;
    double number(const QString& key) const;
    std::optional<double> optNumber(const QString& key) const;
    bool boolean(const QString& key) const;
    std::optional<bool> optBoolean(const QString& key) const;
    Reader object(const QString& key) const;
    std::optional<Reader> optObject(const QString& key) const;
    QJsonArray array(const QString& key) const;
    std::optional<QJsonArray> optArray(const QString& key) const;

    // Decodes every element with `decode`, failing as a whole on the first failure.
    template <class T>
    std::vector<T> arrayOf(const QString& key, const std::function<T(const QJsonValue&, const QString& path)>& decode) const
    {
        return decodeArray<T>(array(key), decode, child(key));
    }
    template <class T>
    std::optional<std::vector<T>> optArrayOf(const QString& key, const std::function<T(const QJsonValue&, const QString& path)>& decode) const
    {
        auto a = optArray(key);
        if (!a)
            return std::nullopt;
        return decodeArray<T>(*a, decode, child(key));
    }
    template <class T>
    static std::vector<T> decodeArray(const QJsonArray& array, const std::function<T(const QJsonValue&, const QString& path)>& decode, const QString& path)
    {
        return decodeElements<std::vector<T>>(array, path, decode);
    }

    QString child(const QString& key) const;
    const QString& path() const { return m_path; }

private:
    QJsonValue required(const QString& key) const;
    std::optional<QJsonValue> optional(const QString& key) const;
    QJsonObject m_object;
    QString m_path;
};

// Builds an object, leaving absent optionals out.
class Writer {
public:
    Writer& set(const QString& key, const QJsonValue& value) { m_object.insert(key, value); return *this; }
    Writer& setNumber(const QString& key, double value) { return set(key, number(value)); }
    template <class T>
    Writer& setOpt(const QString& key, const std::optional<T>& value)
    {
        if (value)
            set(key, toJson(*value));
        return *this;
    }
    QJsonObject object() const { return m_object; }

private:
    static QJsonValue toJson(const QString& v) { return v; }
    static QJsonValue toJson(bool v) { return v; }
    static QJsonValue toJson(qint64 v) { return v; }
    static QJsonValue toJson(int v) { return v; }
    static QJsonValue toJson(double v) { return number(v); }
    static QJsonValue toJson(const QJsonValue& v) { return v; }
    static QJsonValue toJson(const QJsonObject& v) { return v; }
    static QJsonValue toJson(const QJsonArray& v) { return v; }
    QJsonObject m_object;
};

} // namespace json
