// The Copilot CLI's standard output: Content-Length framing (in chunks of any size),
// the choice of the reply, its error, the account list and the quota mapping.
#include "FuzzSupport.h"
#include "providers/copilot/CopilotFraming.h"
#include "providers/copilot/CopilotRPC.h"
#include "providers/copilot/CopilotUsageClient.h"
#include "providers/copilot/CopilotUsageParser.h"

#include <QJsonDocument>

namespace {

const Timestamp kNow = Timestamp::fromSince1970(1'800'000'000.0);

void checkBody(const QByteArray& body, qint64 id, const std::optional<QString>& plan, const std::optional<QString>& resetDate)
{
    FUZZ_CHECK(body.size() <= CopilotFrameBuffer::kMaxBodyBytes, QString());
    std::optional<QByteArray> result;
    try {
        fuzz::expectingErrors([&] { result = CopilotRPC::examine(body, id); });
    } catch (const json::EncodeError&) {
        // A result that is neither object nor array.
    }
    for (const QByteArray& reply : {body, result.value_or(QByteArray())}) {
        fuzz::expectingErrors([&] {
            const ProviderUsage usage = CopilotUsageParser::parse(reply, plan, resetDate, kNow);
            FUZZ_CHECK(usage.provider == UsageProvider::copilot, QString());
            const QByteArray stored = json::serialize(usage.toJson());
            FUZZ_CHECK(ProviderUsage::fromJson(json::parse(stored)) == usage, QString::fromUtf8(stored));
        });
        fuzz::expectingErrors([&] {
            for (const CopilotUsageClient::Account& account : CopilotUsageClient::decodeAccounts(reply))
                FUZZ_CHECK(!account.authInfo.login.isNull(), account.identifier());
        });
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const qint64 id = input.ConsumeIntegralInRange<qint64>(1, 3);
    const size_t chunk = input.ConsumeIntegralInRange<size_t>(1, 64);
    const std::optional<QString> plan = input.ConsumeBool() ? std::optional(QString::fromStdString(input.ConsumeRandomLengthString(24))) : std::nullopt;
    const std::optional<QString> resetDate = input.ConsumeBool() ? std::optional(QString::fromStdString(input.ConsumeRandomLengthString(32))) : std::nullopt;

    // A request we write frames and reads back as itself.
    const QString method = QString::fromStdString(input.ConsumeRandomLengthString(16));
    const QMap<QString, QString> params {{QStringLiteral("selectionId"), QString::fromStdString(input.ConsumeRandomLengthString(16))}};
    CopilotFrameBuffer own;
    own.append(CopilotFrameBuffer::encodeRequest(id, method, params));
    QByteArray request;
    FUZZ_CHECK(own.take(request) == CopilotFrameBuffer::Status::Message && own.isEmpty(), QString::fromUtf8(request));
    const QJsonObject sent = QJsonDocument::fromJson(request).object();
    FUZZ_CHECK(sent.value(QStringLiteral("id")).toInteger() == id && sent.value(QStringLiteral("method")).toString() == method
                   && sent.value(QStringLiteral("params")).toObject().value(QStringLiteral("selectionId")).toString() == params.first(),
               QString::fromUtf8(request));

    const std::string rest = input.ConsumeRemainingBytesAsString();
    const QByteArray stream(rest.data(), static_cast<qsizetype>(rest.size()));
    CopilotFrameBuffer buffer;
    qsizetype taken = 0;
    for (qsizetype at = 0; at < stream.size(); at += static_cast<qsizetype>(chunk)) {
        buffer.append(stream.mid(at, static_cast<qsizetype>(chunk)));
        for (;;) {
            QByteArray body;
            const qsizetype held = buffer.size();
            const CopilotFrameBuffer::Status status = buffer.take(body);
            if (status == CopilotFrameBuffer::Status::BadHeader) {
                FUZZ_CHECK(buffer.size() == held, QString());
                return 0; // the client gives up here
            }
            if (status == CopilotFrameBuffer::Status::NeedMore) {
                FUZZ_CHECK(buffer.size() == held, QString());
                break;
            }
            taken += held - buffer.size();
            FUZZ_CHECK(body.size() <= held - buffer.size() - 4, QString());
            checkBody(body, id, plan, resetDate);
        }
        if (buffer.isOverfull())
            return 0;
    }
    FUZZ_CHECK(taken + buffer.size() == stream.size(), QString());
    return 0;
}
