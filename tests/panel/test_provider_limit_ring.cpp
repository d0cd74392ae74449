#include "panel/ProviderLimitRing.h"
#include "support/TestSupport.h"
#include "uisupport/RenderHarness.h"

#include <QApplication>
#include <QTest>

#include <limits>

Q_DECLARE_METATYPE(std::optional<Timestamp>)

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// "id" or "id=percent" or "id=percent@reset" (reset in seconds since 2001).
UsageWindow parseWindow(const QString& spec)
{
    const QStringList idRest = spec.split(QLatin1Char('='));
    double used = 10;
    std::optional<Timestamp> reset;
    if (idRest.size() > 1) {
        const QStringList usedReset = idRest.at(1).split(QLatin1Char('@'));
        used = usedReset.at(0).toDouble();
        if (usedReset.size() > 1)
            reset = Timestamp::fromSinceReference(usedReset.at(1).toDouble());
    }
    return testsupport::limitWindow(idRest.at(0), used, reset);
}

ProviderUsage usage(UsageProvider provider, const QStringList& windows)
{
    ProviderUsage u = ProviderUsage::placeholder(provider);
    u.isLoading = false;
    for (const QString& w : windows)
        u.windows.append(parseWindow(w));
    return u;
}

// "position/count title [id]" per ring.
QStringList describe(const QList<ProviderLimitRing>& rings)
{
    QStringList out;
    for (const ProviderLimitRing& r : rings)
        out << QStringLiteral("%1/%2 %3 [%4]").arg(r.position).arg(r.count).arg(r.title, r.id());
    return out;
}

QString stamp(Timestamp t) { return QStringLiteral("@") + QString::number(t.sinceReference()); }

} // namespace

class ProviderLimitRingTest : public QObject {
    Q_OBJECT
private slots:
    void rings_data()
    {
        QTest::addColumn<int>("provider");
        QTest::addColumn<QStringList>("windows");
        QTest::addColumn<QStringList>("rings");
        const int claude = int(UsageProvider::claude);
        QTest::newRow("claude: all three, fixed titles")
            << claude << QStringList {"model-fable", "five_hour", "seven_day"}
            << QStringList {"0/3 Current session · 5 часов [five_hour]", "1/3 Неделя [seven_day]",
                            "2/3 Fable · неделя [model-fable]"};
        QTest::newRow("claude: only the weekly keeps its place")
            << claude << QStringList {"seven_day"} << QStringList {"1/3 Неделя [seven_day]"};
        QTest::newRow("claude: only fable, other models ignored")
            << claude << QStringList {"model-opus", "model-fable"} << QStringList {"2/3 Fable · неделя [model-fable]"};
        QTest::newRow("claude: none of the three") << claude << QStringList {"model-opus"} << QStringList();
        QTest::newRow("antigravity: sections in order, titled by section")
            << int(UsageProvider::antigravity) << QStringList {"misc", "3p-claude-weekly", "gemini-pro-5h", "gemini-pro-weekly"}
            << QStringList {"0/4 Gemini · 5 часов [gemini-pro-5h]", "1/4 Gemini · Неделя [gemini-pro-weekly]",
                            "2/4 Claude и GPT · Неделя [3p-claude-weekly]", "3/4 Другие лимиты · misc [misc]"};
        QTest::newRow("antigravity: one section")
            << int(UsageProvider::antigravity) << QStringList {"gemini-flash-5h", "gemini-pro-5h"}
            << QStringList {"0/2 Gemini · 5 часов [gemini-flash-5h]", "1/2 Gemini · 5 часов [gemini-pro-5h]"};
        QTest::newRow("codex: windows in order")
            << int(UsageProvider::codex) << QStringList {"codex-primary", "codex-secondary"}
            << QStringList {"0/2 codex-primary [codex-primary]", "1/2 codex-secondary [codex-secondary]"};
        QTest::newRow("copilot: one window, even named five_hour")
            << int(UsageProvider::copilot) << QStringList {"five_hour"} << QStringList {"0/1 five_hour [five_hour]"};
        QTest::newRow("codex: no windows") << int(UsageProvider::codex) << QStringList() << QStringList();
    }
    void rings()
    {
        QFETCH(int, provider);
        QFETCH(QStringList, windows);
        QFETCH(QStringList, rings);
        QCOMPARE(describe(ProviderLimitRing::rings(usage(UsageProvider(provider), windows))), rings);
    }

    // A ring carries its window unchanged; an Antigravity window keeps its own title.
    void ringsKeepTheirWindows()
    {
        ProviderUsage codex = usage(UsageProvider::codex, {"codex-primary=42@500"});
        codex.windows[0].durationMinutes = 300;
        QCOMPARE(ProviderLimitRing::rings(codex).at(0).window, codex.windows.at(0));
        const QList<ProviderLimitRing> ag = ProviderLimitRing::rings(usage(UsageProvider::antigravity, {"misc"}));
        QCOMPARE(ag.at(0).window.title, QStringLiteral("misc"));
        QVERIFY(ag.at(0) != (ProviderLimitRing {ag.at(0).window, ag.at(0).title, 0, 2}));
    }

