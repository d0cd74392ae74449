#include "platform/FolderWatcher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

class FolderWatcherTest : public QObject {
    Q_OBJECT
private slots:
    void createsFolderPrivate();
    void changesRaiseEvents_data();
    void changesRaiseEvents();
    void unusablePathGivesNoWatcher();
};

void FolderWatcherTest::createsFolderPrivate()
{
    QTemporaryDir home;
    const QString folder = home.filePath(".local/share/Vantorel/statusline");
    auto watcher = FolderWatcher::create(folder, [] {});
    QVERIFY(watcher);
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(folder).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0700u);
    // An existing folder is accepted as it is.
    watcher.reset();
    QVERIFY(FolderWatcher::create(folder, [] {}));
}

void FolderWatcherTest::changesRaiseEvents_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("new file") << "create";
    QTest::newRow("renamed into place") << "rename";
    QTest::newRow("removed") << "remove";
    QTest::newRow("rewritten in place") << "rewrite";
}

void FolderWatcherTest::changesRaiseEvents()
{
    QFETCH(QString, change);
    QTemporaryDir dir;
    const QString file = dir.filePath("claude-abc.json");
    if (change == "remove" || change == "rewrite") {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("{}");
    }
    int calls = 0;
    auto watcher = FolderWatcher::create(dir.path(), [&] { ++calls; });
    QVERIFY(watcher);
    QTest::qWait(20);
    QCOMPARE(calls, 0); // no events, no work

    if (change == "create" || change == "rewrite") {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("{\"a\":1}");
    } else if (change == "rename") {
        QFile f(dir.filePath(".tmp-1"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("{}");
        f.close();
        QVERIFY(QFile::rename(dir.filePath(".tmp-1"), file));
    } else {
        QVERIFY(QFile::remove(file));
    }
    QTRY_VERIFY_WITH_TIMEOUT(calls >= 1, 5000);
    // The burst (create, write, close, rename) is delivered together.
    QTest::qWait(50);
    QVERIFY(calls <= 2);
}

void FolderWatcherTest::unusablePathGivesNoWatcher()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("plain-file");
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QVERIFY(!FolderWatcher::create(file, [] {}));
    QVERIFY(!FolderWatcher::create(file + "/below", [] {}));
}

QTEST_GUILESS_MAIN(FolderWatcherTest)
#include "test_folder_watcher.moc"
