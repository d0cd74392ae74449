#include "ClaudeStatusLineClient.h"

#include "ClaudeStatusLineMapping.h"
#include "ClaudeUsageParser.h"
#include "platform/FileRead.h"
#include "platform/StrictJson.h"
#include "providers/StatusLineBridge.h"
#include "usage/ProviderClientError.h"

namespace {

[[noreturn]] void fail(const QString& code, const QString& message)
{
    throw ProviderClientError::diagnostic(code, message, true, ClaudeStatusLineMapping::kRetryAfterSeconds);
}

// The marker names a collector that is connected but has not observed anything yet.
bool hasAcceptedMarker(const QString& path, qint64 cap)
{
    try {
        const CappedFile file = readFileCapped(path, cap);
        if (file.status != CappedFile::Status::Read)
            return false;
        const QString kind = json::Reader(json::parseObject(file.bytes)).string(QStringLiteral("kind"));
        return kind == QLatin1String("script") || kind == QLatin1String("wrapper");
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

ClaudeStatusLineClient::ClaudeStatusLineClient(ProviderProfile profile, QString home, ProcessEnvironment environment)
    : m_profile(std::move(profile))
    , m_home(std::move(home))
    , m_environment(std::move(environment))
{
}

QString ClaudeStatusLineClient::bridgeFilePath() const
{
    return statusLineBridgeFilePath(m_home, m_environment, m_profile.claudeDirectoryTag(m_home));
}

QString ClaudeStatusLineClient::markerPath() const
{
    return m_profile.configDirectory + QStringLiteral("/.vantorel-claude-statusline.json");
}

ProviderUsage ClaudeStatusLineClient::read(const Clock& clock) const
{
    const std::optional<ClaudeAccountIdentity> identity = ClaudeAccountIdentity::read(m_profile.claudeConfigFileURL(m_home));
    if (!identity)
        fail(QStringLiteral("CLAUDE_PROFILE_NOT_CONNECTED"),
             QStringLiteral("Профиль «") + m_profile.name + QStringLiteral("» не подключён. Откройте Claude Code с папкой ")
                 + m_profile.configDirectory + QStringLiteral("."));
    const QString accountKey = claudeAccountKey(*identity);
    const QString stem = m_profile.claudeDirectoryTag(m_home);

    // One open descriptor for the size check and the read; a file that vanished
    // meanwhile counts as not there yet.
    const CappedFile bridge = readFileCapped(bridgeFilePath(), kLargestBridgeFile);
    switch (bridge.status) {
    case CappedFile::Status::TooLarge:
        fail(QStringLiteral("CLAUDE_STATUSLINE_INVALID"), QStringLiteral("Файл statusLine превышает допустимый размер."));
    case CappedFile::Status::Read: {
        const Timestamp now = clock.now();
        return ClaudeStatusLineMapping::merge({ClaudeStatusLineMapping::validate(bridge.bytes, stem, accountKey, now)}, now);
    }
    case CappedFile::Status::Missing:
        break;
    }

    if (hasAcceptedMarker(markerPath(), kLargestMarker)) {
        ProviderUsage waiting;
        waiting.provider = UsageProvider::claude;
        waiting.isLoading = false;
        waiting.failureCount = 0;
        waiting.waitingForObservation = true;
        return waiting;
    }
    fail(QStringLiteral("CLAUDE_STATUSLINE_WAITING"),
         QStringLiteral("Ожидаю первую передачу данных профиля «") + m_profile.name
             + QStringLiteral("». StatusLine подключается автоматически; после ответа Claude Code данные появятся. Если CLI уже запущен, перезапустите его. Ошибки автоподключения показаны в настройках."));
}
