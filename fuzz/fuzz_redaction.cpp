// Redaction: a secret planted in any of the forms the patterns name, in the text as
// it is or quoted into a JSON string once or twice, never survives.
#include "FuzzSupport.h"
#include "platform/Text.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

const QStringList kKeys {"access_token", "refresh_token", "id_token", "api_key", "apiKey", "accessToken", "refreshToken"};

QString pick(FuzzedDataProvider& input, const QStringList& choices)
{
    return choices.at(input.ConsumeIntegralInRange<qsizetype>(0, choices.size() - 1));
}

QString run(FuzzedDataProvider& input, const char* alphabet, size_t least, size_t most)
{
    const QString chars = QString::fromLatin1(alphabet);
    const size_t length = input.ConsumeIntegralInRange(least, most);
    QString out;
    for (size_t i = 0; i < length; ++i)
        out += chars.at(input.ConsumeIntegralInRange<qsizetype>(0, chars.size() - 1));
    return out;
}

QString randomCase(FuzzedDataProvider& input, QString s)
{
    for (QChar& c : s)
        if (input.ConsumeBool())
            c = c.isUpper() ? c.toLower() : c.toUpper();
    return s;
}

// `text` as it stands inside a JSON string.
QString quoted(const QString& text)
{
    const QByteArray array = QJsonDocument(QJsonArray {text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(2, array.size() - 4));
}

// Context that itself starts a key or Bearer form could take the planted key away
// before its value is matched: such inputs test the order of the patterns, not the planting.
bool neutral(const QString& context)
{
    const QString lower = context.toLower();
    if (lower.contains(QLatin1String("bearer")))
        return false;
    for (const QString& key : kKeys)
        if (lower.contains(key.toLower()))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const char* const tokenChars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QString secret;
    QString planted;
    switch (input.ConsumeIntegralInRange(0, 4)) {
    case 0:
        secret = run(input, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._~+/=-", 8, 40);
        planted = randomCase(input, QStringLiteral("Bearer")) + run(input, " \t\n", 1, 3) + secret;
        break;
    case 1:
        secret = run(input, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-", 8, 40);
        planted = randomCase(input, pick(input, kKeys)) + run(input, "\"' \t:=", 1, 4) + secret;
        break;
    case 2:
        secret = QStringLiteral("eyJ") + run(input, tokenChars, 8, 40) + run(input, "_.-", 0, 2) + run(input, tokenChars, 0, 20);
        planted = secret;
        break;
    case 3:
        secret = QStringLiteral("sk-") + run(input, tokenChars, 8, 40) + run(input, "_-", 0, 2) + run(input, tokenChars, 0, 20);
        planted = secret;
        break;
    default:
        secret = pick(input, {"ghp_", "gho_", "ghu_", "ghs_", "ghr_", "github_pat_"}) + run(input, tokenChars, 8, 40)
            + run(input, "_", 0, 1) + run(input, tokenChars, 0, 20);
        planted = secret;
        break;
    }
    const QString before = pick(input, {" ", "\"", "'", "(", ":", "=", ",", "\n", "\t", "\r\n"});
    const QString after = pick(input, {" ", "\"", "'", ",", "}", ")", "\n", "\t"});
    const QString prefix = text::lossyUtf8(fuzz::consumeBytes(input, 300));
    const QString suffix = text::lossyUtf8(fuzz::consumeBytes(input, 300));
    const QString tail = secret.right(8);
    if (!neutral(prefix) || !neutral(suffix) || QStringLiteral("[redacted]").contains(tail))
        return 0;

    // The text as it is, and quoted into a JSON string once and twice.
    const auto forms = [](const QString& text) {
        const QString once = quoted(text);
        return QStringList {text, once, quoted(once)};
    };
    // The secret's tail must not be in the context already, as it stands or as quoting
    // writes it ("\u0000" then "CCC..." holds "0CCC..."). The secret ends the planted text.
    for (const QString& text : forms(prefix + before + planted.chopped(secret.size()) + after + suffix))
        if (text.contains(tail))
            return 0;

    for (const QString& text : forms(prefix + before + planted + after + suffix)) {
        const QString out = ProviderClientError::sanitized(text);
        FUZZ_CHECK(!out.contains(tail), QStringLiteral("planted: %1\nin: %2\nout: %3").arg(planted, text, out));
    }
    return 0;
}
