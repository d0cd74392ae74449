#include "accounts/StatusLineWatcher.h"

#include "StatusLineCommand.h"

#include "accounts/CollectorInstaller.h"
#include "platform/Paths.h"
#include "platform/ProcessEnvironment.h"
#include "usage/ProviderProfile.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <utility>

namespace {

unsigned modeOf(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

} // namespace

class StatusLineWatcherTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup()
    {
        QCOMPARE(testsupport::childProcessCount(), 0);
    }

    // The bridge folder and its missing parents are made private; an existing
    // folder is taken as it is; a folder that cannot be made gives no watcher.
    void createsTheBridgeFolder()
    {
        QTemporaryDir root;
        const QString folder = root.filePath("data/Vantorel/statusline");
        {
            auto watcher = StatusLineWatcher::create(folder, [] {});
            QVERIFY(watcher);
            QCOMPARE(watcher->folder(), folder);
        }
        QCOMPARE(modeOf(folder), 0700u);
        QCOMPARE(modeOf(root.filePath("data/Vantorel")), 0700u);

        const QString existing = root.filePath("shared");
        QVERIFY(QDir().mkdir(existing));
        QVERIFY(QFile::setPermissions(existing, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                                    | QFile::ExeGroup));
        QVERIFY(StatusLineWatcher::create(existing, [] {}));
        QCOMPARE(modeOf(existing), 0750u);

        QVERIFY(testsupport::writeFile(root.filePath("plain"), "x"));
        QVERIFY(!StatusLineWatcher::create(root.filePath("plain"), [] {}));
        QVERIFY(!StatusLineWatcher::create(root.filePath("plain/statusline"), [] {}));
    }

    // The whole road: our installer connects the collectors of a Claude Code
    // and an Antigravity profile with the machine's Node.js, the tool runs each
    // installed command with a statusLine input, each collector writes its
    // profile's bridge file into the shared folder, and the watcher sees each
    // run as one burst. Nothing happens without events.
    void collectorRunsAreOneBurstEach()
    {
        const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
        if (node.isEmpty())
            QSKIP("no node on this machine");

        QTemporaryDir root;
        const QString home = paths::standardizedResolvedPath(root.filePath("home"));
        ProcessEnvironment env = systemEnvironment();
        env.insert("HOME", home);
        env.remove("XDG_DATA_HOME");
        const QString bridge = paths::statusLineFolder(home, env);
        QCOMPARE(bridge, home + "/.local/share/Vantorel/statusline");

        int calls = 0;
        auto watcher = StatusLineWatcher::create(bridge, [&] { ++calls; });
        QVERIFY(watcher);
        const QByteArray input = testsupport::readFile(QStringLiteral(VANTOREL_TEST_DATA_DIR) + "/resources/fixtures/claude-statusline-input.json");
        QVERIFY(!input.isEmpty());
        const CollectorInstaller installer(CollectorInstaller::defaultResourcesDirectory(), {node});

        QStringList written;
        for (const auto& [provider, folderName] : {std::pair {UsageProvider::claude, QStringLiteral(".claude-work")},
                                                   std::pair {UsageProvider::antigravity, QStringLiteral(".gemini")}}) {
            ProviderProfile profile;
            profile.provider = provider;
            profile.configDirectory = QDir(home).filePath(folderName);
            QVERIFY(QDir().mkpath(profile.configDirectory));
            QVERIFY(testsupport::writeFile(profile.configDirectory + "/.claude.json",
                                           R"({"oauthAccount": {"accountUuid": "a-1", "organizationUuid": "o-1"}})"));
            installer.install(profile, env);
            const QString command = QJsonDocument::fromJson(testsupport::readFile(profile.configDirectory + "/settings.json"))
                                        .object().value("statusLine").toObject().value("command").toString();
            QVERIFY(!command.isEmpty());
            QTest::qWait(50);
            const int before = calls;
            QCOMPARE(before, written.size()); // connecting writes nothing into the folder

            // The run ends before events are read, so its temporary file, write and rename come as one burst.
            const auto printed = runStatusLine(command, input, env);
            QVERIFY(printed);
            QTRY_COMPARE_WITH_TIMEOUT(calls, before + 1, 5000);
            QTest::qWait(100);
            QCOMPARE(calls, before + 1);

            const QString stem = provider == UsageProvider::claude ? profile.claudeDirectoryTag(home) : profile.id();
            written.append(stem + ".json");
            const QJsonObject record = QJsonDocument::fromJson(testsupport::readFile(bridge + "/" + stem + ".json")).object();
            QCOMPARE(record.value("profileId").toString(), stem);
            if (provider == UsageProvider::claude) {
                QCOMPARE(stem, QStringLiteral("work"));
                QCOMPARE(*printed, QByteArray("Opus · 5 ч 24% · неделя 41%\n"));
                QCOMPARE(record.value("rate_limits").toObject().value("five_hour").toObject().value("used_percentage").toDouble(),
                         23.5);
            }
        }
        written.sort();
        QCOMPARE(QDir(bridge).entryList(QDir::Files | QDir::Hidden, QDir::Name), written);
    }
};

QTEST_GUILESS_MAIN(StatusLineWatcherTest)
#include "test_status_line_watcher.moc"
