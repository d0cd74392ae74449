#pragma once

#include "usage/ProviderClientError.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QThread>
#include <exception>
#include <functional>

// Small helpers for the provider tests: fixture files, JSON edits, error capture.
namespace fixtures {

// Bytes of tests/providers/<relative>, with each "@KEY@" of `substitutions` replaced.
inline QByteArray read(const QString& relative, const QMap<QString, QString>& substitutions = {})
{
    QFile file(QStringLiteral(VANTOREL_TEST_DATA_DIR "/providers/") + relative);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", qPrintable(relative));
    QByteArray bytes = file.readAll();
    for (auto it = substitutions.constBegin(); it != substitutions.constEnd(); ++it)
        bytes.replace(QByteArray("@") + it.key().toUtf8() + "@", it.value().toUtf8());
    return bytes;
}

// Each non-empty line of the JSON-lines file at `path` as an object (a line that is
// no object as an empty one); nothing when the file cannot be read.
inline QList<QJsonObject> jsonLines(const QString& path)
{
    QList<QJsonObject> out;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (!line.isEmpty())
            out.append(QJsonDocument::fromJson(line).object());
    return out;
}

// Looks every 5 ms, for up to 10 s of real time, until `arrived` holds: for what a
// fake program writes as it runs (its real I/O, never a schedule).
inline bool waitForFake(const std::function<bool()>& arrived)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10'000) {
        if (arrived())
            return true;
        QThread::msleep(5);
    }
    return false;
}

inline QJsonObject object(const QByteArray& bytes)
{
    return QJsonDocument::fromJson(bytes).object();
}

inline QByteArray bytes(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

namespace detail {
inline QJsonValue set(const QJsonValue& node, QStringList path, const QJsonValue& value)
{
    const QString key = path.takeFirst();
    bool isIndex = false;
    const int index = key.toInt(&isIndex);
    if (isIndex && node.isArray()) {
        QJsonArray array = node.toArray();
        if (path.isEmpty()) {
            if (value.isUndefined())
                array.removeAt(index);
            else
                array[index] = value;
        } else {
            array[index] = set(array.at(index), path, value);
        }
        return array;
    }
    QJsonObject object = node.toObject();
    if (path.isEmpty()) {
        if (value.isUndefined())
            object.remove(key);
        else
            object.insert(key, value);
    } else {
        object.insert(key, set(object.value(key), path, value));
    }
    return object;
}
} // namespace detail

// `object` with the member at the dotted `path` ("a.b.0.c") set to `value`;
// QJsonValue::Undefined removes it.
inline QJsonObject patched(const QJsonObject& object, const QString& path, const QJsonValue& value)
{
    return detail::set(object, path.split(QLatin1Char('.')), value).toObject();
}

inline const QJsonValue kRemove = QJsonValue(QJsonValue::Undefined);

// The ProviderClientError that `work` throws. When it throws none, or something
// else, the result is a diagnostic coded "NOTHING_THROWN" or "OTHER: <what>", so
// comparing its code fails the test with a readable message.
inline ProviderClientError providerError(const std::function<void()>& work)
{
    try {
        work();
    } catch (const ProviderClientError& e) {
        return e;
    } catch (const std::exception& e) {
        return ProviderClientError::diagnostic(QStringLiteral("OTHER: ") + QString::fromUtf8(e.what()), {}, false);
    }
    return ProviderClientError::diagnostic(QStringLiteral("NOTHING_THROWN"), {}, false);
}

} // namespace fixtures
