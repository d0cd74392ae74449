#include "platform/ChildProcess.h"
#include "platform/ForeignError.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>
#include <optional>
#include <stdexcept>
#include <thread>

using Kind = WaitOutcome::Kind;
Q_DECLARE_METATYPE(Kind)
Q_DECLARE_METATYPE(ExitStatus)

char* toString(const ExitStatus& status)
{
    return QTest::toString(QStringLiteral("%1 %2").arg(status.signalled ? "signal" : "exit").arg(status.code));
}

namespace {

SpawnOptions fake(const QStringList& actions)
{
    SpawnOptions options;
    options.program = testsupport::fakeProgram(QStringLiteral("fake_program"));
    options.arguments = actions;
    options.stdoutMode = StreamMode::Pipe;
    options.stderrMode = StreamMode::Pipe;
    return options;
}

// Consumes lines until one equals `wanted`.
ChildProcess::Predicate lineEquals(const QByteArray& wanted)
{
    return [wanted](QByteArray& output) {
        while (auto line = ChildProcess::takeLine(output)) {
            if (*line == wanted)
                return true;
        }
        return false;
    };
}

double seconds()
{
    return SystemClock::shared().uptime();
}

double cpuSeconds()
{
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

WaitOutcome waitForExit(ChildProcess& child, double timeout = 10)
{
    return child.waitUntil(child.deadlineAfter(timeout), CancelToken(), nullptr);
}

} // namespace

class ChildProcessTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup()
    {
        QCOMPARE(testsupport::childProcessCount(), 0);
    }

