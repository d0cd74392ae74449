#include "providers/ProviderFixtures.h"
#include "support/TestSupport.h"
#include "platform/ForeignError.h"
#include "platform/Paths.h"
#include "providers/claude/ClaudeControlTransport.h"
#include "usage/ChildProcessEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QtTest>

#include <chrono>
#include <thread>

namespace {

const QString kNotAnswered = QStringLiteral("Claude Code не ответил вовремя.");
const QString kTooLarge = QStringLiteral("Слишком большой ответ Claude Code.");
const QString kRefusedHead = QStringLiteral("Claude Code не выполнил запрос лимитов");
const QString kRefusedTail = QStringLiteral(". Если ошибка повторяется, обновите Claude Code.");

const QJsonObject kPayload {{"rate_limits_available", true}, {"subscription_type", "pro"},
                            {"rate_limits", QJsonObject {{"five_hour", QJsonObject {{"utilization", 12}}}}}};

QJsonObject success(const QJsonObject& payload = kPayload)
{
    return {{"respond", QJsonObject {{"subtype", "success"}, {"response", payload}}}};
}
QJsonObject write(const QString& text) { return {{"write", text}}; }
QJsonObject sleepMs(int ms) { return {{"sleepMs", ms}}; }
QString line(const QJsonObject& o) { return QString::fromUtf8(fixtures::bytes(o)) + "\n"; }

// The outcome of one run: the payload, or the code and message of the error.
struct Outcome {
    std::optional<QJsonObject> payload;
    QString code;
    QString message;
};

} // namespace

class TestClaudeControlTransport : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_scenarios = 0;

    // A transport that runs the fake program with `scenario`; its log goes to `logPath()`.
    ClaudeControlTransport transport(QJsonObject scenario, double timeout = 20)
    {
        scenario.insert("log", logPath());
        const QString path = m_dir.path() + QStringLiteral("/scenario-%1.json").arg(++m_scenarios);
        testsupport::writeFile(path, fixtures::bytes(scenario));
        ProcessEnvironment env = systemEnvironment();
        env.insert("FAKE_CLAUDE_SCENARIO", path);
        return ClaudeControlTransport {std::nullopt, testsupport::fakeProgram("fake_claude"), env, timeout};
    }
    QString logPath() const { return m_dir.path() + "/log.json"; }
    QJsonObject log() const
    {
        QFile f(logPath());
        return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object() : QJsonObject();
    }
    static Outcome outcome(const ClaudeControlTransport& t, const CancelToken& cancel = CancelToken())
    {
        try {
            return {fixtures::object(t.run(cancel)), {}, {}};
        } catch (...) {
            const ProviderClientError e = ProviderClientError::from(std::current_exception());
            return {std::nullopt, e.errorCode(), e.errorDescription()};
        }
    }

