#include "usage/ChildProcessEnvironment.h"

#include <QTest>

Q_DECLARE_METATYPE(ProcessEnvironment)

class TestChildProcessEnvironment : public QObject {
    Q_OBJECT

private slots:
    void searchPath_data()
    {
        QTest::addColumn<ProcessEnvironment>("base");
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("path");
        QTest::newRow("program in homebrew") << ProcessEnvironment {{"PATH", "/usr/bin:/bin"}} << "/opt/homebrew/bin/codex"
                                             << "/opt/homebrew/bin:/usr/local/bin:/usr/bin:/bin";
        QTest::newRow("no PATH") << ProcessEnvironment {} << "/home/u/.local/bin/claude"
                                 << "/home/u/.local/bin:/opt/homebrew/bin:/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin";
        QTest::newRow("no PATH, program in /usr/bin") << ProcessEnvironment {} << "/usr/bin/node"
                                                      << "/usr/bin:/opt/homebrew/bin:/usr/local/bin:/bin:/usr/sbin:/sbin";
        QTest::newRow("empty PATH is no fallback") << ProcessEnvironment {{"PATH", ""}} << "/x/y/codex"
                                                   << "/x/y:/opt/homebrew/bin:/usr/local/bin";
        QTest::newRow("empty entries") << ProcessEnvironment {{"PATH", ":/usr/bin::/bin:"}} << "/x/codex"
                                       << "/x:/opt/homebrew/bin:/usr/local/bin:/usr/bin:/bin";
        QTest::newRow("texts compared exactly") << ProcessEnvironment {{"PATH", "/usr/local/bin/:/usr/local/bin:/USR/LOCAL/BIN:/a/../usr/bin"}} << "/x/codex"
                                                << "/x:/opt/homebrew/bin:/usr/local/bin:/usr/local/bin/:/USR/LOCAL/BIN:/a/../usr/bin";
        QTest::newRow("later duplicates dropped") << ProcessEnvironment {{"PATH", "/b:/a:/b:/a"}} << "/a/tool"
                                                  << "/a:/opt/homebrew/bin:/usr/local/bin:/b";
        QTest::newRow("program at the top") << ProcessEnvironment {{"PATH", "/bin"}} << "/tool" << "/:/opt/homebrew/bin:/usr/local/bin:/bin";
    }
    void searchPath()
    {
        QFETCH(ProcessEnvironment, base);
        QFETCH(QString, program);
        QFETCH(QString, path);
        QCOMPARE(childProcessEnvironment(base, program).value("PATH"), path);
    }

    void otherVariables()
    {
        const ProcessEnvironment base {{"PATH", "/bin"}, {"NODE_OPTIONS", "--inspect"}, {"HOME", "/home/u"},
                                       {"CLAUDECODE", "1"}, {"EMPTY", ""}};
        const ProcessEnvironment env = childProcessEnvironment(base, "/usr/bin/node");
        QVERIFY(!env.contains("NODE_OPTIONS"));
        QCOMPARE(env.value("HOME"), QStringLiteral("/home/u"));
        QCOMPARE(env.value("CLAUDECODE"), QStringLiteral("1"));
        QVERIFY(env.contains("EMPTY"));
        QCOMPARE(env.size(), base.size() - 1);
        QVERIFY(!childProcessEnvironment({}, "/usr/bin/node").contains("NODE_OPTIONS"));
        QCOMPARE(childProcessEnvironment({}, "/usr/bin/node").size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestChildProcessEnvironment)
#include "test_child_process_environment.moc"
