#pragma once

// Pieces every fake tool program needs: writing, the scenario file, the log records.

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QProcessEnvironment>
#include <QString>

#include <cerrno>
#include <csignal>
#include <optional>
#include <unistd.h>

// Writes every byte, retrying interrupted and partial writes; false on a write error.
inline bool writeFully(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
}

// The JSON object in the scenario file at `path` (empty when it is no JSON
// object); none when the file cannot be read.
inline std::optional<QJsonObject> readScenario(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return QJsonDocument::fromJson(file.readAll()).object();
}

// `object` as one compact line, line feed included.
inline QByteArray jsonLine(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

// The environment the program was started with, for its log.
inline QJsonObject environmentObject()
{
    QJsonObject env;
    const QProcessEnvironment system = QProcessEnvironment::systemEnvironment();
    for (const QString& key : system.keys())
        env.insert(key, system.value(key));
    return env;
}

// `value` with every string that is exactly one of the keys of `placeholders`
// replaced by that key's value, at any depth.
inline QJsonValue withPlaceholders(const QJsonValue& value, const QHash<QString, QJsonValue>& placeholders)
{
    if (value.isString())
        return placeholders.value(value.toString(), value);
    if (value.isArray()) {
        QJsonArray out;
        for (const QJsonValue& v : value.toArray())
            out.append(withPlaceholders(v, placeholders));
        return out;
    }
    if (value.isObject()) {
        QJsonObject out;
        const QJsonObject o = value.toObject();
        for (auto it = o.begin(); it != o.end(); ++it)
            out.insert(it.key(), withPlaceholders(it.value(), placeholders));
        return out;
    }
    return value;
}

// Runs `handler` when `signal` arrives (no SA_RESTART: a blocked read returns EINTR).
inline void catchSignal(int signal, void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
}
