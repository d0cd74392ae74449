#include "panel/ProviderCardModel.h"
#include "support/TestSupport.h"
#include "uisupport/RenderHarness.h"

#include <QApplication>
#include <QTest>

#include <functional>
#include <limits>

using Content = ProviderCardModel::Content;
using testsupport::limitWindow;

namespace {

const Timestamp kNow = Timestamp::fromSince1970(1'800'000'000.0);
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

using Change = std::function<void(ProviderUsage&)>;

ProviderUsage usage(UsageProvider provider, const Change& change = {})
{
    ProviderUsage u = ProviderUsage::placeholder(provider);
    u.isLoading = false;
    if (change)
        change(u);
    return u;
}

ProviderUsage withWindows(ProviderUsage u, QList<UsageWindow> windows)
{
    u.windows = std::move(windows);
    return u;
}

ProviderProfile codexProfile()
{
    return ProviderProfile {UsageProvider::codex, "/home/u/.codex", "Work", true, {}, {}};
}

} // namespace

Q_DECLARE_METATYPE(Change)
Q_DECLARE_METATYPE(Content)

class ProviderCardModelTest : public QObject {
    Q_OBJECT
private slots:
    void header_data()
    {
        QTest::addColumn<ProviderUsage>("usage");
        QTest::addColumn<std::optional<QString>>("profileName");
        QTest::addColumn<QString>("providerName");
        QTest::addColumn<QString>("makerLine");
        QTest::addColumn<QString>("peakText");
        QTest::addColumn<QString>("accessibleName");

        QTest::newRow("no windows, no plan, no profile")
            << usage(UsageProvider::codex) << std::optional<QString>() << "Codex" << "OpenAI" << "" << "Codex, OpenAI";
        QTest::newRow("plan and profile")
            << withWindows(usage(UsageProvider::claude, [](ProviderUsage& u) { u.planName = "Max"; }),
                           {limitWindow("five_hour", 12.4), limitWindow("seven_day", 49.5)})
            << std::optional<QString>("Личный") << "Claude" << "Anthropic · Max" << "50%"
            << "Claude, Личный, Anthropic · Max, 50%";
        QTest::newRow("over full") << withWindows(usage(UsageProvider::copilot), {limitWindow("a", 130)})
                                   << std::optional<QString>("p") << "Copilot" << "GitHub" << "130%" << "Copilot, p, GitHub, 130%";
        QTest::newRow("negative") << withWindows(usage(UsageProvider::antigravity), {limitWindow("a", -3.5)})
                                  << std::optional<QString>() << "Antigravity" << "Google" << "-4%" << "Antigravity, Google, -4%";
        QTest::newRow("too large to round: no figure")
            << withWindows(usage(UsageProvider::codex), {limitWindow("a", 1e300)}) << std::optional<QString>()
            << "Codex" << "OpenAI" << "" << "Codex, OpenAI";
        QTest::newRow("only non-finite windows: no figure")
            << withWindows(usage(UsageProvider::codex), {limitWindow("a", kNaN), limitWindow("b", kInf)})
            << std::optional<QString>() << "Codex" << "OpenAI" << "" << "Codex, OpenAI";
        QTest::newRow("NaN beside a value")
            << withWindows(usage(UsageProvider::codex), {limitWindow("a", kNaN), limitWindow("b", 20)})
            << std::optional<QString>() << "Codex" << "OpenAI" << "20%" << "Codex, OpenAI, 20%";
    }
    void header()
    {
        QFETCH(ProviderUsage, usage);
        QFETCH(std::optional<QString>, profileName);
        QFETCH(QString, providerName);
        QFETCH(QString, makerLine);
        QFETCH(QString, peakText);
        QFETCH(QString, accessibleName);
        const ProviderHeaderModel m = ProviderHeaderModel::make(usage, profileName);
        QCOMPARE(m.providerName, providerName);
        QCOMPARE(m.profileName, profileName);
        QCOMPARE(m.makerLine, makerLine);
        QCOMPARE(m.peakText, peakText);
        QCOMPARE(m.peak.has_value(), !peakText.isEmpty());
        QCOMPARE(m.accessibleName, accessibleName);
        QCOMPARE(m.usage, usage);
    }