private slots:
    void init() { QFile::remove(logPath()); }
    void cleanup() { QCOMPARE(testsupport::childProcessCount(), 0); }

    void requestLineAndArguments()
    {
        QCOMPARE(ClaudeControlTransport::requestLine().size(), 107);
        QCOMPARE(ClaudeControlTransport::requestLine(),
                 QByteArray(R"({"type":"control_request","request_id":"vl-usage","request":{"subtype":"get_usage","skip_behaviors":true}})"
                            "\n"));
        QCOMPARE(ClaudeControlTransport::arguments(),
                 (QStringList {"-p", "--input-format", "stream-json", "--output-format", "stream-json", "--verbose", "--setting-sources", "",
                               "--settings", R"({"disableAllHooks":true})", "--strict-mcp-config", "--mcp-config", R"({"mcpServers":{}})",
                               "--tools", "", "--no-session-persistence"}));
    }

    void whatTheProgramGets_data()
    {
        QTest::addColumn<std::optional<QString>>("directory");
        QTest::newRow("profile folder") << std::optional<QString>("/home/a/.claude-work");
        QTest::newRow("default folder") << std::optional<QString>();
    }
    void whatTheProgramGets()
    {
        QFETCH(std::optional<QString>, directory);
        ClaudeControlTransport t = transport(QJsonObject {{"steps", QJsonArray {success()}}});
        t.directory = directory;
        t.environment.insert("ANTHROPIC_API_KEY", "sk-secret");
        t.environment.insert("CLAUDE_CONFIG_DIR", "/elsewhere");
        t.environment.insert("CLAUDE_CODE_ENTRYPOINT", "cli");
        t.environment.insert("CLAUDECODE", "1");
        t.environment.insert("CLAUDECODE_EXTRA", "kept");
        t.environment.insert("NODE_OPTIONS", "--inspect");
        t.environment.insert("PATH", "/usr/bin:/bin");
        t.environment.insert("MY_CLAUDE_SETTING", "kept");
        QCOMPARE(outcome(t).payload, std::optional(kPayload));

        const QJsonObject seen = log();
        QCOMPARE(seen.value("input").toString().toUtf8(), ClaudeControlTransport::requestLine()); // and nothing more: input closed
        QStringList arguments;
        for (const QJsonValue& a : seen.value("arguments").toArray())
            arguments << a.toString();
        QCOMPARE(arguments, ClaudeControlTransport::arguments());
        QCOMPARE(QFileInfo(seen.value("directory").toString()).canonicalFilePath(), QFileInfo(QDir::tempPath()).canonicalFilePath());

        const QJsonObject env = seen.value("environment").toObject();
        for (const QString& name : env.keys()) {
            QVERIFY2(!name.startsWith("ANTHROPIC_") && name != "CLAUDECODE" && name != "NODE_OPTIONS", qPrintable(name));
            QVERIFY2(!name.startsWith("CLAUDE_") || name == "CLAUDE_CONFIG_DIR", qPrintable(name));
        }
        QCOMPARE(env.contains("CLAUDE_CONFIG_DIR"), directory.has_value());
        if (directory)
            QCOMPARE(env.value("CLAUDE_CONFIG_DIR").toString(), *directory);
        QCOMPARE(env.value("DISABLE_AUTOUPDATER").toString(), QString("1"));
        QCOMPARE(env.value("CLAUDECODE_EXTRA").toString(), QString("kept"));
        QCOMPARE(env.value("MY_CLAUDE_SETTING").toString(), QString("kept"));
        QCOMPARE(env.value("PATH").toString(),
                 QFileInfo(testsupport::fakeProgram("fake_claude")).absolutePath() + ":/opt/homebrew/bin:/usr/local/bin:/usr/bin:/bin");
    }

    void childEnvironment()
    {
        const ProcessEnvironment base {{"PATH", "/bin"}, {"CLAUDE_CONFIG_DIR", "/old"}, {"ANTHROPIC_BASE_URL", "x"}, {"HOME", "/home/a"}};
        ProcessEnvironment expected = childProcessEnvironment(base, "/opt/claude/bin/claude");
        expected.remove("CLAUDE_CONFIG_DIR");
        expected.remove("ANTHROPIC_BASE_URL");
        expected.insert("DISABLE_AUTOUPDATER", "1");
        QCOMPARE(ClaudeControlTransport::childEnvironment(base, std::nullopt, "/opt/claude/bin/claude"), expected);
        expected.insert("CLAUDE_CONFIG_DIR", "/new");
        QCOMPARE(ClaudeControlTransport::childEnvironment(base, QString("/new"), "/opt/claude/bin/claude"), expected);
    }

    void answers_data()
    {
        QTest::addColumn<QJsonObject>("scenario");
        QTest::addColumn<double>("timeout");
        QTest::addColumn<QString>("code"); // empty: success with kPayload
        QTest::addColumn<QString>("message");

        const QJsonObject answer {{"type", "control_response"},
                                  {"response", QJsonObject {{"request_id", "vl-usage"}, {"subtype", "success"}, {"response", kPayload}}}};
        const QJsonObject otherAnswer {{"type", "control_response"},
                                       {"response", QJsonObject {{"request_id", "vl-usage"}, {"subtype", "success"}, {"response", QJsonObject {{"other", 1}}}}}};
        auto steps = [](QJsonArray s, const QString& end = "exit") { return QJsonObject {{"steps", s}, {"end", end}}; };
        auto refused = [](const QJsonObject& response) { return QJsonObject {{"respond", response}}; };

        QTest::newRow("answer") << steps({success()}) << 20.0 << "" << "";
        QTest::newRow("after other lines")
            << steps({write("\n"), write("not json\n"), write("[1,2]\n"), write("\"control_response\"\n"),
                      write(line({{"type", "system"}, {"subtype", "init"}})), write(line({{"type", "control_response"}})),
                      write(line({{"type", "control_response"}, {"response", "vl-usage"}})),
                      write(line({{"type", "control_response"}, {"response", QJsonObject {{"subtype", "success"}, {"response", QJsonObject {}}}}})),
                      write(line({{"type", "control_response"}, {"response", QJsonObject {{"request_id", "other"}, {"subtype", "error"}}}})),
                      write(line({{"type", "control_response"}, {"response", QJsonObject {{"request_id", 7}, {"subtype", "error"}}}})),
                      success()})
            << 20.0 << "" << "";
        const QString whole = line(answer);
        QTest::newRow("split over reads") << steps({write(whole.left(40)), sleepMs(150), write(whole.mid(40))}) << 20.0 << "" << "";
        QTest::newRow("first of two in one read") << steps({write(whole + line(otherAnswer))}) << 20.0 << "" << "";
        QTest::newRow("answer, then exit at once") << steps({success(), QJsonObject {{"exit", 0}}}) << 20.0 << "" << "";
        QTest::newRow("late answer") << steps({sleepMs(300), success()}) << 20.0 << "" << "";
        QTest::newRow("answer after a long stream") << steps({QJsonObject {{"fill", QJsonObject {{"text", "{\"type\":\"stream_event\"}\n"}, {"count", 150000}}}}, success()})
                                                   << 20.0 << "" << "";

        QTest::newRow("refused with error") << steps({refused({{"subtype", "error"}, {"error", "Not logged in"}})}) << 20.0 << "REQUEST_FAILED"
                                            << kRefusedHead + ": Not logged in" + kRefusedTail;
        QTest::newRow("refused without error") << steps({refused({{"subtype", "error"}})}) << 20.0 << "REQUEST_FAILED" << kRefusedHead + kRefusedTail;
        QTest::newRow("error not a string") << steps({refused({{"subtype", "error"}, {"error", QJsonObject {{"message", "x"}}}})}) << 20.0
                                            << "REQUEST_FAILED" << kRefusedHead + kRefusedTail;
        QTest::newRow("success without object payload") << steps({refused({{"subtype", "success"}, {"response", "limits"}})}) << 20.0
                                                        << "REQUEST_FAILED" << kRefusedHead + kRefusedTail;
        QTest::newRow("success without payload") << steps({refused({{"subtype", "success"}})}) << 20.0 << "REQUEST_FAILED" << kRefusedHead + kRefusedTail;
        QTest::newRow("token in the error") << steps({refused({{"subtype", "error"}, {"error", "bad Bearer abc123 given"}})}) << 20.0
                                            << "REQUEST_FAILED" << kRefusedHead + ": bad [redacted] given" + kRefusedTail;
        QTest::newRow("10000-character error") << steps({refused({{"subtype", "error"}, {"error", QString(10000, 'e')}})}) << 20.0
                                               << "REQUEST_FAILED" << kRefusedHead + ": " + QString(8192, 'e') + kRefusedTail;

        QTest::newRow("exits without answer") << steps({write("{\"type\":\"system\"}\n")}) << 20.0 << "TIMEOUT" << kNotAnswered;
        QTest::newRow("exits early, input unread") << QJsonObject {{"readInput", false}, {"steps", QJsonArray {sleepMs(300), QJsonObject {{"exit", 3}}}}} << 20.0
                                                   << "TIMEOUT" << kNotAnswered;
        QTest::newRow("garbage, then exit") << steps({write("\x01\x02garbage without end")}) << 20.0 << "TIMEOUT" << kNotAnswered;
        QTest::newRow("silent") << steps({}, "hang") << 0.5 << "TIMEOUT" << kNotAnswered;
        QTest::newRow("output closed, still running") << steps({QJsonObject {{"closeStdout", true}}}, "hang") << 0.5 << "TIMEOUT" << kNotAnswered;
        QTest::newRow("too late") << steps({sleepMs(1500), success()}) << 0.3 << "TIMEOUT" << kNotAnswered;
        QTest::newRow("no time") << steps({success()}) << 0.0 << "TIMEOUT" << kNotAnswered;
        QTest::newRow("negative time") << steps({success()}) << -1.0 << "TIMEOUT" << kNotAnswered;
        QTest::newRow("2000000 bytes without line feed") << steps({QJsonObject {{"fill", QJsonObject {{"count", 2000000}}}}}, "hang") << 20.0
                                                         << "INVALID_RESPONSE" << kTooLarge;
        QTest::newRow("2000000 bytes, then exit") << steps({QJsonObject {{"fill", QJsonObject {{"count", 2000000}}}}}) << 20.0
                                                  << "INVALID_RESPONSE" << kTooLarge;
        // The cap is checked on each read before its lines are taken out.
        QTest::newRow("line feed as the 2000000th byte") << steps({QJsonObject {{"fill", QJsonObject {{"count", 1999999}}}}, write("\n"), success()})
                                                         << 20.0 << "INVALID_RESPONSE" << kTooLarge;
        QTest::newRow("1999999 bytes without line feed") << steps({QJsonObject {{"fill", QJsonObject {{"count", 1999999}}}}}) << 20.0 << "TIMEOUT"
                                                         << kNotAnswered;
    }
    void answers()
    {
        QFETCH(QJsonObject, scenario);
        QFETCH(double, timeout);
        QFETCH(QString, code);
        QFETCH(QString, message);
        QElapsedTimer timer;
        timer.start();
        const Outcome o = outcome(transport(scenario, timeout));
        if (code.isEmpty()) {
            QCOMPARE(o.code, QString());
            QCOMPARE(o.payload, std::optional(kPayload));
        } else {
            QVERIFY(!o.payload);
            QCOMPARE(o.code, code);
            QCOMPARE(o.message, message);
        }
        // A program that ends, or refuses, is never waited for until the deadline.
        if (timeout >= 20)
            QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
    }

    void programIgnoringTerminateIsKilled()
    {
        QElapsedTimer timer;
        timer.start();
        const Outcome o = outcome(transport(QJsonObject {{"ignoreTerm", true}, {"steps", QJsonArray {success()}}, {"end", "hang"}}));
        QCOMPARE(o.payload, std::optional(kPayload));
        QVERIFY(timer.elapsed() >= 400); // the grace, then SIGKILL
        QVERIFY(timer.elapsed() < 10000);
    }

    void cancellingEndsTheProgram()
    {
        const ClaudeControlTransport t = transport(QJsonObject {{"ignoreTerm", true}, {"end", "hang"}});
        CancelToken cancel;
        std::thread canceller([cancel] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            cancel.cancel();
        });
        QElapsedTimer timer;
        timer.start();
        bool cancelled = false;
        try {
            t.run(cancel);
        } catch (const CancellationError&) {
            cancelled = true;
        } catch (...) {
        }
        canceller.join();
        QVERIFY(cancelled);
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
    }

    void missingProgramPassesTheStartError()
    {
        ClaudeControlTransport t = transport({});
        t.executable = m_dir.path() + "/no-such-claude";
        try {
            t.run();
            QFAIL("no error");
        } catch (const ForeignError& e) {
            QCOMPARE(e.domain(), ForeignError::kPosixDomain);
            QCOMPARE(e.code(), 2LL); // ENOENT
        }
    }

    void programSearch()
    {
        const QString home = m_dir.path() + "/home";
        const QByteArray savedHome = qgetenv("HOME");
        qputenv("HOME", home.toUtf8());
        const QStringList candidates = paths::claudeProgramCandidates(home);
        bool systemHasOne = false;
        for (const QString& c : candidates)
            systemHasOne = systemHasOne || (!c.startsWith(home) && QFileInfo(c).isExecutable());

        ClaudeControlTransport t = transport(QJsonObject {{"steps", QJsonArray {success()}}});
        t.executable.reset();
        if (!systemHasOne) {
            const Outcome missing = outcome(t);
            QCOMPARE(missing.code, QString("CLI_NOT_FOUND"));
            QCOMPARE(missing.message, QString("Установите Claude Code и войдите в нужный профиль."));
        }
        QDir().mkpath(home + "/.local/bin");
        QVERIFY(QFile::link(testsupport::fakeProgram("fake_claude"), home + "/.local/bin/claude"));
        QCOMPARE(candidates.first(), home + "/.local/bin/claude");
        QCOMPARE(outcome(t).payload, std::optional(kPayload));
        qputenv("HOME", savedHome);
    }
};

QTEST_GUILESS_MAIN(TestClaudeControlTransport)
#include "test_claude_control_transport.moc"
