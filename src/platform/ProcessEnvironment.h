#pragma once

#include <QMap>
#include <QProcessEnvironment>
#include <QString>

// An environment: variable name to value.
using ProcessEnvironment = QMap<QString, QString>;

// The environment of this process.
inline ProcessEnvironment systemEnvironment()
{
    ProcessEnvironment out;
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& key : env.keys())
        out.insert(key, env.value(key));
    return out;
}
