// Claude Code's answers: the stream-JSON lines of the control request, the usage
// payload, ".claude.json" and the statusLine bridge content.
#include "FuzzSupport.h"
#include "platform/ChildProcess.h"
#include "providers/claude/ClaudeControlTransport.h"
#include "providers/claude/ClaudeStatusLineMapping.h"
#include "providers/claude/ClaudeUsageClient.h"
#include "providers/claude/ClaudeUsageParser.h"

namespace {

const Timestamp kNow = Timestamp::fromSince1970(1'800'000'000.0);

void checkUsage(const ProviderUsage& usage)
{
    FUZZ_CHECK(usage.provider == UsageProvider::claude, QString());
    const QByteArray stored = json::serialize(usage.toJson());
    FUZZ_CHECK(ProviderUsage::fromJson(json::parse(stored)) == usage, QString::fromUtf8(stored));
    const QList<UsageWindow> left = ClaudeUsageClient::removingElapsedWindows(usage.windows, kNow);
    FUZZ_CHECK(left.size() <= usage.windows.size(), QString());
}

void checkPayload(const QByteArray& payload)
{
    fuzz::expectingErrors([&] { checkUsage(ClaudeUsageParser::parse(payload, kNow)); });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = fuzz::bytes(data, size);

    // As the program's output: the answer is the first line that is one.
    QByteArray output = bytes;
    while (auto line = ChildProcess::takeLine(output)) {
        std::optional<QByteArray> payload;
        const bool answered = !fuzz::expectingErrors([&] { payload = ClaudeControlTransport::answerPayload(*line); });
        if (answered || payload) {
            if (payload)
                checkPayload(*payload);
            break;
        }
    }

    // As the payload itself, as ".claude.json" and as a bridge file.
    checkPayload(bytes);
    fuzz::expectingErrors([&] {
        const ClaudeAccountIdentity identity = ClaudeAccountIdentity::Metadata::decode(bytes).oauthAccount;
        FUZZ_CHECK(claudeAccountKey(identity).size() == 64, QString());
    });
    const QString key = QStringLiteral("af2259c69d9e8fb78a50da48caf001c84027379e8d97622875dd63d8f1e01d54");
    fuzz::expectingErrors([&] {
        const ProviderUsage snapshot = ClaudeStatusLineMapping::validate(bytes, QStringLiteral("personal"), key, kNow);
        checkUsage(snapshot);
        checkUsage(ClaudeStatusLineMapping::merge({snapshot, snapshot}, kNow));
    });
    return 0;
}
