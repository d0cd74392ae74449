#include "usage/UsageProvider.h"

#include "usage/ModelCoding.h"

QString rawValue(UsageProvider provider)
{
    switch (provider) {
    case UsageProvider::codex: return QStringLiteral("codex");
    case UsageProvider::claude: return QStringLiteral("claude");
    case UsageProvider::copilot: return QStringLiteral("copilot");
    case UsageProvider::antigravity: return QStringLiteral("antigravity");
    }
    return {};
}

std::optional<UsageProvider> usageProviderFromRawValue(const QString& raw)
{
    return caseWithRawValue(kAllUsageProviders, raw);
}

QString displayName(UsageProvider provider)
{
    switch (provider) {
    case UsageProvider::codex: return QStringLiteral("Codex");
    case UsageProvider::claude: return QStringLiteral("Claude Code");
    case UsageProvider::copilot: return QStringLiteral("Copilot");
    case UsageProvider::antigravity: return QStringLiteral("Antigravity");
    }
    return {};
}

bool usesStatusLine(UsageProvider provider)
{
    return provider == UsageProvider::claude || provider == UsageProvider::antigravity;
}

UsageProvider usageProviderFromJson(const QJsonValue& value, const QString& path)
{
    return caseFromJson(kAllUsageProviders, value, path, "provider");
}

QString rawValue(AccountScope scope)
{
    return scope == AccountScope::personal ? QStringLiteral("personal") : QStringLiteral("work");
}

std::optional<AccountScope> accountScopeFromRawValue(const QString& raw)
{
    return caseWithRawValue(kAllAccountScopes, raw);
}

namespace {

// First letter of every word in title case, the rest lower case; a word starts
// after anything that is not a letter, digit or apostrophe.
QString capitalized(const QString& piece)
{
    QString out;
    out.reserve(piece.size());
    bool inWord = false;
    const auto codePoints = piece.toUcs4();
    for (char32_t c : codePoints) {
        const bool wordChar = QChar::isLetterOrNumber(c) || c == U'\'' || c == U'\u2019';
        QString ch = QString::fromUcs4(&c, 1);
        if (!wordChar) {
            out += ch;
            inWord = false;
        } else if (!inWord) {
            out += QString::fromUcs4(std::array<char32_t, 1> {QChar::toTitleCase(c)}.data(), 1);
            inWord = true;
        } else {
            out += ch.toLower();
        }
    }
    return out;
}

} // namespace

QString humanizedIdentifier(const QString& identifier)
{
    QStringList words;
    for (const QString& piece : identifier.split(QLatin1Char('_'), Qt::SkipEmptyParts))
        words.append(capitalized(piece));
    return words.join(QLatin1Char(' '));
}
