#include "platform/StrictJson.h"
#include "platform/TimestampJson.h"

#include <QTest>
#include <limits>

using Read = std::function<void(const json::Reader&)>;
Q_DECLARE_METATYPE(Read)

namespace {

json::Reader readerOf(const char* text)
{
    return json::Reader(json::parseObject(QByteArray(text)));
}

} // namespace

class TestStrictJson : public QObject {
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("ok");
        QTest::newRow("object") << QByteArray(R"({"a":1})") << true;
        QTest::newRow("top-level number") << QByteArray("12") << true;
        QTest::newRow("top-level string") << QByteArray(R"("x")") << true;
        QTest::newRow("top-level null") << QByteArray("null") << true;
        QTest::newRow("blanks around") << QByteArray(" \n[1] \t") << true;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("blank") << QByteArray("  ") << false;
        QTest::newRow("two values") << QByteArray("1,2") << false;
        QTest::newRow("two documents") << QByteArray("[1][2]") << false;
        QTest::newRow("bracket injection") << QByteArray("1],[2") << false;
        QTest::newRow("trailing comma") << QByteArray("[1,]") << false;
        QTest::newRow("truncated") << QByteArray(R"({"a":)") << false;
        QTest::newRow("NaN literal") << QByteArray("NaN") << false;
    }
    void parse()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, ok);
        if (ok) {
            json::parse(bytes);
        } else {
            try {
                json::parse(bytes);
                QFAIL("parsed");
            } catch (const json::DecodeError& e) {
                QCOMPARE(e.kind(), json::DecodeError::NotJson);
                QCOMPARE(e.code(), 3840);
                QCOMPARE(e.domain(), ForeignError::kCocoaDomain);
            }
        }
    }

    void parseObjectNeedsObject()
    {
        QVERIFY_THROWS_EXCEPTION(json::DecodeError, json::parseObject("[1]"));
        QVERIFY_THROWS_EXCEPTION(json::DecodeError, json::parseObject("12"));
    }

    void integers_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<qint64>("value");
        QTest::newRow("12") << QByteArray("12") << true << qint64(12);
        QTest::newRow("12.0") << QByteArray("12.0") << true << qint64(12);
        QTest::newRow("1.2e1") << QByteArray("1.2e1") << true << qint64(12);
        QTest::newRow("-0") << QByteArray("-0") << true << qint64(0);
        QTest::newRow("negative") << QByteArray("-7") << true << qint64(-7);
        QTest::newRow("int64 max exact") << QByteArray("9223372036854775807") << true << std::numeric_limits<qint64>::max();
        QTest::newRow("int64 min exact") << QByteArray("-9223372036854775808") << true << std::numeric_limits<qint64>::min();
        QTest::newRow("above 2^53 exact") << QByteArray("9007199254740993") << true << qint64(9007199254740993LL);
        QTest::newRow("12.5") << QByteArray("12.5") << false << qint64(0);
        QTest::newRow("tiny fraction") << QByteArray("12.000001") << false << qint64(0);
        QTest::newRow("beyond int64") << QByteArray("9223372036854775808") << false << qint64(0);
        QTest::newRow("1e300") << QByteArray("1e300") << false << qint64(0);
        QTest::newRow("string") << QByteArray(R"("12")") << false << qint64(0);
        QTest::newRow("bool") << QByteArray("true") << false << qint64(0);
        QTest::newRow("null") << QByteArray("null") << false << qint64(0);
    }
    void integers()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, ok);
        QFETCH(qint64, value);
        const QJsonValue v = json::parse(bytes);
        if (ok)
            QCOMPARE(json::toInteger(v), value);
        else
            QVERIFY_THROWS_EXCEPTION(json::DecodeError, json::toInteger(v));
    }

    void scalarTypes()
    {
        QCOMPARE(json::toDouble(json::parse("12")), 12.0);
        QVERIFY_THROWS_EXCEPTION(json::DecodeError, json::toDouble(json::parse(R"("1.5")")));
        QVERIFY_THROWS_EXCEPTION(json::DecodeError, json::toBool(json::parse("1")));
        QVERIFY_THROWS_EXCEPTION(json::DecodeError, json::toString(json::parse("1")));
        QVERIFY_THROWS_EXCEPTION(json::DecodeError, json::toArray(json::parse("{}")));
        QVERIFY_THROWS_EXCEPTION(json::DecodeError, json::toObject(json::parse("[]")));
    }

    void reader_data()
    {
        QTest::addColumn<Read>("read");
        QTest::addColumn<int>("code"); // 0: decodes; else the error code (4865 absent or null, 4864 wrong type)
        auto r = [](Read f) { return f; };
        QTest::newRow("required present") << r([](const json::Reader& x) { QCOMPARE(x.string("s"), QStringLiteral("x")); }) << 0;
        QTest::newRow("required absent") << r([](const json::Reader& x) { x.string("missing"); }) << 4865;
        QTest::newRow("required null") << r([](const json::Reader& x) { x.string("n"); }) << 4865;
        QTest::newRow("required mistyped") << r([](const json::Reader& x) { x.integer("s"); }) << 4864;
        QTest::newRow("optional absent is none") << r([](const json::Reader& x) { QVERIFY(!x.optString("missing")); }) << 0;
        QTest::newRow("optional null is none") << r([](const json::Reader& x) { QVERIFY(!x.optString("n") && !x.optInteger("n") && !x.optBoolean("n") && !x.optObject("n") && !x.optArray("n")); }) << 0;
        QTest::newRow("optional mistyped fails") << r([](const json::Reader& x) { x.optString("i"); }) << 4864;
        QTest::newRow("optional fractional integer fails") << r([](const json::Reader& x) { x.optInteger("f"); }) << 4864;
        QTest::newRow("optional bool mistyped") << r([](const json::Reader& x) { x.optBoolean("i"); }) << 4864;
        QTest::newRow("optional object mistyped") << r([](const json::Reader& x) { x.optObject("a"); }) << 4864;
        QTest::newRow("optional number accepts integer") << r([](const json::Reader& x) { QCOMPARE(x.optNumber("i"), std::optional(3.0)); }) << 0;
        QTest::newRow("nested object") << r([](const json::Reader& x) { QCOMPARE(x.object("o").integer("k"), 1); }) << 0;
        QTest::newRow("nested missing") << r([](const json::Reader& x) { x.object("o").integer("z"); }) << 4865;
        QTest::newRow("array of") << r([](const json::Reader& x) {
            const auto v = x.arrayOf<qint64>("a", [](const QJsonValue& e, const QString& p) { return json::toInteger(e, p); });
            QCOMPARE(v, (std::vector<qint64> {1, 2}));
        }) << 0;
        QTest::newRow("array of fails as a whole") << r([](const json::Reader& x) {
            x.arrayOf<QString>("a", [](const QJsonValue& e, const QString& p) { return json::toString(e, p); });
        }) << 4864;
        QTest::newRow("optional array of null") << r([](const json::Reader& x) {
            QVERIFY(!x.optArrayOf<qint64>("n", [](const QJsonValue& e, const QString& p) { return json::toInteger(e, p); }));
        }) << 0;
        QTest::newRow("hasValue") << r([](const json::Reader& x) { QVERIFY(x.has("n") && !x.hasValue("n") && x.hasValue("b") && !x.has("zz")); }) << 0;
    }
    void reader()
    {
        QFETCH(Read, read);
        QFETCH(int, code);
        const json::Reader doc = readerOf(R"({"s":"x","n":null,"i":3,"f":2.5,"b":false,"o":{"k":1},"a":[1,2]})");
        if (code == 0) {
            read(doc);
            return;
        }
        try {
            read(doc);
            QFAIL("decoded");
        } catch (const json::DecodeError& e) {
            QCOMPARE(int(e.code()), code);
        }
    }

    void errorsNameThePath()
    {
        try {
            readerOf(R"({"outer":{"list":[{"id":1}]}})").object("outer").arrayOf<QString>("list", [](const QJsonValue& v, const QString& p) {
                return json::Reader::fromValue(v, p).string("id");
            });
            QFAIL("decoded");
        } catch (const json::DecodeError& e) {
            QCOMPARE(e.code(), 4864); // a number where text belongs
            QVERIFY2(e.detail().startsWith(QStringLiteral("outer.list[0].id")), qPrintable(e.detail()));
        }
    }

    void writer()
    {
        json::Writer w;
        w.set("b", 1).setOpt("absent", std::optional<QString>()).setOpt("present", std::optional<bool>(false)).setNumber("a", 0.5);
        json::setOptTimestamp(w, "t", Timestamp::fromSince1970(978307201));
        QCOMPARE(json::serialize(w.object()), QByteArray(R"({"a":0.5,"b":1,"present":false,"t":1})"));
        QVERIFY_THROWS_EXCEPTION(json::EncodeError, json::number(std::numeric_limits<double>::quiet_NaN()));
        QVERIFY_THROWS_EXCEPTION(json::EncodeError, json::Writer().setNumber("x", -std::numeric_limits<double>::infinity()));
        QVERIFY_THROWS_EXCEPTION(json::EncodeError, json::Writer().setOpt("x", std::optional<double>(std::numeric_limits<double>::infinity())));
        // 64-bit integers survive a round trip exactly.
        const qint64 big = 9007199254740993LL;
        QCOMPARE(json::toInteger(json::parseObject(json::serialize(json::Writer().set("v", big).object())).value("v")), big);
    }

    void timestamps()
    {
        const auto r = readerOf(R"({"t":-12.5,"n":null,"s":"2026-01-01T00:00:00Z"})");
        QCOMPARE(json::timestamp(r, "t"), Timestamp::fromSinceReference(-12.5));
        QVERIFY(!json::optTimestamp(r, "n"));
        QVERIFY(!json::optTimestamp(r, "missing"));
        QVERIFY_THROWS_EXCEPTION(json::DecodeError, json::optTimestamp(r, "s"));
        QVERIFY_THROWS_EXCEPTION(json::DecodeError, json::timestamp(r, "n"));
    }
};

QTEST_GUILESS_MAIN(TestStrictJson)
#include "test_strict_json.moc"