    void row_data()
    {
        QTest::addColumn<double>("used");
        QTest::addColumn<std::optional<Timestamp>>("resetsAt");
        QTest::addColumn<QString>("percentText");
        QTest::addColumn<std::optional<double>>("progress");
        QTest::addColumn<QString>("value");

        using P = std::optional<double>;
        using R = std::optional<Timestamp>;
        // 2027-01-15 08:00 UTC
        const R reset = Timestamp::fromSince1970(1'800'000'000.0 + 3600 * 24 * 3);
        QTest::newRow("zero") << 0.0 << R() << "0%" << P(0.0) << "Использовано 0 процентов";
        QTest::newRow("half rounds away from zero") << 49.5 << R() << "50%" << P(0.495) << "Использовано 50 процентов";
        QTest::newRow("99.5") << 99.5 << R() << "100%" << P(0.995) << "Использовано 100 процентов";
        QTest::newRow("100.4") << 100.4 << R() << "100%" << P(1.0) << "Использовано 100 процентов";
        QTest::newRow("130: bar full") << 130.0 << R() << "130%" << P(1.0) << "Использовано 130 процентов";
        QTest::newRow("negative: untouched bar") << -3.2 << R() << "-3%" << P(0.0) << "Использовано -3 процентов";
        QTest::newRow("with a reset") << 12.4 << reset << "12%" << P(0.124)
                                      << "Использовано 12 процентов, сброс " + cardtext::abbreviatedDateTime(*reset, QTimeZone::systemTimeZone(), QLocale());
        QTest::newRow("NaN: no figure, no bar") << kNaN << R() << "" << P() << "";
        QTest::newRow("infinite: no figure, no bar") << kInf << R() << "" << P() << "";
        QTest::newRow("huge: no figure, full bar") << 1e300 << reset << "" << P(1.0)
                                                   << "Сброс " + cardtext::abbreviatedDateTime(*reset, QTimeZone::systemTimeZone(), QLocale());
    }
    void row()
    {
        QFETCH(double, used);
        QFETCH(std::optional<Timestamp>, resetsAt);
        QFETCH(QString, percentText);
        QFETCH(std::optional<double>, progress);
        QFETCH(QString, value);
        const UsageWindow w = limitWindow("seven_day", used, resetsAt);
        const UsageWindowRowModel m = UsageWindowRowModel::make(w);
        QCOMPARE(m.id, QStringLiteral("seven_day"));
        QCOMPARE(m.title, w.title);
        QCOMPARE(m.accessibleName, w.title);
        QCOMPARE(m.percentText, percentText);
        QCOMPARE(m.progress.has_value(), progress.has_value());
        if (progress)
            QVERIFY(qFuzzyCompare(1 + *m.progress, 1 + *progress));
        QCOMPARE(m.accent, palette::usageColor(used));
        QCOMPARE(m.resetsAt, resetsAt);
        QCOMPARE(m.accessibleValue, value);
    }

    // The reset date of the accessibility value, in the zone and locale given; none for a date out of range.
    void rowResetDateFollowsZoneAndLocale()
    {
        const Timestamp t = Timestamp::fromSince1970(1'765'375'500.0); // 2025-12-10 14:05 UTC
        const UsageWindow w = limitWindow("w", 10, t);
        QCOMPARE(UsageWindowRowModel::make(w, QTimeZone::utc(), QLocale("ru_RU")).accessibleValue,
                 QStringLiteral("Использовано 10 процентов, сброс 10 дек. 2025 г., 14:05"));
        QCOMPARE(UsageWindowRowModel::make(w, QTimeZone("Asia/Tokyo"), QLocale("ru_RU")).accessibleValue,
                 QStringLiteral("Использовано 10 процентов, сброс 10 дек. 2025 г., 23:05"));
        QCOMPARE(UsageWindowRowModel::make(limitWindow("w", 10, Timestamp::fromSinceReference(kInf))).accessibleValue,
                 QStringLiteral("Использовано 10 процентов"));
        QCOMPARE(UsageWindowRowModel::make(limitWindow("w", 10, Timestamp::fromSinceReference(1e300))).accessibleValue,
                 QStringLiteral("Использовано 10 процентов"));
    }

    // Which content the card shows, the first rule that applies winning.
    void content_data()
    {
        QTest::addColumn<ProviderUsage>("usage");
        QTest::addColumn<Content>("content");
        QTest::addColumn<bool>("errorBlock");
        QTest::addColumn<QString>("hint");

        const UsageWindow w = limitWindow("w", 30);
        auto error = [](ProviderUsage& u) { u.errorMessage = "boom"; };
        QTest::newRow("waiting") << usage(UsageProvider::claude, [](ProviderUsage& u) { u.waitingForObservation = true; })
                                 << Content::waiting << false << "";
        QTest::newRow("waiting with an error: later rules and the block")
            << usage(UsageProvider::claude, [&](ProviderUsage& u) { u.waitingForObservation = true; error(u); })
            << Content::limits << true << cardtext::kErrorNoWindows;
        QTest::newRow("loading without windows")
            << usage(UsageProvider::codex, [](ProviderUsage& u) { u.isLoading = true; }) << Content::loading << false << "";
        QTest::newRow("loading without windows, with an error")
            << usage(UsageProvider::codex, [&](ProviderUsage& u) { u.isLoading = true; error(u); })
            << Content::loading << true << cardtext::kErrorNoWindows;
        QTest::newRow("loading with windows: the list")
            << usage(UsageProvider::codex, [&](ProviderUsage& u) { u.isLoading = true; u.windows = {w}; })
            << Content::limits << false << "";
        QTest::newRow("error keeps the windows")
            << usage(UsageProvider::copilot, [&](ProviderUsage& u) { u.windows = {w}; error(u); })
            << Content::limits << true << cardtext::kErrorKeptWindows;
        QTest::newRow("error without windows: an empty list")
            << usage(UsageProvider::copilot, error) << Content::limits << true << cardtext::kErrorNoWindows;
        QTest::newRow("unlimited")
            << usage(UsageProvider::copilot, [](ProviderUsage& u) { u.unlimitedCategories = QStringList {"chat"}; })
            << Content::unlimited << false << "";
        QTest::newRow("unlimited but empty: no data")
            << usage(UsageProvider::copilot, [](ProviderUsage& u) { u.unlimitedCategories = QStringList {}; })
            << Content::noData << false << "";
        QTest::newRow("nothing") << usage(UsageProvider::codex) << Content::noData << false << "";
        QTest::newRow("waiting on any provider") << usage(UsageProvider::antigravity, [](ProviderUsage& u) { u.waitingForObservation = true; })
                                                 << Content::waiting << false << "";
    }
    void content()
    {
        QFETCH(ProviderUsage, usage);
        QFETCH(Content, content);
        QFETCH(bool, errorBlock);
        QFETCH(QString, hint);
        const ProviderCardModel m = ProviderCardModel::make(usage, QStringLiteral("p"));
        QCOMPARE(m.content, content);
        QCOMPARE(m.error.has_value(), errorBlock);
        if (errorBlock)
            QCOMPARE(m.error->hint, hint);
        QCOMPARE(m.rows.size(), content == Content::limits ? usage.windows.size() : 0);
    }

    void limitListByProvider()
    {
        const QList<UsageWindow> claudeWindows {limitWindow("five_hour", 10), limitWindow("seven_day", 20)};
        ProviderCardModel claude = ProviderCardModel::make(withWindows(usage(UsageProvider::claude), claudeWindows), {});
        QVERIFY(claude.claudeCaption);
        QCOMPARE(claude.rows.size(), 2);
        QCOMPARE(claude.rows.at(1).id, QStringLiteral("seven_day"));
        QVERIFY(!claude.antigravityNote);
        // A Claude Code card without windows has no caption.
        claude = ProviderCardModel::make(usage(UsageProvider::claude, [](ProviderUsage& u) { u.errorMessage = "x"; }), {});
        QVERIFY(!claude.claudeCaption);
        QVERIFY(!ProviderCardModel::make(withWindows(usage(UsageProvider::codex), claudeWindows), {}).claudeCaption);

        // Antigravity: sections in their order, then always the note; no flat rows.
        const ProviderUsage ag = withWindows(usage(UsageProvider::antigravity),
                                             {limitWindow("3p-claude", 40), limitWindow("gemini-pro", 10),
                                              limitWindow("misc", 5), limitWindow("gemini-flash", 0)});
        const ProviderCardModel m = ProviderCardModel::make(ag, {});
        QCOMPARE(m.sections.size(), 3);
        QCOMPARE(m.sections.at(0).id, QStringLiteral("gemini"));
        QCOMPARE(m.sections.at(0).rows.size(), 2);
        QCOMPARE(m.sections.at(0).subtitle, std::optional<QString>("Gemini Flash, Gemini Pro"));
        QCOMPARE(m.sections.at(1).id, QStringLiteral("claudeAndGPT"));
        QCOMPARE(m.sections.at(2).id, QStringLiteral("other"));
        QCOMPARE(m.sections.at(2).subtitle, std::nullopt);
        QVERIFY(m.antigravityNote);
        QVERIFY(m.rows.isEmpty());
        // Not loading, no windows, an error: only the note.
        const ProviderCardModel failed =
            ProviderCardModel::make(usage(UsageProvider::antigravity, [](ProviderUsage& u) { u.errorMessage = "x"; }), {});
        QCOMPARE(failed.content, Content::limits);
        QVERIFY(failed.sections.isEmpty());
        QVERIFY(failed.antigravityNote);
    }

    void errorDetails_data()
    {
        QTest::addColumn<std::optional<QString>>("code");
        QTest::addColumn<QString>("details");
        QTest::newRow("code and message") << std::optional<QString>("TIMEOUT") << "TIMEOUT\nЗапрос не ответил";
        QTest::newRow("message alone") << std::optional<QString>() << "Запрос не ответил";
    }
    void errorDetails()
    {
        QFETCH(std::optional<QString>, code);
        QFETCH(QString, details);
        const ProviderUsage u = usage(UsageProvider::codex, [&](ProviderUsage& x) {
            x.errorCode = code;
            x.errorMessage = QStringLiteral("Запрос не ответил");
        });
        QCOMPARE(ProviderCardModel::make(u, {}).error->details, details);
    }

    // The reset control, the refresh button, the source note and the updated row.
    void actionsAndNotes()
    {
        const ProviderProfile profile = codexProfile();
        const ProviderUsage codex = usage(UsageProvider::codex);
        QCOMPARE(ProviderCardModel::make(codex, {}, profile, true).resetProfile, profile);
        QCOMPARE(ProviderCardModel::make(codex, {}, profile, false).resetProfile, std::nullopt);
        QCOMPARE(ProviderCardModel::make(codex, {}, std::nullopt, true).resetProfile, std::nullopt);
        QCOMPARE(ProviderCardModel::make(usage(UsageProvider::copilot), {}, profile, true).resetProfile, std::nullopt);

        QCOMPARE(ProviderCardModel::make(codex, {}).refresh, std::nullopt);
        QCOMPARE(ProviderCardModel::make(codex, {}, {}, false, true).refresh,
                 (ProviderCardModel::RefreshButton {cardtext::kRefresh, true}));
        const ProviderUsage loading = usage(UsageProvider::codex, [](ProviderUsage& u) { u.isLoading = true; });
        QCOMPARE(ProviderCardModel::make(loading, {}, {}, false, true).refresh,
                 (ProviderCardModel::RefreshButton {cardtext::kRefreshing, false}));

        auto note = [](UsageProvider provider, std::optional<bool> stale) {
            return ProviderCardModel::make(usage(provider, [&](ProviderUsage& u) {
                                               u.sourceNote = "из кэша";
                                               u.isStale = stale;
                                           }),
                                           {})
                .sourceNote;
        };
        using Note = ProviderCardModel::SourceNote;
        QCOMPARE(note(UsageProvider::copilot, true), (Note {"из кэша", true}));
        QCOMPARE(note(UsageProvider::copilot, false), (Note {"из кэша", false}));
        QCOMPARE(note(UsageProvider::codex, std::nullopt), (Note {"из кэша", false}));
        QCOMPARE(note(UsageProvider::claude, true), std::nullopt);
        QCOMPARE(note(UsageProvider::antigravity, false), std::nullopt);

        using Updated = ProviderCardModel::Updated;
        auto updated = [](const Change& change) {
            return ProviderCardModel::make(usage(UsageProvider::codex, [&](ProviderUsage& u) {
                                               u.updatedAt = kNow;
                                               change(u);
                                           }),
                                           {})
                .updated;
        };
        QCOMPARE(ProviderCardModel::make(codex, {}).updated, std::nullopt);
        QCOMPARE(updated([](ProviderUsage&) {}), (Updated {kNow, cardtext::kUpdated, false}));
        QCOMPARE(updated([](ProviderUsage& u) { u.isLoading = true; }), (Updated {kNow, cardtext::kUpdated, true}));
        QCOMPARE(updated([](ProviderUsage& u) { u.isStale = true; }), (Updated {kNow, cardtext::kLastData, false}));
        QCOMPARE(updated([](ProviderUsage& u) { u.isLoading = true; u.errorMessage = "x"; }),
                 (Updated {kNow, cardtext::kLastData, false}));
    }

    void accessibleName()
    {
        QCOMPARE(ProviderCardModel::make(usage(UsageProvider::claude), QStringLiteral("Work")).accessibleName,
                 QStringLiteral("Использование Claude, Work"));
        QCOMPARE(ProviderCardModel::make(usage(UsageProvider::codex), std::nullopt).accessibleName,
                 QStringLiteral("Использование Codex, "));
    }
};

VANTOREL_UI_TEST_MAIN(ProviderCardModelTest)
#include "test_provider_card_model.moc"
