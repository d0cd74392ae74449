#pragma once

#include "platform/Timestamp.h"
#include "usage/ProviderUsage.h"

#include <QByteArray>
#include <QString>
#include <optional>

// The account signed in to a Claude Code folder, as its ".claude.json" records it.
struct ClaudeAccountIdentity {
    QString accountUuid;
    QString organizationUuid;

    bool operator==(const ClaudeAccountIdentity&) const = default;

    // An identity with an empty member stands for no identity.
    bool isUsable() const { return !accountUuid.isEmpty() && !organizationUuid.isEmpty(); }

    // The whole ".claude.json" (below).
    struct Metadata;

    // The identity recorded in the ".claude.json" at `path`; none when the file cannot be
    // read or does not decode. Members may be empty.
    static std::optional<ClaudeAccountIdentity> read(const QString& path);
};

// The whole ".claude.json": an object whose "oauthAccount" object holds the strings
// "accountUuid" and "organizationUuid"; everything else is ignored.
struct ClaudeAccountIdentity::Metadata {
    ClaudeAccountIdentity oauthAccount;
    // Throws json::DecodeError.
    static Metadata decode(const QByteArray& bytes);
};

// Lowercase hex SHA-256 of accountUuid, one NUL byte and organizationUuid: it ties a
// bridge file to one account of one organisation.
QString claudeAccountKey(const ClaudeAccountIdentity& identity);

// The answer to the "get_usage" control request.
class ClaudeUsageParser {
public:
    // Throws json::DecodeError for a payload of another shape, ProviderClientError
    // sessionExpired when it carries no limits, invalidResponse when no window is usable.
    static ProviderUsage parse(const QByteArray& payload, Timestamp now);
};
