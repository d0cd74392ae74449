#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <optional>

// Rate-limit reset credits of a Codex account, as reported with its usage.
struct CodexResetCredits {
    struct Credit {
        QString id;
        QString resetType;
        QString status;
        qint64 grantedAt = 0;              // Unix seconds
        std::optional<qint64> expiresAt;   // Unix seconds
        std::optional<QString> title;
        std::optional<QString> description;

        bool operator==(const Credit&) const = default;
        QJsonObject toJson() const;
        static Credit fromJson(const QJsonValue& value, const QString& path = {});
    };

    qint64 availableCount = 0;
    std::optional<QList<Credit>> credits;

    bool operator==(const CodexResetCredits&) const = default;
    // Keys are the field names; absent optionals are left out.
    QJsonObject toJson() const;
    // Strict; throws json::DecodeError.
    static CodexResetCredits fromJson(const QJsonValue& value, const QString& path = {});
};
