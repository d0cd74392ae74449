// The Codex app-server's standard output and error: line cutting, error classification,
// the rate-limit and spend replies, and the error texts made from standard error.
#include "FuzzSupport.h"
#include "platform/ChildProcess.h"
#include "platform/Text.h"
#include "providers/codex/CodexUsageClient.h"

#include <QJsonDocument>

namespace {

const Timestamp kNow = Timestamp::fromSince1970(1'800'000'000.0);

// What is saved and restored of a usage comes back unchanged.
void checkStoredForm(const ProviderUsage& usage)
{
    const QByteArray stored = json::serialize(usage.toJson());
    FUZZ_CHECK(ProviderUsage::fromJson(json::parse(stored)) == usage, QString::fromUtf8(stored));
}

void checkLine(const QByteArray& line, qint64 id)
{
    FUZZ_CHECK(!line.contains('\n'), QString::fromUtf8(line));
    const QJsonObject o = QJsonDocument::fromJson(line).object();
    FUZZ_CHECK(o.value(QStringLiteral("id")).toInteger(-1) == id && !o.contains(QStringLiteral("method")), QString::fromUtf8(line));

    if (const auto error = CodexUsageClient::classifyError(line)) {
        FUZZ_CHECK(error->kind() == ProviderClientError::Kind::diagnostic && error->retryable(), error->message());
        FUZZ_CHECK(error->errorCode() == QLatin1String("CODEX_AUTH") || error->errorCode().startsWith(QLatin1String("JSON_RPC_")),
                   error->errorCode());
    }
    fuzz::expectingErrors([&] {
        const ProviderUsage usage = CodexUsageClient::makeUsage(line, kNow);
        FUZZ_CHECK(usage.provider == UsageProvider::codex && !usage.windows.isEmpty() && usage.updatedAt == kNow, QString());
        checkStoredForm(usage);
    });
    fuzz::expectingErrors([&] { CodexConsumeEnvelope::decode(line); });
    fuzz::expectingErrors([&] {
        const CodexResetTransportPayload payload = CodexResetTransportPayload::decode(line);
        const QByteArray encoded = payload.encode();
        FUZZ_CHECK(CodexResetTransportPayload::decode(encoded) == payload, QString::fromUtf8(encoded));
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const qint64 id = input.ConsumeIntegralInRange<qint64>(1, 6);
    const std::string rest = input.ConsumeRemainingBytesAsString();
    const QByteArray output(rest.data(), static_cast<qsizetype>(rest.size()));

    QByteArray buffer = output;
    while (true) {
        const QByteArray before = buffer;
        const std::optional<QByteArray> line = CodexUsageClient::nextLine(buffer, id);
        FUZZ_CHECK(before.endsWith(buffer) && buffer.size() < before.size() + (line ? 0 : 1), QString());
        if (!line)
            break;
        checkLine(*line, id);
    }
    FUZZ_CHECK(!buffer.contains('\n'), QString::fromUtf8(buffer));

    // The same bytes as standard error.
    const QString detail = CodexUsageClient::errorDetail(output);
    FUZZ_CHECK(!detail.contains(QChar(0x1B)), detail);
    FUZZ_CHECK(text::graphemeCount(detail) <= ProviderClientError::kSanitizedLimit, detail);
    const ProviderClientError timedOut = CodexUsageClient::timeoutError(20, output, QStringLiteral("initialize"));
    FUZZ_CHECK(timedOut.kind() == ProviderClientError::Kind::timedOut, timedOut.message());
    const ProviderClientError exited = CodexUsageClient::exitError(ExitStatus {false, 1}, output, QStringLiteral("initialize"));
    FUZZ_CHECK(!exited.message().isEmpty() && !exited.message().contains(QChar(0x1B)), exited.message());
    return 0;
}
