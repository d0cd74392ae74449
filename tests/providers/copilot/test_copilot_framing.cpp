#include "providers/copilot/CopilotFraming.h"
#include "platform/StrictJson.h"

#include <QJsonObject>
#include <QtTest>

class CopilotFramingTest : public QObject {
    Q_OBJECT

private slots:
    void lengthHeader_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<qint64>("length"); // -1: no usable length

        QTest::newRow("plain") << QByteArray("Content-Length: 10") << qint64(10);
        QTest::newRow("capitals") << QByteArray("CONTENT-LENGTH: 10") << qint64(10);
        QTest::newRow("no space") << QByteArray("content-length:10") << qint64(10);
        QTest::newRow("tabs and spaces") << QByteArray("Content-Length: \t 7 \t") << qint64(7);
        QTest::newRow("other header first") << QByteArray("Content-Type: application/json\r\nContent-Length: 5") << qint64(5);
        QTest::newRow("other header after") << QByteArray("Content-Length: 5\r\nX-Extra: 1") << qint64(5);
        QTest::newRow("first length line wins") << QByteArray("Content-Length: 5\r\nContent-Length: 6") << qint64(5);
        QTest::newRow("plus sign") << QByteArray("Content-Length: +5") << qint64(5);
        QTest::newRow("minus zero") << QByteArray("Content-Length: -0") << qint64(0);
        QTest::newRow("zero") << QByteArray("Content-Length: 0") << qint64(0);
        QTest::newRow("limit") << QByteArray("Content-Length: 2000000") << qint64(2000000);
        QTest::newRow("over limit") << QByteArray("Content-Length: 2000001") << qint64(-1);
        QTest::newRow("huge") << QByteArray("Content-Length: 99999999999999999999999") << qint64(-1);
        QTest::newRow("negative") << QByteArray("Content-Length: -1") << qint64(-1);
        QTest::newRow("letters") << QByteArray("Content-Length: 12a") << qint64(-1);
        QTest::newRow("inner blank") << QByteArray("Content-Length: 1 2") << qint64(-1);
        QTest::newRow("sign only") << QByteArray("Content-Length: +") << qint64(-1);
        QTest::newRow("empty value") << QByteArray("Content-Length:") << qint64(-1);
        QTest::newRow("blank value") << QByteArray("Content-Length:   ") << qint64(-1);
        QTest::newRow("no length line") << QByteArray("Content-Type: text/plain") << qint64(-1);
        QTest::newRow("empty block") << QByteArray("") << qint64(-1);
        QTest::newRow("prefixed name") << QByteArray("X-Content-Length: 5") << qint64(-1);
        QTest::newRow("leading blank") << QByteArray(" Content-Length: 5") << qint64(-1);
        QTest::newRow("bad first length line") << QByteArray("Content-Length: x\r\nContent-Length: 5") << qint64(-1);
        QTest::newRow("bare line feeds are one line") << QByteArray("Content-Length: 5\nX: 1") << qint64(-1);
        QTest::newRow("invalid utf-8 elsewhere") << QByteArray("X-Name: \xff\xfe\r\nContent-Length: 3") << qint64(3);
    }
    void lengthHeader()
    {
        QFETCH(QByteArray, header);
        QFETCH(qint64, length);
        const auto parsed = CopilotFrameBuffer::announcedLength(header);
        QCOMPARE(parsed.value_or(-1), length);
    }

    void requestIsOneLengthLineAndCompactJson()
    {
        const QByteArray message = CopilotFrameBuffer::encodeRequest(2, QStringLiteral("account.getQuota"),
                                                                     {{QStringLiteral("selectionId"), QStringLiteral("sel-2")}});
        const qsizetype separator = message.indexOf("\r\n\r\n");
        QVERIFY(separator > 0);
        const QByteArray body = message.mid(separator + 4);
        QCOMPARE(message.left(separator), QByteArray("Content-Length: ") + QByteArray::number(body.size()));
        QVERIFY(!body.contains('\n') && !body.contains(' '));
        const QJsonObject request = json::parseObject(body);
        QCOMPARE(request.size(), 4);
        QCOMPARE(request.value("jsonrpc").toString(), QStringLiteral("2.0"));
        QVERIFY(request.value("id").isDouble());
        QCOMPARE(request.value("id").toInteger(), 2);
        QCOMPARE(request.value("method").toString(), QStringLiteral("account.getQuota"));
        QCOMPARE(request.value("params").toObject(), (QJsonObject {{"selectionId", "sel-2"}}));

        const QByteArray empty = CopilotFrameBuffer::encodeRequest(1, QStringLiteral("account.getAllUsers"), {});
        QCOMPARE(json::parseObject(empty.mid(empty.indexOf("\r\n\r\n") + 4)).value("params").toObject(), QJsonObject {});
    }

    void messagesComeOutWhateverTheChunking()
    {
        const QByteArray stream = QByteArray("Content-Type: x\r\nContent-Length: 3\r\n\r\n{a}")
            + "content-length:2\r\n\r\n[]" + "Content-Length: 4\r\n\r\nta";
        // One append, then byte by byte: the same two messages, the tail kept.
        for (int step : {int(stream.size()), 1}) {
            CopilotFrameBuffer buffer;
            QList<QByteArray> bodies;
            for (qsizetype at = 0; at < stream.size(); at += step) {
                buffer.append(stream.mid(at, step));
                QByteArray body;
                while (buffer.take(body) == CopilotFrameBuffer::Status::Message)
                    bodies.append(body);
            }
            QCOMPARE(bodies, (QList<QByteArray> {"{a}", "[]"}));
            QCOMPARE(buffer.size(), qsizetype(QByteArray("Content-Length: 4\r\n\r\nta").size()));
            QVERIFY(!buffer.isOverfull());
        }
    }

    void badHeaderLeavesTheBuffer()
    {
        CopilotFrameBuffer buffer;
        buffer.append("Content-Length: 2000001\r\n\r\n{}");
        QByteArray body;
        QCOMPARE(buffer.take(body), CopilotFrameBuffer::Status::BadHeader);
        QCOMPARE(buffer.size(), qsizetype(29));
    }

    // The size cap binds the whole message: a body of the full 2,000,000
    // bytes is fine at every fill level, an open header block is not.
    void sizeCap()
    {
        const QByteArray header = "X-Padding: abc\r\nContent-Length: 2000000\r\n\r\n";
        CopilotFrameBuffer buffer;
        buffer.append(header);
        QByteArray body;
        const QByteArray piece(100'000, 'x');
        for (int i = 0; i < 20; ++i) {
            QCOMPARE(buffer.take(body), CopilotFrameBuffer::Status::NeedMore);
            QVERIFY2(!buffer.isOverfull(), qPrintable(QString::number(buffer.size())));
            buffer.append(piece);
        }
        QVERIFY(buffer.size() > CopilotFrameBuffer::kMaxBodyBytes);
        QVERIFY(!buffer.isOverfull());
        QCOMPARE(buffer.take(body), CopilotFrameBuffer::Status::Message);
        QCOMPARE(body.size(), qsizetype(2'000'000));
        QVERIFY(buffer.isEmpty());

        CopilotFrameBuffer open;
        open.append(QByteArray(2'000'000, 'x'));
        QCOMPARE(open.take(body), CopilotFrameBuffer::Status::NeedMore);
        QVERIFY(!open.isOverfull());
        open.append("x");
        QCOMPARE(open.take(body), CopilotFrameBuffer::Status::NeedMore);
        QVERIFY(open.isOverfull());
    }
};

QTEST_GUILESS_MAIN(CopilotFramingTest)
#include "test_copilot_framing.moc"
