// The program itself: started from the build tree without a display; ended by
// each signal that ends a session while it talks to a tool program; and
// installed into a temporary prefix, where it connects a Claude Code profile
// with the collector scripts installed beside it and ends cleanly on SIGTERM.

#include "support/ProgramRun.h"
#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace testsupport;

namespace {

const QString kBuildDir = QStringLiteral(VANTOREL_BUILD_DIR);

} // namespace

class ProgramTest : public QObject {
    Q_OBJECT

private slots:
    void withoutADisplayItSaysSoAndExits()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        ChildProcess child = startProgram(kBuildDir + "/vantorel", {}, bareEnvironment(home.path()));
        const WaitOutcome outcome = child.waitUntil(child.deadlineAfter(20), CancelToken(), nullptr);
        QCOMPARE(int(outcome.kind), int(WaitOutcome::Kind::Exited));
        // An exit status, not the toolkit's abort.
        QCOMPARE(outcome.exit, (ExitStatus {false, 1}));
        const QString error = QString::fromUtf8(child.errorTail());
        QCOMPARE(error.count(QLatin1Char('\n')), 1);
        QVERIFY2(error.contains("DISPLAY") && error.contains("WAYLAND_DISPLAY"), qPrintable(error));
        QCOMPARE(child.output(), QByteArray());
        // It made nothing in the home folder.
        QCOMPARE(QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList {});
    }

    // Logout (SIGTERM), Ctrl+C (SIGINT) and a closed terminal (SIGHUP) each run
    // the teardown: status 0, with the tool program it was waiting on ended.
    void endsCleanlyOnEachSignal_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }

    void endsCleanlyOnEachSignal()
    {
        QFETCH(int, signalNumber);
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString base = QFileInfo(root.path()).canonicalFilePath();
        const QString home = base + "/home";
        const QString log = base + "/codex-log.jsonl";
        // A Codex profile; the fake codex on PATH never answers the usage read
        // and stays when its input closes, so only the program can end it.
        const QJsonObject scenario {{"onEof", "hang"},
                                    {"methods", QJsonObject {{"account/rateLimits/read", QJsonObject {{"never", true}}}}}};
        QVERIFY(testsupport::writeFile(home + "/.codex/auth.json", "{}"));
        QVERIFY(testsupport::writeFile(base + "/codex-scenario.json", QJsonDocument(scenario).toJson()));
        QVERIFY(QDir().mkpath(base + "/bin"));
        QVERIFY(QFile::link(fakeProgram("fake_codex"), base + "/bin/codex"));
        ProcessEnvironment env = bareEnvironment(home);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("PATH", base + "/bin:/usr/bin:/bin");
        env.insert("FAKE_CODEX_SCENARIO", base + "/codex-scenario.json");
        env.insert("FAKE_CODEX_LOG", log);
        ChildProcess app = startProgram(kBuildDir + "/vantorel", {}, env);

        bool asked = false;
        const QDeadlineTimer deadline(60000);
        while (!asked && !deadline.hasExpired()) {
            if (app.waitUntil(app.deadlineAfter(0.05), CancelToken(), nullptr).kind != WaitOutcome::Kind::DeadlinePassed)
                break;
            asked = testsupport::readFile(log).contains("account/rateLimits/read");
        }
        QVERIFY2(asked, app.errorTail().constData());

        const double sent = app.uptime();
        QCOMPARE(::kill(app.pid(), signalNumber), 0);
        const WaitOutcome ended = app.waitUntil(app.deadlineAfter(10), CancelToken(), nullptr);
        const double took = app.uptime() - sent;
        QCOMPARE(int(ended.kind), int(WaitOutcome::Kind::Exited));
        qInfo("%s: %s %d after %.0f ms", QTest::currentDataTag(), ended.exit.signalled ? "signal" : "exit status",
              ended.exit.code, took * 1000);
        QCOMPARE(ended.exit, (ExitStatus {false, 0}));
        QCOMPARE(processesUnder(base), QStringList {});
    }

    void installedProgramConnectsTheCollectorAndEndsOnSigterm()
    {
        const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
        if (node.isEmpty())
            QSKIP("no node on this machine");
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString base = QFileInfo(root.path()).canonicalFilePath();
        const QString prefix = base + "/prefix";

        ChildProcess install = startProgram(QStringLiteral(VANTOREL_CMAKE_COMMAND), {"--install", kBuildDir, "--prefix", prefix},
                                            systemEnvironment());
        const WaitOutcome installed = install.waitUntil(install.deadlineAfter(120), CancelToken(), nullptr);
        QCOMPARE(int(installed.kind), int(WaitOutcome::Kind::Exited));
        QVERIFY2(installed.exit.succeeded(), install.errorTail().constData());

        const QString program = prefix + "/bin/vantorel";
        QVERIFY(QFileInfo(program).isExecutable());
        QStringList scripts;
        QDirIterator it(prefix + "/share/vantorel", {"*.cjs"}, QDir::Files);
        while (it.hasNext())
            scripts << QFileInfo(it.next()).fileName();
        scripts.sort();
        QCOMPARE(scripts, (QStringList {"install-antigravity-statusline.cjs", "install-claude-statusline.cjs",
                                        "statusline-installer.cjs", "vantorel-statusline.cjs"}));
        const QString entry = prefix + "/share/applications/vantorel.desktop";
        const QByteArray desktop = testsupport::readFile(entry);
        QVERIFY(desktop.startsWith("[Desktop Entry]\n"));
        QVERIFY(desktop.contains("\nType=Application\n") && desktop.contains("\nExec=vantorel\n"));
        // The system's validator accepts the entry, hints included.
        const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        QVERIFY2(!validator.isEmpty(), "desktop-file-validate (desktop-file-utils) is missing");
        ChildProcess validate = startProgram(validator, {entry}, systemEnvironment());
        const WaitOutcome validated = validate.waitUntil(validate.deadlineAfter(30), CancelToken(), nullptr);
        QCOMPARE(int(validated.kind), int(WaitOutcome::Kind::Exited));
        QVERIFY2(validated.exit.succeeded() && validate.output().isEmpty(),
                 (validate.output() + validate.errorTail()).constData());
        // Its icon is found where the desktop looks for a scalable application icon.
        const QRegularExpressionMatch icon = QRegularExpression("\nIcon=([^\n/]+)\n").match(QString::fromUtf8(desktop));
        QVERIFY(icon.hasMatch());
        const QByteArray drawing =
            testsupport::readFile(prefix + "/share/icons/hicolor/scalable/apps/" + icon.captured(1) + ".svg");
        QVERIFY(drawing.contains("<svg "));
        QCOMPARE(drawing, testsupport::readFile(VANTOREL_RESOURCES_DIR "/vantorel.svg"));

        // A home with one Claude Code profile; the program runs offscreen.
        const QString home = base + "/home";
        QVERIFY(testsupport::writeFile(home + "/.claude/settings.json", "{}\n"));
        ProcessEnvironment env = bareEnvironment(home);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        ChildProcess app = startProgram(program, {}, env);

        // The set-up pass connects the profile with the installed scripts.
        QString command;
        const QDeadlineTimer deadline(60000);
        while (command.isEmpty() && !deadline.hasExpired()) {
            // Reads its output meanwhile, so a chatty program never blocks on a full pipe.
            if (app.waitUntil(app.deadlineAfter(0.05), CancelToken(), nullptr).kind != WaitOutcome::Kind::DeadlinePassed)
                break;
            command = QJsonDocument::fromJson(testsupport::readFile(home + "/.claude/settings.json"))
                          .object()
                          .value("statusLine")
                          .toObject()
                          .value("command")
                          .toString();
        }
        QVERIFY2(!command.isEmpty(), app.errorTail().constData());
        QVERIFY2(command.contains(prefix + "/share/vantorel/vantorel-statusline.cjs"), qPrintable(command));
        QVERIFY2(command.contains(home + "/.local/share/Vantorel/statusline"), qPrintable(command));

        QCOMPARE(::kill(app.pid(), SIGTERM), 0);
        const WaitOutcome ended = app.waitUntil(app.deadlineAfter(10), CancelToken(), nullptr);
        QCOMPARE(int(ended.kind), int(WaitOutcome::Kind::Exited));
        QCOMPARE(ended.exit, (ExitStatus {false, 0}));
        QCOMPARE(processesUnder(base), QStringList {});
        // The settings were written to disk on the way out.
        QVERIFY(QFileInfo(home + "/.config/Vantorel/Vantorel.conf").isFile());
    }
};

QTEST_GUILESS_MAIN(ProgramTest)
#include "test_program.moc"
