// The files the collectors leave, read through real files: the Claude and
// Antigravity bridge files, the Claude installation marker and ".claude.json".
#include "FuzzSupport.h"
#include "platform/Paths.h"
#include "providers/antigravity/AntigravityStatusLineClient.h"
#include "providers/claude/ClaudeStatusLineClient.h"
#include "providers/claude/ClaudeStatusLineMapping.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

class FixedClock final : public Clock {
public:
    Timestamp now() const override { return Timestamp::fromSince1970(1'800'000'000.0); }
    double uptime() const override { return 1000; }
};

void write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

const QByteArray kIdentity = R"({"oauthAccount":{"accountUuid":"acct-1","organizationUuid":"org-1"}})";

// In memory where there is such a folder: a file rewritten on disk each run is slow.
QString temporaryBase()
{
    return QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
}

struct Home {
    QTemporaryDir dir {temporaryBase() + QStringLiteral("/vantorel-fuzz-XXXXXX")};
    QString path = paths::standardizedResolvedPath(dir.path());
    ProcessEnvironment environment; // the bridge folder under the home's .local/share
    ProviderProfile profile(UsageProvider provider, const char* folder) const
    {
        ProviderProfile p;
        p.provider = provider;
        p.configDirectory = path + QLatin1Char('/') + QLatin1String(folder);
        p.name = QStringLiteral("fuzz");
        p.isVisible = true;
        QDir().mkpath(p.configDirectory);
        return p;
    }
    // A bridge file of its own, a marker without a bridge file, an identity file.
    ClaudeStatusLineClient bridged {profile(UsageProvider::claude, ".claude-personal"), path, environment};
    ClaudeStatusLineClient waiting {profile(UsageProvider::claude, ".claude-work"), path, environment};
    ClaudeStatusLineClient identified {profile(UsageProvider::claude, "claude-other"), path, environment};
    AntigravityStatusLineClient antigravity {profile(UsageProvider::antigravity, ".antigravity"), path, environment};
};

void checkRead(const std::function<ProviderUsage()>& read, UsageProvider provider)
{
    try {
        const ProviderUsage usage = read();
        FUZZ_CHECK(usage.provider == provider, QString());
        const QByteArray stored = json::serialize(usage.toJson());
        FUZZ_CHECK(ProviderUsage::fromJson(json::parse(stored)) == usage, QString::fromUtf8(stored));
    } catch (const ProviderClientError& e) {
        FUZZ_CHECK(e.kind() == ProviderClientError::Kind::diagnostic && e.retryable() && e.retryAfter() == 30.0, e.message());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Home home;
    static const FixedClock clock;
    const QByteArray bytes = fuzz::bytes(data, size);

    write(home.bridged.profile().claudeConfigFileURL(home.path), kIdentity);
    write(home.bridged.bridgeFilePath(), bytes);
    checkRead([&] { return home.bridged.read(clock); }, UsageProvider::claude);

    write(home.waiting.profile().claudeConfigFileURL(home.path), kIdentity);
    QFile::remove(home.waiting.bridgeFilePath());
    write(home.waiting.markerPath(), bytes);
    checkRead([&] { return home.waiting.read(clock); }, UsageProvider::claude);

    write(home.identified.profile().claudeConfigFileURL(home.path), bytes);
    QByteArray bridge = bytes;
    write(home.identified.bridgeFilePath(), bridge.replace("\"personal\"", '"' + home.identified.profile().id().toUtf8() + '"'));
    checkRead([&] { return home.identified.read(clock); }, UsageProvider::claude);

    bridge = bytes;
    write(home.antigravity.bridgeFilePath(), bridge.replace("@PROFILE_ID@", home.antigravity.profile().id().toUtf8()));
    checkRead([&] { return home.antigravity.read(clock); }, UsageProvider::antigravity);
    return 0;
}
