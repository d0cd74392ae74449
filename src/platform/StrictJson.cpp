#include "StrictJson.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <cmath>
#include <limits>

namespace json {

namespace {

QString describe(DecodeError::Kind kind)
{
    switch (kind) {
    case DecodeError::NotJson:
        return QStringLiteral("Не удалось прочитать данные, так как они имеют неверный формат.");
    case DecodeError::Corrupted:
        return QStringLiteral("Не удалось прочитать данные, так как они имеют неверный формат.");
    case DecodeError::Missing:
        return QStringLiteral("Не удалось прочитать данные, так как они отсутствуют.");
    }
    return {};
}

// A value of the wrong type is corrupt data (4864), as the platform decoder reports it.
[[noreturn]] void mistyped(const QString& path, const char* expected)
{
    throw DecodeError(DecodeError::Corrupted, QStringLiteral("%1: expected %2").arg(path.isEmpty() ? QStringLiteral("value") : path, QLatin1String(expected)));
}

} // namespace

DecodeError::DecodeError(Kind kind, const QString& detail)
    : ForeignError(kCocoaDomain, kind, describe(kind))
    , m_kind(kind)
    , m_detail(detail)
{
}

EncodeError::EncodeError(const QString& detail)
    : ForeignError(kCocoaDomain, 4866, QStringLiteral("Не удалось записать данные, так как они имеют неверный формат."))
    , m_detail(detail)
{
}

QJsonValue parse(const QByteArray& bytes)
{
    // QJsonDocument only takes objects and arrays at the top; wrap scalars.
    QJsonParseError error {};
    const QByteArray wrapped = QByteArrayLiteral("[") + bytes + QByteArrayLiteral("]");
    const QJsonDocument doc = QJsonDocument::fromJson(wrapped, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray() || doc.array().size() != 1)
        throw DecodeError(DecodeError::NotJson, error.errorString());
    return doc.array().at(0);
}

QJsonObject parseObject(const QByteArray& bytes)
{
    return toObject(parse(bytes));
}

QByteArray serialize(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray serialize(const QJsonArray& array)
{
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

QJsonValue number(double value)
{
    if (!std::isfinite(value))
        throw EncodeError(QStringLiteral("non-finite number"));
    return QJsonValue(value);
}

qint64 toInteger(const QJsonValue& value, const QString& path)
{
    if (!value.isDouble())
        mistyped(path, "integer");
    constexpr qint64 a = std::numeric_limits<qint64>::min();
    constexpr qint64 b = std::numeric_limits<qint64>::max();
    const qint64 i = value.toInteger(a);
    if (i == a && value.toInteger(b) == b)
        throw DecodeError(DecodeError::Corrupted, path + QStringLiteral(": not an integer"));
    return i;
}

double toDouble(const QJsonValue& value, const QString& path)
{
    if (!value.isDouble())
        mistyped(path, "number");
    return value.toDouble();
}

bool toBool(const QJsonValue& value, const QString& path)
{
    if (!value.isBool())
        mistyped(path, "bool");
    return value.toBool();
}

QString toString(const QJsonValue& value, const QString& path)
{
    if (!value.isString())
        mistyped(path, "string");
    return value.toString();
}

QJsonObject toObject(const QJsonValue& value, const QString& path)
{
    if (!value.isObject())
        mistyped(path, "object");
    return value.toObject();
}

QJsonArray toArray(const QJsonValue& value, const QString& path)
{
    if (!value.isArray())
        mistyped(path, "array");
    return value.toArray();
}

Reader::Reader(QJsonObject object, QString path) : m_object(std::move(object)), m_path(std::move(path)) {}

Reader Reader::fromValue(const QJsonValue& value, const QString& path)
{
    return Reader(toObject(value, path), path);
}

bool Reader::hasValue(const QString& key) const
{
    auto it = m_object.constFind(key);
    return it != m_object.constEnd() && !it->isNull() && !it->isUndefined();
}

QString Reader::child(const QString& key) const
{
    return m_path.isEmpty() ? key : m_path + QLatin1Char('.') + key;
}

QJsonValue Reader::required(const QString& key) const
{
    auto it = m_object.constFind(key);
    if (it == m_object.constEnd())
        throw DecodeError(DecodeError::Missing, child(key) + QStringLiteral(": missing"));
    if (it->isNull())
        throw DecodeError(DecodeError::Missing, child(key) + QStringLiteral(": null"));
    return *it;
}

std::optional<QJsonValue> Reader::optional(const QString& key) const
{
    if (!hasValue(key))
        return std::nullopt;
    return m_object.value(key);
}

QString Reader::string(const QString& key) const { return toString(required(key), child(key)); }
qint64 Reader::integer(const QString& key) const { return toInteger(required(key), child(key)); }
double Reader::number(const QString& key) const { return toDouble(required(key), child(key)); }
bool Reader::boolean(const QString& key) const { return toBool(required(key), child(key)); }
Reader Reader::object(const QString& key) const { return Reader(toObject(required(key), child(key)), child(key)); }
QJsonArray Reader::array(const QString& key) const { return toArray(required(key), child(key)); }

std::optional<QString> Reader::optString(const QString& key) const
{
    auto v = optional(key);
    return v ? std::optional(toString(*v, child(key))) : std::nullopt;
}

std::optional<qint64> Reader::optInteger(const QString& key) const
{
    auto v = optional(key);
    return v ? std::optional(toInteger(*v, child(key))) : std::nullopt;
}

std::optional<double> Reader::optNumber(const QString& key) const
{
    auto v = optional(key);
    return v ? std::optional(toDouble(*v, child(key))) : std::nullopt;
}

std::optional<bool> Reader::optBoolean(const QString& key) const
{
    auto v = optional(key);
    return v ? std::optional(toBool(*v, child(key))) : std::nullopt;
}

std::optional<Reader> Reader::optObject(const QString& key) const
{
    auto v = optional(key);
    return v ? std::optional(Reader(toObject(*v, child(key)), child(key))) : std::nullopt;
}

std::optional<QJsonArray> Reader::optArray(const QString& key) const
{
    auto v = optional(key);
    return v ? std::optional(toArray(*v, child(key))) : std::nullopt;
}

} // namespace json