    void waitOutcomes_data()
    {
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<double>("timeout");
        QTest::addColumn<qsizetype>("cap");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<ExitStatus>("exit");
        QTest::addColumn<double>("minElapsed");
        QTest::addColumn<double>("maxElapsed");

        const ExitStatus none;
        QTest::newRow("reply while the child runs on")
            << QStringList {"out=noise\\n\\nreply\\n", "sleep=10"} << 10.0 << qsizetype(2'000'000) << Kind::Ready << none << 0.0 << 2.0;
        QTest::newRow("reply split across writes")
            << QStringList {"out=rep", "sleep=0.05", "out=ly\\n", "sleep=10"} << 10.0 << qsizetype(2'000'000) << Kind::Ready << none << 0.0 << 2.0;
        QTest::newRow("reply written just before exit")
            << QStringList {"out=reply\\n", "exit=1"} << 10.0 << qsizetype(2'000'000) << Kind::Ready << none << 0.0 << 2.0;
        QTest::newRow("reply after a long line just before exit")
            << QStringList {"lots=60000", "out=\\nreply\\n", "exit=0"} << 10.0 << qsizetype(2'000'000) << Kind::Ready << none << 0.0 << 2.0;
        QTest::newRow("exit without reply")
            << QStringList {"out=partial", "exit=3"} << 10.0 << qsizetype(2'000'000) << Kind::Exited << ExitStatus {false, 3} << 0.0 << 2.0;
        QTest::newRow("killed by a signal")
            << QStringList {"out=noise\\n", "signal=9"} << 10.0 << qsizetype(2'000'000) << Kind::Exited << ExitStatus {true, SIGKILL} << 0.0 << 2.0;
        QTest::newRow("pipes closed while running, exit later")
            << QStringList {"close-stdout", "close-stderr", "sleep=0.3", "exit=4"} << 10.0 << qsizetype(2'000'000) << Kind::Exited << ExitStatus {false, 4} << 0.25 << 2.0;
        QTest::newRow("grandchild keeps the pipes open")
            << QStringList {"hold=1.5", "out=x", "exit=5"} << 10.0 << qsizetype(2'000'000) << Kind::Exited << ExitStatus {false, 5} << 0.0 << 1.0;
        QTest::newRow("deadline passed")
            << QStringList {"out=noise\\n", "sleep=10"} << 0.3 << qsizetype(2'000'000) << Kind::DeadlinePassed << none << 0.29 << 1.5;
        QTest::newRow("deadline passed after hang-up")
            << QStringList {"close-stdout", "close-stderr", "sleep=10"} << 0.3 << qsizetype(2'000'000) << Kind::DeadlinePassed << none << 0.29 << 1.5;
        QTest::newRow("deadline already passed")
            << QStringList {"sleep=10"} << -1.0 << qsizetype(2'000'000) << Kind::DeadlinePassed << none << 0.0 << 0.5;
        QTest::newRow("output cap")
            << QStringList {"lots=100000", "sleep=10"} << 10.0 << qsizetype(50'000) << Kind::OutputCapReached << none << 0.0 << 2.0;
        QTest::newRow("output one byte under the cap")
            << QStringList {"lots=49999", "exit=0"} << 10.0 << qsizetype(50'000) << Kind::Exited << ExitStatus {false, 0} << 0.0 << 2.0;
    }

    void waitOutcomes()
    {
        QFETCH(QStringList, actions);
        QFETCH(double, timeout);
        QFETCH(qsizetype, cap);
        QFETCH(Kind, kind);
        QFETCH(ExitStatus, exit);
        QFETCH(double, minElapsed);
        QFETCH(double, maxElapsed);

        SpawnOptions options = fake(actions);
        options.outputCap = cap;
        ChildProcess child = ChildProcess::start(options);
        const double started = seconds();
        const double cpuStarted = cpuSeconds();
        const WaitOutcome outcome = child.waitUntil(child.deadlineAfter(timeout), CancelToken(), lineEquals("reply"));
        const double elapsed = seconds() - started;
        const double cpu = cpuSeconds() - cpuStarted;

        QCOMPARE(outcome.kind, kind);
        if (kind == Kind::Exited) {
            QCOMPARE(outcome.exit, exit);
            QCOMPARE(child.exitStatus(), std::optional(exit));
            QVERIFY(!outcome.exit.succeeded() || exit == ExitStatus {});
        }
        QVERIFY2(elapsed >= minElapsed && elapsed <= maxElapsed, qPrintable(QString::number(elapsed)));
        // Waiting never spins: a wait on a silent child costs next to no processor time.
        QVERIFY2(cpu < std::max(0.1, 0.3 * elapsed), qPrintable(QString::number(cpu)));
    }

    void bufferCarriesOverBetweenWaits()
    {
        ChildProcess child = ChildProcess::start(fake({"out=first\\nsecond\\npartial", "exit=0"}));
        QCOMPARE(child.waitUntil(child.deadlineAfter(10), CancelToken(), lineEquals("first")).kind, Kind::Ready);
        // A reply already buffered is found without reading, even past the deadline.
        QCOMPARE(child.waitUntil(child.deadlineAfter(-1), CancelToken(), lineEquals("second")).kind, Kind::Ready);
        const WaitOutcome outcome = waitForExit(child);
        QCOMPARE(outcome.kind, Kind::Exited);
        QVERIFY(outcome.exit.succeeded());
        QCOMPARE(child.output(), QByteArray("partial"));
        QCOMPARE(ChildProcess::takeLine(child.output()), std::nullopt);
        child.output().append("\r\n");
        QCOMPARE(ChildProcess::takeLine(child.output()), std::optional<QByteArray>("partial\r"));
        QCOMPARE(child.output(), QByteArray());
    }

    void errorTail_data()
    {
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<qsizetype>("limit");
        QTest::addColumn<QByteArray>("expected");

        QByteArray counted;
        for (int i = 0; i < 3000; ++i)
            counted += QByteArray::number(i).rightJustified(6, '0') + '\n';
        QTest::newRow("keeps the last bytes") << QStringList {"errcount=3000", "exit=1"} << qsizetype(8192) << counted.right(8192);
        QTest::newRow("short text kept whole") << QStringList {"err=boom\\n", "exit=1"} << qsizetype(8192) << QByteArray("boom\n");
        QTest::newRow("larger limit keeps all") << QStringList {"errcount=3000", "exit=1"} << qsizetype(100'000) << counted;
        QTest::newRow("zero limit drops all") << QStringList {"errcount=3000", "exit=1"} << qsizetype(0) << QByteArray();
    }

    void errorTail()
    {
        QFETCH(QStringList, actions);
        QFETCH(qsizetype, limit);
        QFETCH(QByteArray, expected);

        SpawnOptions options = fake(actions);
        options.errorTailLimit = limit;
        ChildProcess child = ChildProcess::start(options);
        const WaitOutcome outcome = waitForExit(child);
        QCOMPARE(outcome.kind, Kind::Exited);
        QCOMPARE(outcome.exit, (ExitStatus {false, 1}));
        QCOMPARE(child.errorTail(), expected);
    }

    void cancel_data()
    {
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<double>("cancelAfter"); // negative: cancelled before the wait

        QTest::newRow("before the wait") << QStringList {"sleep=10"} << -1.0;
        QTest::newRow("during a poll") << QStringList {"sleep=10"} << 0.1;
        QTest::newRow("after hang-up") << QStringList {"close-stdout", "close-stderr", "sleep=10"} << 0.1;
    }

    void cancel()
    {
        QFETCH(QStringList, actions);
        QFETCH(double, cancelAfter);

        ChildProcess child = ChildProcess::start(fake(actions));
        CancelToken token;
        std::thread canceller;
        if (cancelAfter < 0)
            token.cancel();
        else
            canceller = std::thread([token, cancelAfter] {
                std::this_thread::sleep_for(std::chrono::duration<double>(cancelAfter));
                token.cancel();
            });
        const double started = seconds();
        const WaitOutcome outcome = child.waitUntil(child.deadlineAfter(10), token, nullptr);
        const double elapsed = seconds() - started;
        if (canceller.joinable())
            canceller.join();
        QCOMPARE(outcome.kind, Kind::Cancelled);
        // Within one 100 ms step of the cancel (with slack for a loaded machine).
        QVERIFY2(elapsed < std::max(cancelAfter, 0.0) + 0.4, qPrintable(QString::number(elapsed)));
        QVERIFY(!child.hasExited());
    }

    void terminate_data()
    {
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<bool>("useKill");
        QTest::addColumn<ExitStatus>("exit");
        QTest::addColumn<double>("minElapsed");
        QTest::addColumn<double>("maxElapsed");

        QTest::newRow("SIGTERM honoured") << QStringList {"out=ready\\n", "sleep=10"} << false << ExitStatus {true, SIGTERM} << 0.0 << 1.0;
        QTest::newRow("SIGTERM ignored: SIGKILL after the grace")
            << QStringList {"ignore-term", "out=ready\\n", "sleep=10"} << false << ExitStatus {true, SIGKILL} << 0.29 << 1.5;
        QTest::newRow("already exited") << QStringList {"out=ready\\n", "exit=6"} << false << ExitStatus {false, 6} << 0.0 << 1.0;
        QTest::newRow("kill at once") << QStringList {"ignore-term", "out=ready\\n", "sleep=10"} << true << ExitStatus {true, SIGKILL} << 0.0 << 0.25;
    }

    void terminate()
    {
        QFETCH(QStringList, actions);
        QFETCH(bool, useKill);
        QFETCH(ExitStatus, exit);
        QFETCH(double, minElapsed);
        QFETCH(double, maxElapsed);

        ChildProcess child = ChildProcess::start(fake(actions));
        QCOMPARE(child.waitUntil(child.deadlineAfter(10), CancelToken(), lineEquals("ready")).kind, Kind::Ready);
        if (!exit.signalled)
            QCOMPARE(waitForExit(child).kind, Kind::Exited);
        const double started = seconds();
        const ExitStatus status = useKill ? child.kill() : child.terminate(0.3);
        const double elapsed = seconds() - started;
        QCOMPARE(status, exit);
        QVERIFY(!status.succeeded());
        QVERIFY2(elapsed >= minElapsed && elapsed <= maxElapsed, qPrintable(QString::number(elapsed)));
        QCOMPARE(testsupport::childProcessCount(), 0);
        // A later terminate neither signals a reused process id nor changes the status.
        QCOMPARE(child.terminate(0.3), exit);
    }

    // A tool installed as a wrapper script that starts the real program as its
    // child: ending the tool ends both, also when the program ignores SIGTERM
    // and when the wrapper has already gone.
    void wrappedProgramEndsWithItsWrapper_data()
    {
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<bool>("wrapperWaits");
        QTest::addColumn<QString>("ending"); // "terminate", "kill" or "destroy"
        QTest::addColumn<double>("minElapsed");
        QTest::addColumn<double>("maxElapsed");

        const QStringList plain {"out=ready\\n", "sleep=30"};
        const QStringList stubborn {"ignore-term", "out=ready\\n", "sleep=30"};
        QTest::newRow("timeout") << plain << true << "terminate" << 0.0 << 1.0;
        QTest::newRow("timeout, program ignores SIGTERM: SIGKILL after the grace")
            << stubborn << true << "terminate" << 0.29 << 1.5;
        QTest::newRow("cancelled") << stubborn << true << "kill" << 0.0 << 0.25;
        QTest::newRow("owner gone, program ignores SIGTERM") << stubborn << true << "destroy" << 0.29 << 1.5;
        QTest::newRow("wrapper already ended, program ignores SIGTERM") << stubborn << false << "destroy" << 0.29 << 1.5;
    }

    void wrappedProgramEndsWithItsWrapper()
    {
        QFETCH(QStringList, actions);
        QFETCH(bool, wrapperWaits);
        QFETCH(QString, ending);
        QFETCH(double, minElapsed);
        QFETCH(double, maxElapsed);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString pidLog = dir.filePath("pids");
        QVERIFY(testsupport::writeWrapper(dir.filePath("tool"), testsupport::fakeProgram("fake_program"), pidLog, wrapperWaits));
        SpawnOptions options = fake(actions);
        options.program = dir.filePath("tool");
        options.stdinMode = StreamMode::Pipe;
        options.terminateGrace = 0.3;
        double elapsed = 0;
        QStringList pids;
        {
            std::optional<ChildProcess> child(ChildProcess::start(options));
            QCOMPARE(child->waitUntil(child->deadlineAfter(10), CancelToken(), lineEquals("ready")).kind, Kind::Ready);
            QTRY_COMPARE(testsupport::loggedProcessIds(pidLog).size(), 2);
            pids = testsupport::loggedProcessIds(pidLog);
            QCOMPARE(pids.first(), QString::number(child->pid()));
            if (!wrapperWaits)
                QCOMPARE(waitForExit(*child).exit, ExitStatus {});
            const double started = seconds();
            if (ending == "terminate") {
                QCOMPARE(child->waitUntil(child->deadlineAfter(0.05), CancelToken(), nullptr).kind, Kind::DeadlinePassed);
                child->terminate(0.3);
            } else if (ending == "kill") {
                CancelToken cancelled;
                cancelled.cancel();
                QCOMPARE(child->waitUntil(child->deadlineAfter(10), cancelled, nullptr).kind, Kind::Cancelled);
                child->kill();
            } else {
                child.reset();
            }
            elapsed = seconds() - started;
        }
        QVERIFY2(elapsed >= minElapsed && elapsed <= maxElapsed, qPrintable(QString::number(elapsed)));
        // The killed program needs a moment to go; none of it may stay.
        QTRY_COMPARE_WITH_TIMEOUT(testsupport::runningProcesses(pids), QStringList(), 5000);
    }

    void environmentAndWorkingFolder_data()
    {
        QTest::addColumn<bool>("ownEnvironment");
        QTest::addColumn<bool>("ownFolder");

        QTest::newRow("own environment and folder") << true << true;
        QTest::newRow("inherited environment and folder") << false << false;
    }

    void environmentAndWorkingFolder()
    {
        QFETCH(bool, ownEnvironment);
        QFETCH(bool, ownFolder);

        qputenv("VANTOREL_INHERITED", "inherited");
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        SpawnOptions options = fake({"env=VANTOREL_PROBE", "env=VANTOREL_INHERITED", "pwd"});
        if (ownEnvironment)
            options.environment = QMap<QString, QString> {{"VANTOREL_PROBE", "a value = with ünïcode"}};
        if (ownFolder)
            options.workingDirectory = folder.path();
        ChildProcess child = ChildProcess::start(options);
        QCOMPARE(waitForExit(child).kind, Kind::Exited);

        const QString expectedFolder = ownFolder ? QFileInfo(folder.path()).canonicalFilePath() : QDir::currentPath();
        const QByteArray expected = (ownEnvironment ? QByteArray("VANTOREL_PROBE=a value = with ünïcode\nVANTOREL_INHERITED unset\n")
                                                    : QByteArray("VANTOREL_PROBE unset\nVANTOREL_INHERITED=inherited\n"))
            + expectedFolder.toUtf8() + '\n';
        QCOMPARE(child.output(), expected);
        qunsetenv("VANTOREL_INHERITED");
    }

    void requestsAndRepliesAlternate()
    {
        SpawnOptions options = fake({"echo", "out=done\\n"});
        options.stdinMode = StreamMode::Pipe;
        ChildProcess child = ChildProcess::start(options);
        for (const QByteArray& request : {QByteArray("one"), QByteArray("two")}) {
            child.writeAll(request + '\n');
            QCOMPARE(child.waitUntil(child.deadlineAfter(10), CancelToken(), lineEquals(request)).kind, Kind::Ready);
        }
        child.closeStdin();
        child.closeStdin();
        QCOMPARE(child.waitUntil(child.deadlineAfter(10), CancelToken(), lineEquals("done")).kind, Kind::Ready);
        QCOMPARE(waitForExit(child).exit, ExitStatus {});
    }

    void pipesDoNotLeakIntoOtherChildren()
    {
        SpawnOptions options = fake({"echo"});
        options.stdinMode = StreamMode::Pipe;
        ChildProcess reader = ChildProcess::start(options);
        // Started while the reader's input pipe is open here; must not hold it.
        SpawnOptions quiet = fake({"sleep=10"});
        quiet.stdoutMode = quiet.stderrMode = StreamMode::Null;
        ChildProcess bystander = ChildProcess::start(quiet);
        reader.closeStdin();
        const WaitOutcome outcome = reader.waitUntil(reader.deadlineAfter(1.5), CancelToken(), nullptr);
        QCOMPARE(outcome.kind, Kind::Exited);
    }

    void nullStreams()
    {
        // Standard input at the null device reads as empty; output to it is dropped.
        SpawnOptions options = fake({"drain-stdin", "out=hidden", "err=shown", "exit=2"});
        options.stdoutMode = StreamMode::Null;
        ChildProcess child = ChildProcess::start(options);
        QVERIFY_THROWS_EXCEPTION(ForeignError, child.writeAll("x"));
        const WaitOutcome outcome = waitForExit(child);
        QCOMPARE(outcome.kind, Kind::Exited);
        QCOMPARE(outcome.exit, (ExitStatus {false, 2}));
        QCOMPARE(child.output(), QByteArray());
        QCOMPARE(child.errorTail(), QByteArray("shown"));

        // With no pipe at all the wait watches the child alone.
        SpawnOptions silent = fake({"out=hidden", "exit=7"});
        silent.stdoutMode = StreamMode::Null;
        silent.stderrMode = StreamMode::Null;
        ChildProcess quiet = ChildProcess::start(silent);
        QCOMPARE(waitForExit(quiet).exit, (ExitStatus {false, 7}));
    }

    void writeToExitedChildFails()
    {
        SpawnOptions options = fake({"close-stdin", "exit=0"});
        options.stdinMode = StreamMode::Pipe;
        ChildProcess child = ChildProcess::start(options);
        QCOMPARE(waitForExit(child).kind, Kind::Exited);
        try {
            child.writeAll(QByteArray(100'000, 'x'));
            QFAIL("the write succeeded");
        } catch (const ForeignError& error) {
            QCOMPARE(error.domain(), ForeignError::kPosixDomain);
            QCOMPARE(error.code(), EPIPE);
        }
        child.closeStdin();
        try {
            child.writeAll("x");
            QFAIL("the write succeeded");
        } catch (const ForeignError& error) {
            QCOMPARE(error.code(), EBADF);
        }
    }

    void startFailures_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("variable");
        QTest::addColumn<int>("error");

        const QString good = testsupport::fakeProgram("fake_program");
        QTest::newRow("no such program") << QStringLiteral("/nonexistent/fake") << QStringList() << QString() << QString() << ENOENT;
        QTest::newRow("not executable") << QStringLiteral(VANTOREL_TEST_DATA_DIR "/platform/test_child_process.cpp") << QStringList() << QString()
                                        << QString() << EACCES;
        QTest::newRow("a folder") << QStringLiteral("/tmp") << QStringList() << QString() << QString() << EACCES;
        QTest::newRow("no such working folder") << good << QStringList() << QStringLiteral("/nonexistent/folder") << QString() << ENOENT;
        QTest::newRow("NUL in an argument") << good << QStringList {QStringLiteral("out=a") + QChar(0)} << QString() << QString() << EINVAL;
        QTest::newRow("= in a variable name") << good << QStringList() << QString() << QStringLiteral("A=B") << EINVAL;
    }

    void startFailures()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(QString, folder);
        QFETCH(QString, variable);
        QFETCH(int, error);

        SpawnOptions options = fake(arguments);
        options.program = program;
        options.workingDirectory = folder;
        if (!variable.isEmpty())
            options.environment = QMap<QString, QString> {{variable, "x"}};
        try {
            ChildProcess::start(options);
            QFAIL("the program started");
        } catch (const ForeignError& failure) {
            QCOMPARE(failure.domain(), ForeignError::kPosixDomain);
            QCOMPARE(failure.code(), error);
        }
    }

    void childIsReapedWhenAStepThrows()
    {
        SpawnOptions options = fake({"ignore-term", "out=ready\\n", "sleep=10"});
        options.terminateGrace = 0.1;
        const double started = seconds();
        try {
            ChildProcess child = ChildProcess::start(options);
            ChildProcess moved = std::move(child);
            QCOMPARE(child.pid(), -1);
            moved.waitUntil(moved.deadlineAfter(10), CancelToken(), [](QByteArray& output) -> bool {
                if (output.contains('\n'))
                    throw std::runtime_error("bad reply");
                return false;
            });
            QFAIL("the predicate did not throw");
        } catch (const std::runtime_error&) {
        }
        QCOMPARE(testsupport::childProcessCount(), 0);
        QVERIFY(seconds() - started < 2.0);
    }

    void firstExecutable_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("expected");

        QTest::newRow("first executable file wins") << QStringList {"missing", "folder", "plain", "tool", "other"} << QStringLiteral("tool");
        QTest::newRow("none") << QStringList {"missing", "folder", "plain"} << QString();
        QTest::newRow("empty list") << QStringList() << QString();
    }

    void firstExecutable()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, expected);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QDir(dir.path()).mkdir("folder"));
        QVERIFY(testsupport::writeFile(dir.filePath("plain"), "text"));
        for (const char* name : {"tool", "other"}) {
            QVERIFY(testsupport::writeFile(dir.filePath(name), "#!/bin/sh\n"));
            QVERIFY(QFile::setPermissions(dir.filePath(name), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        }
        QStringList candidates;
        for (const QString& name : names)
            candidates << dir.filePath(name);
        const std::optional<QString> found = ::firstExecutable(candidates);
        QCOMPARE(found, expected.isEmpty() ? std::nullopt : std::optional(dir.filePath(expected)));
    }
};

QTEST_GUILESS_MAIN(ChildProcessTest)
#include "test_child_process.moc"
