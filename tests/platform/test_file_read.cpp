#include "support/TestSupport.h"
#include "platform/FileRead.h"
#include "platform/ForeignError.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <sys/stat.h>

class TestFileRead : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString path(const QString& name) const { return m_dir.path() + "/" + name; }

private slots:
    void results_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("size"); // -1: no file
        QTest::addColumn<int>("status");
        QTest::newRow("empty") << "empty" << 0 << int(CappedFile::Status::Read);
        QTest::newRow("at the cap") << "at-cap" << 100 << int(CappedFile::Status::Read);
        QTest::newRow("one over the cap") << "over" << 101 << int(CappedFile::Status::TooLarge);
        QTest::newRow("far over the cap") << "large" << 1'000'000 << int(CappedFile::Status::TooLarge);
        QTest::newRow("missing") << "missing" << -1 << int(CappedFile::Status::Missing);
        QTest::newRow("folder on the way is a file") << "at-cap/inside" << -1 << int(CappedFile::Status::Missing);
    }
    void results()
    {
        QFETCH(QString, name);
        QFETCH(int, size);
        QFETCH(int, status);
        testsupport::writeFile(path("at-cap"), QByteArray(100, 'a'));
        if (size >= 0)
            testsupport::writeFile(path(name), QByteArray(size, 'a'));
        const CappedFile file = readFileCapped(path(name), 100);
        QCOMPARE(int(file.status), status);
        QCOMPARE(file.bytes.size(), status == int(CappedFile::Status::Read) ? size : 0);
    }

    void danglingLinkIsMissing()
    {
        QVERIFY(QFile::link(path("nowhere"), path("dangling")));
        QCOMPARE(readFileCapped(path("dangling"), 100).status, CappedFile::Status::Missing);
    }

    void otherFailuresThrow_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<long long>("code");
        QTest::newRow("folder") << "folder" << 21LL;  // EISDIR
        QTest::newRow("fifo") << "fifo" << 22LL;      // EINVAL, and no hang on open
    }
    void otherFailuresThrow()
    {
        QFETCH(QString, kind);
        QFETCH(long long, code);
        const QString p = path("odd-" + kind);
        if (kind == "folder")
            QDir().mkpath(p);
        else
            QCOMPARE(::mkfifo(QFile::encodeName(p).constData(), 0600), 0);
        try {
            readFileCapped(p, 100);
            QFAIL("no error");
        } catch (const ForeignError& e) {
            QCOMPARE(e.domain(), ForeignError::kPosixDomain);
            QCOMPARE(e.code(), code);
        }
    }

    void modificationTime()
    {
        testsupport::writeFile(path("stamped"), "x");
        QFile f(path("stamped"));
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(QDateTime::fromMSecsSinceEpoch(1'799'990'000'250LL, Qt::UTC), QFileDevice::FileModificationTime));
        QCOMPARE(fileModificationTimeSince1970(path("stamped")), std::optional(1'799'990'000.25));
        QVERIFY(!fileModificationTimeSince1970(path("missing")));
    }
};

QTEST_GUILESS_MAIN(TestFileRead)
#include "test_file_read.moc"
