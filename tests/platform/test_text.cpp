#include "platform/Text.h"

#include <QDateTime>
#include <QTest>

Q_DECLARE_METATYPE(std::optional<double>)

namespace {

QString u16(const char16_t* s)
{
    return QString::fromUtf16(s);
}

} // namespace

class TestText : public QObject {
    Q_OBJECT

private slots:
    void lossyUtf8_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("valid") << QByteArray("a\xD1\x8F\xE2\x82\xAC\xF0\x9F\x98\x80") << u16(u"a\u044F\u20AC\U0001F600");
        QTest::newRow("NUL kept") << QByteArray("a\0b", 3) << QString::fromUtf16(u"a\u0000b", 3);
        // The example of maximal subparts from the standard.
        QTest::newRow("maximal subparts") << QByteArray("\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64")
                                          << u16(u"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd");
        QTest::newRow("encoded surrogate") << QByteArray("\xED\xA0\x80x") << u16(u"\uFFFD\uFFFD\uFFFDx");
        QTest::newRow("overlong two bytes") << QByteArray("\xC0\xAF") << u16(u"\uFFFD\uFFFD");
        QTest::newRow("overlong three bytes") << QByteArray("\xE0\x80\xAF") << u16(u"\uFFFD\uFFFD\uFFFD");
        QTest::newRow("above U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << u16(u"\uFFFD\uFFFD\uFFFD\uFFFD");
        QTest::newRow("F5 and FF") << QByteArray("\xF5\xFF") << u16(u"\uFFFD\uFFFD");
        QTest::newRow("truncated at end") << QByteArray("ok\xE2\x82") << u16(u"ok\uFFFD");
        QTest::newRow("truncated before ASCII") << QByteArray("\xF0\x9F\x98" "A") << u16(u"\uFFFDA");
        QTest::newRow("lone continuation") << QByteArray("\x80\x80") << u16(u"\uFFFD\uFFFD");
        QTest::newRow("valid after invalid") << QByteArray("\xE2\x28\xA1") << u16(u"\uFFFD(\uFFFD");
    }
    void lossyUtf8()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(text::lossyUtf8(bytes), text);
    }

    void lossyUtf8DiffersFromQt()
    {
        // Qt gives one U+FFFD per byte of a truncated sequence; a maximal subpart is one.
        for (const QByteArray& bytes : {QByteArray("\x61\xF1\x80\x80\xE1\x80\xC2\x62"), QByteArray("ok\xE2\x82"), QByteArray("\xF0\x9F\x98" "A")}) {
            QVERIFY(text::lossyUtf8(bytes) != QString::fromUtf8(bytes));
            QVERIFY(text::lossyUtf8(bytes).count(QChar::ReplacementCharacter) < QString::fromUtf8(bytes).count(QChar::ReplacementCharacter));
        }
    }

    void graphemes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("cut");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("empty") << QString() << 0 << 3 << QString();
        QTest::newRow("ascii") << "abcdef" << 6 << 3 << "abc";
        QTest::newRow("zero") << "abc" << 3 << 0 << QString();
        QTest::newRow("negative") << "abc" << 3 << -1 << QString();
        QTest::newRow("longer than text") << "abc" << 3 << 10 << "abc";
        QTest::newRow("combining mark") << u16(u"e\u0301e\u0301x") << 3 << 1 << u16(u"e\u0301");
        QTest::newRow("two marks") << u16(u"a\u0308\u0323b") << 2 << 1 << u16(u"a\u0308\u0323");
        QTest::newRow("skin tone") << u16(u"\U0001F44D\U0001F3FDok") << 3 << 1 << u16(u"\U0001F44D\U0001F3FD");
        QTest::newRow("flags") << u16(u"\U0001F1F7\U0001F1FA\U0001F1FA\U0001F1F8") << 2 << 1 << u16(u"\U0001F1F7\U0001F1FA");
        QTest::newRow("family") << u16(u"\U0001F468\u200D\U0001F469\u200D\U0001F467!") << 2 << 1 << u16(u"\U0001F468\u200D\U0001F469\u200D\U0001F467");
        QTest::newRow("CR LF") << "a\r\nb" << 3 << 2 << "a\r\n";
        QTest::newRow("hangul jamo") << u16(u"\u1100\u1161\u11A8x") << 2 << 1 << u16(u"\u1100\u1161\u11A8");
        QTest::newRow("cyrillic") << "привет" << 6 << 2 << "пр";
        // Qt reports a boundary inside the pair when such letters follow an emoji.
        QTest::newRow("emoji before Sinhala") << u16(u"\U0001F600\u0D9Ax") << 3 << 1 << u16(u"\U0001F600");
        QTest::newRow("emoji before Devanagari") << u16(u"\U0001F44D\u0915") << 2 << 1 << u16(u"\U0001F44D");
    }
    void graphemes()
    {
        QFETCH(QString, text);
        QFETCH(int, count);
        QFETCH(int, cut);
        QFETCH(QString, prefix);
        QCOMPARE(text::graphemeCount(text), qsizetype(count));
        QCOMPARE(text::prefixGraphemes(text, cut), prefix);
    }

    void codePointOrder_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");
        QTest::newRow("equal") << "abc" << "abc" << 0;
        QTest::newRow("prefix first") << "ab" << "abc" << -1;
        QTest::newRow("empty first") << "" << "a" << -1;
        QTest::newRow("case: upper first") << "Z" << "a" << -1;
        QTest::newRow("cyrillic after latin") << "я" << "z" << 1;
        // U+FF61 is a larger UTF-16 unit than a high surrogate, but a smaller code point.
        QTest::newRow("BMP above surrogates vs astral") << u16(u"\uFF61") << u16(u"\U0001F600") << -1;
        QTest::newRow("U+E000 vs astral") << u16(u"x\uE000") << u16(u"x\U00010000") << -1;
        QTest::newRow("two astral") << u16(u"\U0001F600") << u16(u"\U0001F601") << -1;
        QTest::newRow("astral vs higher astral plane") << u16(u"\U0001FFFF") << u16(u"\U00020000") << -1;
    }
    void codePointOrder()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        auto sign = [](int v) { return (v > 0) - (v < 0); };
        QCOMPARE(sign(text::compareCodePoints(a, b)), order);
        QCOMPARE(sign(text::compareCodePoints(b, a)), -order);
        QCOMPARE(text::lessByCodePoints(a, b), order < 0);
    }

    void codePointOrderDiffersFromQt()
    {
        const QString bmp = u16(u"\uFF61"), astral = u16(u"\U0001F600");
        QVERIFY(QString::compare(bmp, astral) > 0);
        QVERIFY(text::compareCodePoints(bmp, astral) < 0);
    }

    void rfc3339Accepts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("since1970");
        QTest::newRow("Z") << "2026-12-10T09:01:19Z" << 1796893279.0;
        QTest::newRow("lower case t and z") << "2026-12-10t09:01:19z" << 1796893279.0;
        QTest::newRow("fraction") << "2026-12-10T09:01:19.250Z" << 1796893279.25;
        QTest::newRow("long fraction") << "1970-01-01T00:00:00.123456789Z" << 0.123456789;
        QTest::newRow("positive offset") << "2026-12-10T14:31:19+05:30" << 1796893279.0;
        QTest::newRow("negative offset") << "2026-12-10T04:01:19-05:00" << 1796893279.0;
        QTest::newRow("minus zero offset") << "1970-01-01T00:00:00-00:00" << 0.0;
        QTest::newRow("leap day") << "2024-02-29T00:00:00Z" << 1709164800.0;
        QTest::newRow("before 1970") << "1969-12-31T23:59:59Z" << -1.0;
    }
    void rfc3339Accepts()
    {
        QFETCH(QString, text);
        QFETCH(double, since1970);
        const auto t = text::parseRfc3339(text);
        QVERIFY(t);
        QVERIFY(qAbs(t->since1970() - since1970) < 1e-6);
    }

    void rfc3339Rejects_data()
    {
        QTest::addColumn<QString>("text");
        // Each of these but the last few is accepted by Qt::ISODate.
        QTest::newRow("date only") << "2026-12-10";
        QTest::newRow("no seconds") << "2026-12-10T09:01Z";
        QTest::newRow("no zone") << "2026-12-10T09:01:19";
        QTest::newRow("space separator") << "2026-12-10 09:01:19Z";
        QTest::newRow("offset without colon") << "2026-12-10T09:01:19+0100";
        QTest::newRow("hour offset only") << "2026-12-10T09:01:19+01";
        QTest::newRow("hour 24") << "2026-12-10T24:00:00Z";
        QTest::newRow("comma fraction") << "2026-12-10T09:01:19,5Z";
        QTest::newRow("empty fraction") << "2026-12-10T09:01:19.Z";
        QTest::newRow("February 30") << "2026-02-30T00:00:00Z";
        QTest::newRow("second 60") << "2026-12-10T09:01:60Z";
        QTest::newRow("offset minute 60") << "2026-12-10T09:01:19+01:60";
        QTest::newRow("one-digit month") << "2026-1-10T09:01:19Z";
        QTest::newRow("trailing text") << "2026-12-10T09:01:19Z ";
        QTest::newRow("trailing line feed") << "2026-12-10T09:01:19Z\n";
        QTest::newRow("leading blank") << " 2026-12-10T09:01:19Z";
        QTest::newRow("week date") << "2026-W50-4T09:01:19Z";
        QTest::newRow("non-ASCII digits") << u16(u"\u0662\u0660\u0662\u0666-12-10T09:01:19Z");
        QTest::newRow("empty") << "";
    }
    void rfc3339Rejects()
    {
        QFETCH(QString, text);
        QVERIFY(!text::parseRfc3339(text));
    }

    void rfc3339IsStricterThanQt()
    {
        for (const char* s : {"2026-12-10", "2026-12-10T09:01:19", "2026-12-10T09:01Z", "2026-12-10T24:00:00Z"})
            QVERIFY2(QDateTime::fromString(QString::fromLatin1(s), Qt::ISODate).isValid(), s);
    }

    void rfc3339Fraction()
    {
        const QString with = QStringLiteral("2026-12-10T09:01:19.5Z"), without = QStringLiteral("2026-12-10T09:01:19Z");
        QVERIFY(text::parseRfc3339(with, text::Fraction::Required));
        QVERIFY(!text::parseRfc3339(without, text::Fraction::Required));
        QVERIFY(text::parseRfc3339(without, text::Fraction::Forbidden));
        QVERIFY(!text::parseRfc3339(with, text::Fraction::Forbidden));
        const Timestamp t = Timestamp::fromSince1970(1796893279.25);
        QCOMPARE(text::formatRfc3339(t), QStringLiteral("2026-12-10T09:01:19Z"));
        QCOMPARE(text::formatRfc3339(t, true), QStringLiteral("2026-12-10T09:01:19.250Z"));
        QCOMPARE(text::parseRfc3339(text::formatRfc3339(t, true)), std::optional(t));
    }

    void trimmed_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ascii") << " \t\r\nx y\n " << "x y";
        QTest::newRow("unicode white space") << u16(u"\u00A0\u3000\u2028x\u2029\u0085\u202F") << "x";
        QTest::newRow("zero width space is not white") << u16(u"\u200Bx\uFEFF") << u16(u"\u200Bx\uFEFF");
        QTest::newRow("only blanks") << "  \n" << "";
    }
    void trimmed()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(text::trimmed(text), expected);
    }

    void terminalEscapes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("colours") << "\x1b[1;31mОшибка\x1b[0m: x" << "Ошибка: x";
        QTest::newRow("cursor") << "a\x1b[2Kb\x1b[?25l" << "ab";
        QTest::newRow("title with BEL") << "\x1b]0;title\x07text" << "text";
        QTest::newRow("hyperlink with ST") << "\x1b]8;;http://x\x1b\\link\x1b]8;;\x1b\\" << "link";
        QTest::newRow("two-character form") << "a\x1b" "Mb" << "ab";
        QTest::newRow("8-bit CSI") << u16(u"a\u009B31mb") << "ab";
        QTest::newRow("plain") << "no escapes [1m" << "no escapes [1m";
        // A removed sequence must not leave or join another one.
        QTest::newRow("ESC before a two-character form") << "\x1b\x1b__" << "";
        QTest::newRow("CSI interrupted by a CSI") << "\x1b[\x1b[ok" << "";
        QTest::newRow("nested three deep") << "a\x1b[\x1b[\x1b[mmmb" << "ab";
        QTest::newRow("lone ESC") << "a\x1b" "b\x1b" << "ab";
        QTest::newRow("unfinished CSI") << "a\x1b[12" << "a[12";
        QTest::newRow("lone 8-bit CSI") << u16(u"a\u009B") << "a";
    }
    void terminalEscapes()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(text::stripTerminalEscapes(text), expected);
    }
};

QTEST_GUILESS_MAIN(TestText)
#include "test_text.moc"
