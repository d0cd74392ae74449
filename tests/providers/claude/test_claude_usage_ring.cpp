#include "providers/claude/ClaudeUsageRing.h"
#include "support/TestSupport.h"

#include <QtTest>

namespace {

// Windows with the given ids; each window's usedPercent is its index, so a test can tell duplicates apart.
ProviderUsage usage(UsageProvider provider, const QStringList& ids)
{
    ProviderUsage u = ProviderUsage::placeholder(provider);
    for (qsizetype i = 0; i < ids.size(); ++i)
        u.windows.append(testsupport::limitWindow(ids.at(i), double(i)));
    return u;
}

// "kind=id#index" per ring, "kind=-" for a ring without a window.
QStringList describe(const QList<ClaudeUsageRing>& rings)
{
    QStringList out;
    for (const ClaudeUsageRing& r : rings)
        out << rawValue(r.kind) + QLatin1Char('=')
                + (r.window ? r.window->id + QLatin1Char('#') + QString::number(r.window->usedPercent) : QStringLiteral("-"));
    return out;
}

} // namespace

class TestClaudeUsageRing : public QObject {
    Q_OBJECT
private slots:
    void kinds()
    {
        QStringList raws;
        for (ClaudeRingKind k : kAllClaudeRingKinds) {
            raws << rawValue(k);
            QCOMPARE(claudeRingKindFromRawValue(rawValue(k)), std::optional(k));
        }
        QCOMPARE(raws, (QStringList {"five_hour", "seven_day", "model-fable"}));
        for (const char* raw : {"Five_Hour", "model-Fable", "model-", "session", "five_hour ", ""})
            QVERIFY2(!claudeRingKindFromRawValue(QString::fromLatin1(raw)), raw);
    }

    void picking_data()
    {
        QTest::addColumn<int>("provider");
        QTest::addColumn<QStringList>("windows");
        QTest::addColumn<QStringList>("rings");
        const QStringList none {"five_hour=-", "seven_day=-", "model-fable=-"};
        QTest::newRow("no windows: three empty rings") << int(UsageProvider::claude) << QStringList() << none;
        QTest::newRow("all three") << int(UsageProvider::claude) << QStringList {"five_hour", "seven_day", "model-fable"}
                                   << QStringList {"five_hour=five_hour#0", "seven_day=seven_day#1", "model-fable=model-fable#2"};
        QTest::newRow("fixed order whatever the windows' order")
            << int(UsageProvider::claude) << QStringList {"model-fable", "seven_day"}
            << QStringList {"five_hour=-", "seven_day=seven_day#1", "model-fable=model-fable#0"};
        QTest::newRow("first of two five_hour windows")
            << int(UsageProvider::claude) << QStringList {"seven_day", "five_hour", "five_hour"}
            << QStringList {"five_hour=five_hour#1", "seven_day=seven_day#0", "model-fable=-"};
        QTest::newRow("other models and other letter case match nothing")
            << int(UsageProvider::claude) << QStringList {"model-opus", "Five_Hour", "SEVEN_DAY", "model-Fable", "model-fable2"}
            << none;
        for (UsageProvider p : {UsageProvider::codex, UsageProvider::copilot, UsageProvider::antigravity})
            QTest::newRow(qPrintable(rawValue(p) + QStringLiteral(": nothing, even with five_hour")))
                << int(p) << QStringList {"five_hour", "seven_day"} << QStringList();
    }
    void picking()
    {
        QFETCH(int, provider);
        QFETCH(QStringList, windows);
        QFETCH(QStringList, rings);
        QCOMPARE(describe(ClaudeUsageRing::rings(usage(UsageProvider(provider), windows))), rings);
    }

    // The ring carries the whole window unchanged; equality compares windows field by field.
    void ringsCopyWindowsAndCompareByValue()
    {
        ProviderUsage u = usage(UsageProvider::claude, {"seven_day"});
        u.windows[0].resetsAt = Timestamp::fromSinceReference(1000);
        u.windows[0].durationMinutes = 10080;
        const QList<ClaudeUsageRing> rings = ClaudeUsageRing::rings(u);
        QCOMPARE(rings.at(1).window, std::optional(u.windows.at(0)));
        QCOMPARE(rings.at(1).id(), ClaudeRingKind::weekly);

        ProviderUsage changed = u;
        changed.windows[0].observedAt = Timestamp::fromSinceReference(5);
        QVERIFY(ClaudeUsageRing::rings(changed) != rings);
        QVERIFY((ClaudeUsageRing {ClaudeRingKind::session, std::nullopt} != ClaudeUsageRing {ClaudeRingKind::weekly, std::nullopt}));
    }
};

QTEST_GUILESS_MAIN(TestClaudeUsageRing)
#include "test_claude_usage_ring.moc"