    void summaryLine_data()
    {
        QTest::addColumn<double>("used");
        QTest::addColumn<bool>("hasReset");
        QTest::addColumn<QString>("line");
        QTest::newRow("12.5 rounds up") << 12.5 << true << "Неделя: использовано 13%";
        QTest::newRow("12.4 rounds down") << 12.4 << false << "Неделя: использовано 12%";
        QTest::newRow("99.6 reads 100 but is not spent") << 99.6 << true << "Неделя: использовано 100%";
        QTest::newRow("100 with its reset") << 100.0 << true << "Неделя: использовано 100% · сброс @3600";
        QTest::newRow("100 without a reset") << 100.0 << false << "Неделя: использовано 100%";
        QTest::newRow("over 100") << 131.0 << true << "Неделя: использовано 131% · сброс @3600";
        QTest::newRow("0") << 0.0 << true << "Неделя: использовано 0%";
        // No whole figure for these: said as no data, never an undefined conversion.
        QTest::newRow("NaN") << kNaN << true << "Неделя: нет данных";
        QTest::newRow("+inf is spent") << kInf << true << "Неделя: нет данных · сброс @3600";
        QTest::newRow("-inf") << -kInf << true << "Неделя: нет данных";
        QTest::newRow("too large for an int") << 1e12 << true << "Неделя: нет данных · сброс @3600";
    }
    void summaryLine()
    {
        QFETCH(double, used);
        QFETCH(bool, hasReset);
        QFETCH(QString, line);
        UsageWindow w = testsupport::limitWindow("seven_day", used);
        if (hasReset)
            w.resetsAt = Timestamp::fromSinceReference(3600);
        QCOMPARE(ProviderLimitRing::summaryLine({w, QStringLiteral("Неделя"), 1, 3}, stamp), line);
    }

    void accessibilitySummary_data()
    {
        QTest::addColumn<int>("provider");
        QTest::addColumn<QStringList>("windows");
        QTest::addColumn<bool>("stale");
        QTest::addColumn<bool>("error");
        QTest::addColumn<QString>("summary");
        QTest::newRow("rings outside in")
            << int(UsageProvider::claude) << QStringList {"model-fable=100@7200", "five_hour=12.5"} << false << false
            << "Кольца снаружи внутрь:\nCurrent session · 5 часов: использовано 13%\nFable · неделя: использовано 100% · сброс @7200";
        QTest::newRow("stale adds the closing line")
            << int(UsageProvider::codex) << QStringList {"codex-primary=40"} << true << false
            << "Кольца снаружи внутрь:\ncodex-primary: использовано 40%\nПоследние полученные данные; могли устареть.";
        QTest::newRow("an error adds it too")
            << int(UsageProvider::copilot) << QStringList {"premium=5"} << false << true
            << "Кольца снаружи внутрь:\npremium: использовано 5%\nПоследние полученные данные; могли устареть.";
        QTest::newRow("no rings stay silent, even stale with an error")
            << int(UsageProvider::codex) << QStringList() << true << true << "";
        QTest::newRow("claude without its three windows")
            << int(UsageProvider::claude) << QStringList {"model-opus=50"} << true << false << "";
    }
    void accessibilitySummary()
    {
        QFETCH(int, provider);
        QFETCH(QStringList, windows);
        QFETCH(bool, stale);
        QFETCH(bool, error);
        QFETCH(QString, summary);
        ProviderUsage u = usage(UsageProvider(provider), windows);
        u.isStale = stale;
        if (error)
            u.errorMessage = QStringLiteral("boom");
        QCOMPARE(ProviderLimitRing::accessibilitySummary(u, stamp), summary);
    }

    void earliestExhaustedReset_data()
    {
        QTest::addColumn<int>("provider");
        QTest::addColumn<QStringList>("windows");
        QTest::addColumn<std::optional<Timestamp>>("earliest");
        const auto at = [](double s) { return std::optional(Timestamp::fromSinceReference(s)); };
        QTest::newRow("earlier of two spent") << int(UsageProvider::codex) << QStringList {"a=100@36000", "b=120@32400"} << at(32400);
        QTest::newRow("spent without a reset is ignored")
            << int(UsageProvider::codex) << QStringList {"a=100", "b=100@50000"} << at(50000);
        QTest::newRow("99.6 is not spent") << int(UsageProvider::codex) << QStringList {"a=99.6@100"} << std::optional<Timestamp>();
        QTest::newRow("no windows") << int(UsageProvider::codex) << QStringList() << std::optional<Timestamp>();
        QTest::newRow("only ring windows count")
            << int(UsageProvider::claude) << QStringList {"model-opus=100@10", "seven_day=100@900"} << at(900);
        QTest::newRow("NaN is not spent") << int(UsageProvider::copilot) << QStringList {"a=nan@10"} << std::optional<Timestamp>();
    }
    void earliestExhaustedReset()
    {
        QFETCH(int, provider);
        QFETCH(QStringList, windows);
        QFETCH(std::optional<Timestamp>, earliest);
        QCOMPARE(ProviderLimitRing::earliestExhaustedReset(usage(UsageProvider(provider), windows)), earliest);
    }

    void visibleSourceNote_data()
    {
        QTest::addColumn<int>("provider");
        QTest::addColumn<bool>("shown");
        QTest::newRow("codex") << int(UsageProvider::codex) << true;
        QTest::newRow("copilot") << int(UsageProvider::copilot) << true;
        QTest::newRow("claude") << int(UsageProvider::claude) << false;
        QTest::newRow("antigravity") << int(UsageProvider::antigravity) << false;
    }
    void visibleSourceNote()
    {
        QFETCH(int, provider);
        QFETCH(bool, shown);
        ProviderUsage u = usage(UsageProvider(provider), {});
        QVERIFY(!::visibleSourceNote(u));
        u.sourceNote = QStringLiteral("note");
        QCOMPARE(::visibleSourceNote(u), shown ? std::optional<QString>("note") : std::nullopt);
    }
};

VANTOREL_UI_TEST_MAIN(ProviderLimitRingTest)
#include "test_provider_limit_ring.moc"
