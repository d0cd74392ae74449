#include "accounts/CollectorInstaller.h"

#include "BuildInfo.h"

#include "platform/CancelToken.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/ProcessEnvironment.h"
#include "platform/Scheduler.h"
#include "usage/ChildProcessEnvironment.h"
#include "usage/ProviderClientError.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>
#include <thread>

Q_DECLARE_METATYPE(UsageProvider)

namespace {

// Prepended to every fake Node.js: records its own path and arguments (one per
// line), its environment (NUL-separated) and where its standard streams go,
// into files beside itself.
const QByteArray kRecorder = R"(#!/bin/sh
d=${0%/*}
for a in "$0" "$@"; do printf '%s\n' "$a"; done > "$d/argv"
/usr/bin/env -0 > "$d/env"
s=$(/usr/bin/readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2)
printf '%s\n' "$s" > "$d/streams"
)";

QString makeProgram(const QString& path, const QByteArray& body, QFile::Permissions permissions =
                        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)
{
    if (!testsupport::writeFile(path, kRecorder + body))
        return {};
    QFile::setPermissions(path, permissions);
    return path;
}

double seconds()
{
    return SystemClock::shared().uptime();
}

// A folder laid out like the application's resources: both installer scripts.
// Their contents do not matter to a fake Node.js.
QString makeResources(const QTemporaryDir& root)
{
    const QString folder = root.filePath(QStringLiteral("resources"));
    for (UsageProvider provider : {UsageProvider::claude, UsageProvider::antigravity})
        testsupport::writeFile(QDir(folder).filePath(*CollectorInstaller::scriptName(provider)), "process.exit(0);\n");
    return folder;
}

ProviderProfile profileFor(UsageProvider provider, const QString& folder)
{
    ProviderProfile profile;
    profile.provider = provider;
    profile.configDirectory = folder;
    profile.name = QStringLiteral("Тест");
    return profile;
}

std::optional<ProviderClientError> installError(const CollectorInstaller& installer, const ProviderProfile& profile,
                                                const ProcessEnvironment& environment)
{
    try {
        installer.install(profile, environment);
    } catch (const ProviderClientError& error) {
        return error;
    }
    return std::nullopt;
}

// The variables a child really got: the recorder's own "PWD" (set by the shell) left out.
ProcessEnvironment recordedEnvironment(const QString& file)
{
    ProcessEnvironment env;
    for (const QByteArray& entry : testsupport::readFile(file).split('\0')) {
        const qsizetype eq = entry.indexOf('=');
        if (eq > 0)
            env.insert(QString::fromUtf8(entry.left(eq)), QString::fromUtf8(entry.mid(eq + 1)));
    }
    env.remove(QStringLiteral("PWD"));
    return env;
}

} // namespace

class CollectorInstallerTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup()
    {
        QCOMPARE(testsupport::childProcessCount(), 0);
    }

    // The codes and messages of every way a set-up can fail.
    void failures_data()
    {
        QTest::addColumn<UsageProvider>("provider");
        QTest::addColumn<bool>("withResources");
        QTest::addColumn<QStringList>("candidates"); // "fake:<body>", "plain", "folder", "absent"
        QTest::addColumn<QString>("code");
        QTest::addColumn<bool>("nodeRuns");

        const QString failed = QStringLiteral("CLAUDE_SETUP_FAILED");
        QTest::newRow("Claude Code script missing") << UsageProvider::claude << false << QStringList {"fake:exit 0"}
                                                   << "SETUP_RESOURCE_MISSING" << false;
        QTest::newRow("Antigravity script missing") << UsageProvider::antigravity << false << QStringList {"fake:exit 0"}
                                                   << "SETUP_RESOURCE_MISSING" << false;
        QTest::newRow("no candidate is an executable file")
            << UsageProvider::claude << true << QStringList {"absent", "plain", "folder"} << "NODE_NOT_FOUND" << false;
        QTest::newRow("no candidates at all") << UsageProvider::antigravity << true << QStringList {} << "NODE_NOT_FOUND"
                                              << false;
        QTest::newRow("exit status 1, output discarded")
            << UsageProvider::claude << true << QStringList {"fake:echo connected; echo oops >&2; exit 1"} << failed << true;
        QTest::newRow("Antigravity exit status 2")
            << UsageProvider::antigravity << true << QStringList {"fake:exit 2"} << "ANTIGRAVITY_SETUP_FAILED" << true;
        QTest::newRow("killed by a signal") << UsageProvider::claude << true << QStringList {"fake:kill -KILL $$"} << failed
                                            << true;
        QTest::newRow("hangs past the deadline") << UsageProvider::claude << true << QStringList {"fake:exec sleep 30"}
                                                 << failed << true;
        QTest::newRow("hangs and ignores SIGTERM") << UsageProvider::antigravity << true
                                                   << QStringList {"fake:trap '' TERM; exec sleep 30"}
                                                   << "ANTIGRAVITY_SETUP_FAILED" << true;
    }

    void failures()
    {
        QFETCH(UsageProvider, provider);
        QFETCH(bool, withResources);
        QFETCH(QStringList, candidates);
        QFETCH(QString, code);
        QFETCH(bool, nodeRuns);

        QTemporaryDir root;
        const QString resources = withResources ? makeResources(root) : root.filePath(QStringLiteral("empty"));
        QStringList paths;
        for (qsizetype i = 0; i < candidates.size(); ++i) {
            const QString path = root.filePath(QStringLiteral("bin%1/node").arg(i));
            const QString& kind = candidates.at(i);
            if (kind.startsWith(QStringLiteral("fake:")))
                QVERIFY(!makeProgram(path, kind.mid(5).toUtf8() + '\n').isEmpty());
            else if (kind == QStringLiteral("plain"))
                QVERIFY(!makeProgram(path, "exit 0\n", QFile::ReadOwner | QFile::WriteOwner).isEmpty());
            else if (kind == QStringLiteral("folder"))
                QVERIFY(QDir().mkpath(path));
            paths.append(path);
        }

        const CollectorInstaller installer(resources, paths, 0.5, 0.2);
        const double started = seconds();
        const auto error = installError(installer, profileFor(provider, root.path()), systemEnvironment());
        const double elapsed = seconds() - started;

        QVERIFY(error);
        QCOMPARE(error->kind(), ProviderClientError::Kind::diagnostic);
        QCOMPARE(error->code(), code);
        QCOMPARE(error->retryable(), false);
        QCOMPARE(error->retryAfter(), std::nullopt);
        if (code == QStringLiteral("SETUP_RESOURCE_MISSING"))
            QCOMPARE(error->message(), QStringLiteral("Сборщик отсутствует в приложении."));
        else if (code == QStringLiteral("NODE_NOT_FOUND"))
            QCOMPARE(error->message(), QStringLiteral("Для локального сборщика требуется Node.js."));
        else
            QCOMPARE(error->message(),
                     QStringLiteral("Автоподключение не завершено. Проверьте settings.json и резервную копию vantorel в папке "
                                    "профиля. Изменённая вручную команда не перезаписывается."));
        QCOMPARE(QFileInfo::exists(root.filePath(QStringLiteral("bin0/argv"))), nodeRuns);
        // A hung script is ended after the deadline (0.5 s) and the grace (0.2 s), not after its 30 s.
        QVERIFY2(elapsed < 10, qPrintable(QString::number(elapsed)));
    }

    // What Node.js is given: the chosen candidate as program and as "--node",
    // the script and the profile folder as single arguments, the shared child
    // environment and nothing else, every standard stream on the null device.
    void argumentsAndEnvironment_data()
    {
        QTest::addColumn<UsageProvider>("provider");
        QTest::addColumn<QStringList>("present"); // per candidate: "fake", "plain", "folder", "absent"
        QTest::addColumn<int>("chosen");

        QTest::newRow("only /usr/local/bin/node") << UsageProvider::claude << QStringList {"absent", "fake"} << 1;
        QTest::newRow("both present: the first wins") << UsageProvider::antigravity << QStringList {"fake", "fake"} << 0;
        QTest::newRow("not executable is skipped") << UsageProvider::claude << QStringList {"plain", "fake"} << 1;
        QTest::newRow("a folder is skipped") << UsageProvider::antigravity << QStringList {"folder", "absent", "fake"} << 2;
    }

    void argumentsAndEnvironment()
    {
        QFETCH(UsageProvider, provider);
        QFETCH(QStringList, present);
        QFETCH(int, chosen);

        QTemporaryDir root;
        const QString resources = makeResources(root);
        const QStringList layout {"opt/homebrew/bin/node", "usr/local/bin/node", "usr/bin/node"};
        QStringList candidates;
        for (qsizetype i = 0; i < present.size(); ++i) {
            const QString path = root.filePath(layout.at(i));
            if (present.at(i) == QStringLiteral("fake"))
                QVERIFY(!makeProgram(path, "exit 0\n").isEmpty());
            else if (present.at(i) == QStringLiteral("plain"))
                QVERIFY(!makeProgram(path, "exit 0\n", QFile::ReadOwner | QFile::WriteOwner).isEmpty());
            else if (present.at(i) == QStringLiteral("folder"))
                QVERIFY(QDir().mkpath(path));
            candidates.append(path);
        }
        const QString node = candidates.at(chosen);
        const QString folder = root.filePath(QStringLiteral("home/it's a profile"));
        QVERIFY(QDir().mkpath(folder));

        const ProcessEnvironment base {
            {"HOME", root.filePath(QStringLiteral("home"))},
            {"PATH", "/usr/bin:/bin"},
            {"NODE_OPTIONS", "--require /tmp/evil.js"},
            {"XDG_DATA_HOME", root.filePath(QStringLiteral("data"))},
            {"VANTOREL_PROBE", "a value; with $(no) expansion"},
        };
        CollectorInstaller(resources, candidates).install(profileFor(provider, folder), base);

        const QString recorded = QFileInfo(node).absolutePath();
        const QString script = QDir(resources).filePath(*CollectorInstaller::scriptName(provider));
        const QStringList argv = QString::fromUtf8(testsupport::readFile(recorded + "/argv")).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(argv, (QStringList {node, script, "--config-dir", folder, "--node", node}));

        const ProcessEnvironment env = recordedEnvironment(recorded + "/env");
        QCOMPARE(env, childProcessEnvironment(base, node));
        QVERIFY(!env.contains("NODE_OPTIONS"));
        QCOMPARE(env.value("PATH"), recorded + ":/opt/homebrew/bin:/usr/local/bin:/usr/bin:/bin");
        QCOMPARE(testsupport::readFile(recorded + "/streams"), QByteArray("/dev/null\n/dev/null\n/dev/null\n"));
        // Only the chosen candidate ran.
        for (qsizetype i = 0; i < candidates.size(); ++i) {
            if (i != chosen)
                QVERIFY(!QFileInfo::exists(QFileInfo(candidates.at(i)).absolutePath() + "/argv"));
        }
    }

    // Codex and Copilot need no collector: nothing is looked up or started,
    // and the asynchronous form still completes later on the main thread.
    void codexAndCopilotStartNothing_data()
    {
        QTest::addColumn<UsageProvider>("provider");
        QTest::newRow("Codex") << UsageProvider::codex;
        QTest::newRow("Copilot") << UsageProvider::copilot;
    }

    void codexAndCopilotStartNothing()
    {
        QFETCH(UsageProvider, provider);
        QTemporaryDir root;
        const QString node = makeProgram(root.filePath("bin/node"), "exit 0\n");
        const CollectorInstaller installer(root.filePath("no resources"), {node});
        installer.install(profileFor(provider, root.path()), systemEnvironment());

        VirtualScheduler scheduler;
        std::optional<Result<Unit>> outcome;
        installer.installAsync(scheduler, profileFor(provider, root.path()), systemEnvironment(), CancelToken(),
                               [&](Result<Unit> result) { outcome = std::move(result); });
        QVERIFY(!outcome);
        QVERIFY(scheduler.waitUntil([&] { return outcome.has_value(); }, 10'000));
        QVERIFY(outcome->ok());
        QVERIFY(!QFileInfo::exists(root.filePath("bin/argv")));
    }

    void asyncHandsTheOutcomeToTheMainThread_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("code"); // empty: success
        QTest::newRow("connected") << QByteArray("exit 0") << QString();
        QTest::newRow("not connected") << QByteArray("exit 1") << QStringLiteral("CLAUDE_SETUP_FAILED");
    }

    void asyncHandsTheOutcomeToTheMainThread()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, code);
        QTemporaryDir root;
        const QString node = makeProgram(root.filePath("bin/node"), body + '\n');
        const CollectorInstaller installer(makeResources(root), {node});

        VirtualScheduler scheduler;
        std::optional<Result<Unit>> outcome;
        Qt::HANDLE thread = nullptr;
        installer.installAsync(scheduler, profileFor(UsageProvider::claude, root.path()), systemEnvironment(),
                               CancelToken(), [&](Result<Unit> result) {
                                   thread = QThread::currentThreadId();
                                   outcome = std::move(result);
                               });
        QVERIFY(!outcome);
        QVERIFY(scheduler.waitUntil([&] { return outcome.has_value(); }, 10'000));
        QCOMPARE(thread, QThread::currentThreadId());
        if (code.isEmpty()) {
            QVERIFY(outcome->ok());
        } else {
            const auto error = outcome->errorAs<ProviderClientError>();
            QVERIFY(error);
            QCOMPARE(error->code(), code);
        }
    }

    // Cancelling kills the script at once, also one that ignores SIGTERM and
    // would otherwise be given a long grace; a token cancelled beforehand
    // starts nothing.
    void cancellationEndsTheScriptAtOnce()
    {
        QTemporaryDir root;
        const QString node = makeProgram(root.filePath("bin/node"), "trap '' TERM\n: > \"$d/started\"\nexec sleep 30\n");
        const CollectorInstaller installer(makeResources(root), {node}, 60, 30);
        const ProviderProfile profile = profileFor(UsageProvider::claude, root.path());

        CancelToken early;
        early.cancel();
        QVERIFY_THROWS_EXCEPTION(CancellationError, installer.install(profile, systemEnvironment(), early));
        QVERIFY(!QFileInfo::exists(root.filePath("bin/argv")));

        CancelToken cancel;
        bool cancelled = false;
        bool otherError = false;
        std::thread worker([&] {
            try {
                installer.install(profile, systemEnvironment(), cancel);
            } catch (const CancellationError&) {
                cancelled = true;
            } catch (...) {
                otherError = true;
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(root.filePath("bin/started")), 10'000);
        const double started = seconds();
        cancel.cancel();
        worker.join();
        QVERIFY(cancelled);
        QVERIFY(!otherError);
        QVERIFY2(seconds() - started < 5, "the grace was waited out");
    }

    // Our own installer with the machine's Node.js into a temporary profile.
    // Scripts installed beside the program win; a program without them (a
    // build-tree run) takes the source tree's resources.
    void resourcesFolderOfAProgram()
    {
        QTemporaryDir prefix;
        QVERIFY(prefix.isValid());
        const QString bin = prefix.filePath("bin");
        const QString data = QDir::cleanPath(bin + "/" + QString::fromUtf8(buildinfo::kDataFromProgram));
        QVERIFY(QDir().mkpath(bin));
        const QString source = QStringLiteral(VANTOREL_RESOURCES_DIR);

        QCOMPARE(CollectorInstaller::resourcesDirectoryFor(bin), source);
        QCOMPARE(CollectorInstaller::resourcesDirectoryFor(QString()), source);
        // A folder without the installer script is not the installed data.
        QVERIFY(testsupport::writeFile(data + "/vantorel-statusline.cjs", "//\n"));
        QCOMPARE(CollectorInstaller::resourcesDirectoryFor(bin), source);
        QVERIFY(testsupport::writeFile(data + "/install-claude-statusline.cjs", "//\n"));
        QCOMPARE(CollectorInstaller::resourcesDirectoryFor(bin), data);
        QCOMPARE(CollectorInstaller::resourcesDirectoryFor(bin + "/"), data);
        // The test program itself runs from the build tree.
        QCOMPARE(CollectorInstaller::defaultResourcesDirectory(), source);
    }

    void realInstaller_data()
    {
        QTest::addColumn<UsageProvider>("provider");
        QTest::addColumn<QString>("folderName");
        QTest::newRow("Claude Code") << UsageProvider::claude << ".claude-test";
        QTest::newRow("Antigravity") << UsageProvider::antigravity << ".gemini";
    }

    void realInstaller()
    {
        QFETCH(UsageProvider, provider);
        QFETCH(QString, folderName);
        const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
        if (node.isEmpty())
            QSKIP("no node on this machine");

        QTemporaryDir root;
        const QString home = paths::standardizedResolvedPath(root.filePath("home"));
        const QString folder = QDir(home).filePath(folderName);
        QVERIFY(QDir().mkpath(folder));
        const QByteArray original = "{\n  \"theme\": \"dark\"\n}\n";
        QVERIFY(testsupport::writeFile(folder + "/settings.json", original));

        ProcessEnvironment env = systemEnvironment();
        env.insert("HOME", home);
        env.insert("XDG_DATA_HOME", root.filePath("data"));
        const CollectorInstaller installer(CollectorInstaller::defaultResourcesDirectory(), {node});
        installer.install(profileFor(provider, folder), env);

        const QJsonObject settings = QJsonDocument::fromJson(testsupport::readFile(folder + "/settings.json")).object();
        QCOMPARE(settings.value("theme").toString(), QStringLiteral("dark"));
        const QJsonObject statusLine = settings.value("statusLine").toObject();
        QCOMPARE(statusLine.value("type").toString(), QStringLiteral("command"));
        const QString command = statusLine.value("command").toString();
        const QString collector = QDir(CollectorInstaller::defaultResourcesDirectory()).filePath("vantorel-statusline.cjs");
        QVERIFY2(command.startsWith("'" + node + "' '" + collector + "' --provider " + rawValue(provider)), qPrintable(command));
        QVERIFY2(command.contains("--bridge-dir '" + paths::statusLineFolder(home, env) + "'"), qPrintable(command));
        QCOMPARE(testsupport::readFile(folder + "/settings.json.vantorel-backup"), original);
        if (provider == UsageProvider::claude)
            QVERIFY(QFileInfo::exists(folder + "/.vantorel-claude-statusline.json"));

        // Connecting again changes nothing and still succeeds.
        const QByteArray connected = testsupport::readFile(folder + "/settings.json");
        installer.install(profileFor(provider, folder), env);
        QCOMPARE(testsupport::readFile(folder + "/settings.json"), connected);
    }

    // A collector command the user edited by hand is left alone: the script
    // exits with status 1 and the profile gets the set-up failure.
    void realInstallerLeavesAHandEditedCommand()
    {
        const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
        if (node.isEmpty())
            QSKIP("no node on this machine");
        QTemporaryDir root;
        const QString home = paths::standardizedResolvedPath(root.filePath("home"));
        const QString folder = home + "/.claude";
        const QByteArray edited =
            R"({"statusLine": {"type": "command", "command": "node ~/bin/vantorel-statusline.cjs --mine"}})" "\n";
        QVERIFY(testsupport::writeFile(folder + "/settings.json", edited));

        ProcessEnvironment env = systemEnvironment();
        env.insert("HOME", home);
        env.remove("XDG_DATA_HOME");
        const auto error = installError(CollectorInstaller(CollectorInstaller::defaultResourcesDirectory(), {node}),
                                        profileFor(UsageProvider::claude, folder), env);
        QVERIFY(error);
        QCOMPARE(*error, CollectorInstaller::setupFailed(UsageProvider::claude));
        QCOMPARE(testsupport::readFile(folder + "/settings.json"), edited);
    }
};

QTEST_GUILESS_MAIN(CollectorInstallerTest)
#include "test_collector_installer.moc"
