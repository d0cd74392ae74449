// The strict JSON reader: agrees with Qt's document reader, writes what it reads back
// unchanged, and its typed views either give a value of their type or a decode error.
#include "FuzzSupport.h"

#include <QJsonDocument>
#include <cmath>

namespace {

void checkTypedViews(const QJsonValue& value)
{
    fuzz::expectingErrors([&] {
        const qint64 i = json::toInteger(value);
        FUZZ_CHECK(value.isDouble() && static_cast<double>(i) == value.toDouble(), QString::number(value.toDouble()));
    });
    fuzz::expectingErrors([&] { json::toDouble(value); FUZZ_CHECK(value.isDouble(), QString()); });
    fuzz::expectingErrors([&] { json::toBool(value); FUZZ_CHECK(value.isBool(), QString()); });
    fuzz::expectingErrors([&] { json::toString(value); FUZZ_CHECK(value.isString(), QString()); });
    fuzz::expectingErrors([&] { json::toArray(value); FUZZ_CHECK(value.isArray(), QString()); });
    fuzz::expectingErrors([&] {
        const json::Reader r = json::Reader::fromValue(value, QStringLiteral("top"));
        FUZZ_CHECK(value.isObject(), QString());
        for (const QString& key : r.object().keys()) {
            fuzz::expectingErrors([&] { r.optString(key); });
            fuzz::expectingErrors([&] { r.optInteger(key); });
            fuzz::expectingErrors([&] { r.optNumber(key); });
            fuzz::expectingErrors([&] { r.optBoolean(key); });
            fuzz::expectingErrors([&] { r.optObject(key); });
            fuzz::expectingErrors([&] { r.optArray(key); });
            const bool required = fuzz::expectingErrors([&] { r.string(key); });
            FUZZ_CHECK(!required || r.object().value(key).isString(), key);
            checkTypedViews(r.object().value(key));
        }
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = fuzz::bytes(data, size);
    std::optional<QJsonValue> value;
    fuzz::expectingErrors([&] { value = json::parse(bytes); });

    // Objects and arrays: exactly what Qt's document reader takes.
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error == QJsonParseError::NoError) {
        FUZZ_CHECK(value.has_value(), QString::fromUtf8(bytes));
        FUZZ_CHECK(document.isObject() ? *value == QJsonValue(document.object()) : *value == QJsonValue(document.array()),
                   QString::fromUtf8(bytes));
    } else if (value) {
        FUZZ_CHECK(!value->isObject() && !value->isArray(), QString::fromUtf8(bytes));
    }
    if (!value)
        return 0;

    // What is written reads back as the same value.
    if (value->isObject() || value->isArray()) {
        const QByteArray written = value->isObject() ? json::serialize(value->toObject()) : json::serialize(value->toArray());
        std::optional<QJsonValue> back;
        fuzz::expectingErrors([&] { back = json::parse(written); });
        FUZZ_CHECK(back && *back == *value, QString::fromUtf8(written));
    }
    checkTypedViews(*value);
    return 0;
}
