#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(ProcessEnvironment)

using paths::Flavor;

class TestPaths : public QObject {
    Q_OBJECT

private slots:
    void programCandidates_data()
    {
        QTest::addColumn<QStringList>("candidates");
        QTest::addColumn<QStringList>("expected");
        const QString h = QStringLiteral("/home/u");
        QTest::newRow("claude macOS") << paths::claudeProgramCandidates(h, Flavor::macOS)
                                      << QStringList {"/home/u/.local/bin/claude", "/opt/homebrew/bin/claude", "/usr/local/bin/claude"};
        QTest::newRow("claude Linux") << paths::claudeProgramCandidates(h, Flavor::Linux)
                                      << QStringList {"/home/u/.local/bin/claude", "/opt/homebrew/bin/claude", "/usr/local/bin/claude", "/usr/bin/claude"};
        QTest::newRow("codex macOS") << paths::codexProgramCandidates(h, Flavor::macOS)
                                     << QStringList {"/opt/homebrew/bin/codex", "/usr/local/bin/codex", "/home/u/.local/bin/codex"};
        QTest::newRow("codex Linux") << paths::codexProgramCandidates(h, Flavor::Linux)
                                     << QStringList {"/opt/homebrew/bin/codex", "/usr/local/bin/codex", "/home/u/.local/bin/codex", "/usr/bin/codex"};
        QTest::newRow("copilot macOS") << paths::copilotProgramCandidates(h + "/", Flavor::macOS)
                                       << QStringList {"/opt/homebrew/bin/copilot", "/usr/local/bin/copilot", "/home/u/.local/bin/copilot"};
        QTest::newRow("copilot Linux") << paths::copilotProgramCandidates(h, Flavor::Linux)
                                       << QStringList {"/opt/homebrew/bin/copilot", "/usr/local/bin/copilot", "/home/u/.local/bin/copilot", "/usr/bin/copilot"};
        QTest::newRow("node macOS") << paths::nodeProgramCandidates(h, Flavor::macOS)
                                    << QStringList {"/opt/homebrew/bin/node", "/usr/local/bin/node"};
        QTest::newRow("node Linux") << paths::nodeProgramCandidates(h, Flavor::Linux)
                                    << QStringList {"/opt/homebrew/bin/node", "/usr/local/bin/node", "/usr/bin/node", "/home/u/.local/bin/node"};
    }
    void programCandidates()
    {
        QFETCH(QStringList, candidates);
        QFETCH(QStringList, expected);
        QCOMPARE(candidates, expected);
    }

    void statusLineFolder_data()
    {
        QTest::addColumn<ProcessEnvironment>("environment");
        QTest::addColumn<int>("flavor");
        QTest::addColumn<QString>("folder");
        QTest::newRow("Linux default") << ProcessEnvironment {} << int(Flavor::Linux) << "/home/u/.local/share/Vantorel/statusline";
        QTest::newRow("Linux XDG") << ProcessEnvironment {{"XDG_DATA_HOME", "/data"}} << int(Flavor::Linux) << "/data/Vantorel/statusline";
        QTest::newRow("Linux XDG trailing slash") << ProcessEnvironment {{"XDG_DATA_HOME", "/data/"}} << int(Flavor::Linux) << "/data/Vantorel/statusline";
        QTest::newRow("Linux empty XDG") << ProcessEnvironment {{"XDG_DATA_HOME", ""}} << int(Flavor::Linux) << "/home/u/.local/share/Vantorel/statusline";
        QTest::newRow("Linux relative XDG") << ProcessEnvironment {{"XDG_DATA_HOME", "data"}} << int(Flavor::Linux) << "/home/u/.local/share/Vantorel/statusline";
        QTest::newRow("macOS ignores XDG") << ProcessEnvironment {{"XDG_DATA_HOME", "/data"}} << int(Flavor::macOS)
                                           << "/home/u/Library/Application Support/Vantorel/statusline";
    }
    void statusLineFolder()
    {
        QFETCH(ProcessEnvironment, environment);
        QFETCH(int, flavor);
        QFETCH(QString, folder);
        QCOMPARE(paths::statusLineFolder("/home/u", environment, Flavor(flavor)), folder);
    }

    void crashReportsFolder_data()
    {
        QTest::addColumn<ProcessEnvironment>("environment");
        QTest::addColumn<int>("flavor");
        QTest::addColumn<QString>("folder");
        QTest::newRow("Linux default") << ProcessEnvironment {} << int(Flavor::Linux) << "/home/u/.cache/Vantorel/crash-reports";
        QTest::newRow("Linux XDG") << ProcessEnvironment {{"XDG_CACHE_HOME", "/cache/"}} << int(Flavor::Linux)
                                   << "/cache/Vantorel/crash-reports";
        QTest::newRow("Linux relative XDG") << ProcessEnvironment {{"XDG_CACHE_HOME", "cache"}} << int(Flavor::Linux)
                                            << "/home/u/.cache/Vantorel/crash-reports";
        QTest::newRow("the data folder is not the cache") << ProcessEnvironment {{"XDG_DATA_HOME", "/data"}}
                                                          << int(Flavor::Linux) << "/home/u/.cache/Vantorel/crash-reports";
        QTest::newRow("macOS") << ProcessEnvironment {{"XDG_CACHE_HOME", "/cache"}} << int(Flavor::macOS)
                               << "/home/u/Library/Caches/Vantorel/crash-reports";
    }
    void crashReportsFolder()
    {
        QFETCH(ProcessEnvironment, environment);
        QFETCH(int, flavor);
        QFETCH(QString, folder);
        QCOMPARE(paths::crashReportsFolder("/home/u", environment, Flavor(flavor)), folder);
    }

    void standardizedResolvedPath()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString root = QFileInfo(tmp.path()).canonicalFilePath();
        QVERIFY(QDir().mkpath(root + "/real/inner"));
        QVERIFY(QFile::link(root + "/real", root + "/link"));
        QVERIFY(QFile::link("real/inner", root + "/relative-link"));

        const std::pair<QString, QString> cases[] = {
            {root + "/real", root + "/real"},
            {root + "/real/", root + "/real"},
            {root + "//real/./inner/..", root + "/real"},
            {root + "/link", root + "/real"},
            {root + "/link/inner", root + "/real/inner"},
            {root + "/relative-link", root + "/real/inner"},
            // Missing folders keep their tail; the links before it are resolved.
            {root + "/missing/.claude", root + "/missing/.claude"},
            {root + "/link/missing/deeper/", root + "/real/missing/deeper"},
            {root + "/link/missing/../inner", root + "/real/inner"},
            {"/", "/"},
        };
        for (const auto& [input, expected] : cases)
            QCOMPARE(paths::standardizedResolvedPath(input), expected);

        const QString current = QDir::currentPath();
        QDir::setCurrent(root);
        QCOMPARE(paths::standardizedResolvedPath("link/x"), root + "/real/x");
        QDir::setCurrent(current);
    }
};

QTEST_GUILESS_MAIN(TestPaths)
#include "test_paths.moc"
