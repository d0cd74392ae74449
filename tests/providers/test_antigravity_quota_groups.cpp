#include "platform/StrictJson.h"
#include "providers/antigravity/AntigravityQuotaSection.h"

#include <QTest>

namespace {

UsageWindow window(const QString& id, const QString& title = {}, double used = 10)
{
    UsageWindow w;
    w.id = id;
    w.title = title.isEmpty() ? QStringLiteral("quota ") + id : title;
    w.usedPercent = used;
    return w;
}

ProviderUsage usage(UsageProvider provider, const QStringList& ids)
{
    ProviderUsage u = ProviderUsage::placeholder(provider);
    for (const QString& id : ids)
        u.windows.append(window(id));
    return u;
}

// "section: id=title, ..." for each section.
QStringList describe(const QList<AntigravityQuotaSection>& sections)
{
    QStringList out;
    for (const auto& s : sections) {
        QStringList ws;
        for (const auto& w : s.windows)
            ws << w.id + QLatin1Char('=') + w.title;
        out << s.id + QStringLiteral(": ") + ws.join(QStringLiteral(", "));
    }
    return out;
}

} // namespace

class TestAntigravityQuotaGroups : public QObject {
    Q_OBJECT

private slots:
    void groups()
    {
        QCOMPARE(rawValue(AntigravityQuotaGroup::gemini), QStringLiteral("gemini"));
        QCOMPARE(rawValue(AntigravityQuotaGroup::claudeAndGPT), QStringLiteral("claudeAndGPT"));
        QCOMPARE(antigravityQuotaGroupFromRawValue("claudeAndGPT"), std::optional(AntigravityQuotaGroup::claudeAndGPT));
        QVERIFY(!antigravityQuotaGroupFromRawValue("claude_and_gpt"));
        QVERIFY_THROWS_EXCEPTION(json::DecodeError, antigravityQuotaGroupFromJson(QJsonValue("Gemini")));
        QCOMPARE(antigravityQuotaGroup("gemini-pro-5h"), std::optional(AntigravityQuotaGroup::gemini));
        QCOMPARE(antigravityQuotaGroup("3p-gpt"), std::optional(AntigravityQuotaGroup::claudeAndGPT));
        for (const char* id : {"gemini", "Gemini-pro", "3P-x", "x-gemini-", ""})
            QVERIFY(!antigravityQuotaGroup(QString::fromLatin1(id)));
    }

    void sections_data()
    {
        QTest::addColumn<int>("provider");
        QTest::addColumn<QStringList>("windows");
        QTest::addColumn<QStringList>("expected");
        const int ag = int(UsageProvider::antigravity);
        QTest::newRow("claude usage") << int(UsageProvider::claude) << QStringList {"gemini-pro-5h", "other"} << QStringList();
        QTest::newRow("codex usage") << int(UsageProvider::codex) << QStringList {"3p-x-5h"} << QStringList();
        QTest::newRow("no windows") << ag << QStringList() << QStringList();
        QTest::newRow("gemini sorted and retitled")
            << ag << QStringList {"gemini-pro-weekly", "gemini-pro-5h", "gemini-flash-5h"}
            << QStringList {"gemini: gemini-flash-5h=5 часов, gemini-pro-5h=5 часов, gemini-pro-weekly=Неделя"};
        QTest::newRow("unsuffixed after weekly, title kept")
            << ag << QStringList {"gemini-z", "gemini-b-weekly", "gemini-a", "gemini-c-5h"}
            << QStringList {"gemini: gemini-c-5h=5 часов, gemini-b-weekly=Неделя, gemini-a=quota gemini-a, gemini-z=quota gemini-z"};
        QTest::newRow("only 3p") << ag << QStringList {"3p-gpt-weekly", "3p-claude-weekly"}
                                 << QStringList {"claudeAndGPT: 3p-claude-weekly=Неделя, 3p-gpt-weekly=Неделя"};
        QTest::newRow("5h tested before weekly") << ag << QStringList {"3p-weekly-5h"} << QStringList {"claudeAndGPT: 3p-weekly-5h=5 часов"};
        QTest::newRow("other keeps order and titles")
            << ag << QStringList {"zeta", "gemini", "Gemini-pro-5h", "alpha-5h"}
            << QStringList {"other: zeta=quota zeta, gemini=quota gemini, Gemini-pro-5h=quota Gemini-pro-5h, alpha-5h=quota alpha-5h"};
        QTest::newRow("all three in order")
            << ag << QStringList {"x", "3p-a-5h", "gemini-a-5h"}
            << QStringList {"gemini: gemini-a-5h=5 часов", "claudeAndGPT: 3p-a-5h=5 часов", "other: x=quota x"};
        // Ids order by code points: U+FF41 sorts before U+1F600 although its UTF-16 unit is larger.
        QTest::newRow("code point order")
            << ag << QStringList {QString::fromUtf16(u"gemini-\U0001F600"), QString::fromUtf16(u"gemini-\uFF41"), "gemini-b"}
            << QStringList {QString::fromUtf16(u"gemini: gemini-b=quota gemini-b, gemini-\uFF41=quota gemini-\uFF41, gemini-\U0001F600=quota gemini-\U0001F600")};
    }
    void sections()
    {
        QFETCH(int, provider);
        QFETCH(QStringList, windows);
        QFETCH(QStringList, expected);
        QCOMPARE(describe(AntigravityQuotaSection::sections(usage(UsageProvider(provider), windows))), expected);
    }

    void sectionFields()
    {
        ProviderUsage u = usage(UsageProvider::antigravity, {"gemini-a-5h", "3p-a-5h", "x"});
        u.windows[0].usedPercent = 77;
        u.windows[0].durationMinutes = 300;
        const auto s = AntigravityQuotaSection::sections(u);
        QCOMPARE(s.size(), 3);
        QCOMPARE(s[0].title, QStringLiteral("Gemini"));
        QCOMPARE(s[0].subtitle, std::optional<QString>("Gemini Flash, Gemini Pro"));
        QCOMPARE(s[1].title, QStringLiteral("Claude и GPT"));
        QCOMPARE(s[1].subtitle, std::optional<QString>("Claude Opus, Claude Sonnet, GPT-OSS"));
        QCOMPARE(s[2].title, QStringLiteral("Другие лимиты"));
        QVERIFY(!s[2].subtitle);
        QCOMPARE(s[0].windows[0].usedPercent, 77.0);
        QCOMPARE(s[0].windows[0].durationMinutes, std::optional<qint64>(300));

        // Sections differing in one window's percentage differ.
        AntigravityQuotaSection other = s[0];
        QCOMPARE(other, s[0]);
        other.windows[0].usedPercent = 78;
        QVERIFY(!(other == s[0]));
        other = s[2];
        other.subtitle = QString();
        QVERIFY(!(other == s[2]));
    }
};

QTEST_GUILESS_MAIN(TestAntigravityQuotaGroups)
#include "test_antigravity_quota_groups.moc"
