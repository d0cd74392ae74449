#include "PanelAccountsFixture.h"

#include "panel/Appearance.h"
#include "panel/CollapsedEdgeController.h"
#include "panel/EdgeRowLayout.h"
#include "panel/Motion.h"
#include "panel/PanelLabel.h"
#include "panel/PanelLayerEffect.h"
#include "panel/PressFeedback.h"
#include "panel/ProviderLimitRing.h"
#include "panel/ProviderUsageBadge.h"
#include "panel/RelativeTime.h"
#include "panel/UsageFormat.h"
#include "uisupport/RenderHarness.h"

#include <QApplication>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <limits>

namespace {

const QTimeZone kZone = QTimeZone::utc();
const QLocale kLocale(QLocale::Russian, QLocale::Russia);

// The column over the panel's background, as the panel draws it.
QImage renderOnPanel(QWidget& view, QSize size, bool dark)
{
    const QImage content = uitest::render(view, size, 2);
    QImage image(content.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(palette::color(PanelColor::panelBackground, dark));
    QPainter(&image).drawImage(0, 0, content);
    return image;
}

} // namespace

class RingColumnTest : public QObject {
    Q_OBJECT
private slots:
    // Reset times as a Russian desktop shows them.
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }

    void valueText_data()
    {
        QTest::addColumn<QList<double>>("percents");
        QTest::addColumn<double>("resetIn"); // seconds from now of every window's reset; NaN: none
        QTest::addColumn<bool>("loading");
        QTest::addColumn<bool>("error");
        QTest::addColumn<bool>("unlimited");
        QTest::addColumn<QString>("text");
        const double none = std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("rounded half away") << QList<double> {41.5, 12} << none << false << false << false << "42%";
        QTest::newRow("spent with a reset ahead") << QList<double> {30, 100} << 3600.0 << false << false << false
                                                  << "__reset__";
        QTest::newRow("spent, reset passed") << QList<double> {30, 100} << -60.0 << false << false << false << "100%";
        QTest::newRow("spent without reset") << QList<double> {130} << none << false << false << false << "130%";
        QTest::newRow("99.6 is not spent") << QList<double> {99.6} << 3600.0 << false << false << false << "100%";
        QTest::newRow("loading") << QList<double> {} << none << true << true << true << "…";
        QTest::newRow("failed") << QList<double> {} << none << false << true << true << "!";
        QTest::newRow("unlimited") << QList<double> {} << none << false << false << true << "∞";
        QTest::newRow("nothing") << QList<double> {} << none << false << false << false << "—";
        QTest::newRow("a peak without a figure")
            << QList<double> {std::numeric_limits<double>::infinity()} << none << false << false << false << "—";
    }

    void valueText()
    {
        QFETCH(QList<double>, percents);
        QFETCH(double, resetIn);
        QFETCH(bool, loading);
        QFETCH(bool, error);
        QFETCH(bool, unlimited);
        QFETCH(QString, text);
        const Timestamp now = Timestamp::fromSince1970(1'800'000'000);
        ProviderUsage usage = ProviderUsage::placeholder(UsageProvider::codex);
        usage.isLoading = loading;
        if (error)
            usage.errorMessage = QStringLiteral("нет ответа");
        if (unlimited)
            usage.unlimitedCategories = QStringList {QStringLiteral("chat")};
        for (int i = 0; i < percents.size(); ++i) {
            UsageWindow w {QStringLiteral("w%1").arg(i), QStringLiteral("W"), percents.at(i), {}, 300, {}};
            if (!std::isnan(resetIn))
                w.resetsAt = now.adding(resetIn);
            usage.windows << w;
        }
        if (text == QLatin1String("__reset__"))
            text = relativetime::resetTimeText(now.adding(resetIn), now, kZone, kLocale);
        QCOMPARE(compactindicator::valueText(usage, now, kZone, kLocale), text);
    }

    void rowModel_data()
    {
        QTest::addColumn<int>("provider");
        QTest::addColumn<int>("windows");
        QTest::addColumn<bool>("stale");
        QTest::addColumn<int>("spacing");
        QTest::addColumn<bool>("warning");
        QTest::addColumn<bool>("resetControl");
        QTest::newRow("codex, one window") << int(UsageProvider::codex) << 1 << false << 7 << false << true;
        QTest::newRow("codex, two windows") << int(UsageProvider::codex) << 2 << false << 4 << false << true;
        QTest::newRow("copilot, one window, stale") << int(UsageProvider::copilot) << 1 << true << 7 << true << false;
        QTest::newRow("claude, always 4") << int(UsageProvider::claude) << 0 << false << 4 << false << false;
        QTest::newRow("antigravity, none") << int(UsageProvider::antigravity) << 0 << false << 7 << false << false;
    }

    void rowModel()
    {
        QFETCH(int, provider);
        QFETCH(int, windows);
        QFETCH(bool, stale);
        QFETCH(int, spacing);
        QFETCH(bool, warning);
        QFETCH(bool, resetControl);
        const ProviderProfile profile {UsageProvider(provider), QStringLiteral("/home/u/.x"), QStringLiteral("Work"),
                                       true, {}, {}};
        ProviderUsage usage = ProviderUsage::placeholder(UsageProvider(provider));
        usage.isLoading = false;
        if (stale)
            usage.isStale = true;
        for (int i = 0; i < windows; ++i)
            usage.windows << UsageWindow {QStringLiteral("w%1").arg(i), QStringLiteral("W"), 20.0 + i, {}, 300, {}};
        const CompactRowModel m = CompactRowModel::of(profile, usage, Timestamp::fromSince1970(1'800'000'000));
        QCOMPARE(m.spacing, spacing);
        QCOMPARE(m.valueWarning, warning);
        QCOMPARE(m.hasResetControl, resetControl);
        const QString word = usageformat::shortName(UsageProvider(provider));
        const QString summary = ProviderLimitRing::accessibilitySummary(usage);
        QCOMPARE(m.toolTip, word + QStringLiteral(" · Work\n") + summary);
        QCOMPARE(m.accessibleName, word + QStringLiteral(", Work"));
        QCOMPARE(m.accessibleValue, summary.isEmpty() ? m.valueText : summary);
    }

    void scrollsOnlyWhenShort_data()
    {
        QTest::addColumn<int>("profiles");
        QTest::addColumn<double>("height");
        QTest::addColumn<double>("needed");
        QTest::addColumn<bool>("scrolls");
        QTest::newRow("none") << 0 << 270.0 << 270.0 << false;
        QTest::newRow("one") << 1 << 314.0 << 314.0 << false;
        QTest::newRow("three fit") << 3 << 522.0 << 522.0 << false;
        QTest::newRow("three, a point short") << 3 << 521.0 << 522.0 << true;
    }

    void scrollsOnlyWhenShort()
    {
        QFETCH(int, profiles);
        QFETCH(double, height);
        QFETCH(double, needed);
        QFETCH(bool, scrolls);
        QCOMPARE(edgerows::neededHeight(profiles), needed);
        QCOMPARE(CollapsedEdgeController::scrolls(height, profiles), scrolls);
    }

    // Rows follow the registry in provider order, each a button that calls
    // the toggle; Codex rows carry the reset control; the rows stay the same
    // widgets, and the scroll position stays, across snapshot updates.
    void followsTheAccountsAndKeepsRows()
    {
        PanelAccounts f;
        f.addEveryState();
        UsageAccounts& accounts = f.start();
        int toggles = 0;
        CollapsedEdgeController column(accounts, [&] { ++toggles; });
        column.resize(70, 400); // shorter than seven rows need: it scrolls
        column.show();
        f.settle();

        QStringList names;
        for (const QString& id : column.rowOrder())
            names << column.row(id)->model().profileName;
        QCOMPARE(names, (QStringList {"Основной", "Новый", "Работа", "Загрузка", "GitHub", "Безлимит", "Gemini"}));
        QVERIFY(column.emptyButton()->isHidden());
        QCOMPARE(column.rowsBuilt(), 7);

        const ProviderProfile work = f.h.named("Работа");
        CompactAccountRow* row = column.row(work.id());
        QCOMPARE(row->button()->objectName(), QStringLiteral("account.") + work.id());
        QVERIFY(column.findChild<QAbstractButton*>(QStringLiteral("account.") + work.id()));
        QCOMPARE(row->model().valueText,
                 relativetime::resetTimeText(f.now().adding(7200), f.now(), QTimeZone::systemTimeZone(), QLocale()));
        QCOMPARE(column.row(f.h.named("Gemini").id())->model().valueText, QStringLiteral("!"));
        QCOMPARE(column.row(f.h.named("Gemini").id())->valueLabel()->role(), PanelColor::panelWarning);
        QCOMPARE(column.row(f.h.named("Безлимит").id())->model().valueText, QStringLiteral("∞"));
        QCOMPARE(column.row(f.h.named("Загрузка").id())->model().valueText, QStringLiteral("…"));
        QCOMPARE(column.row(f.h.named("Новый").id())->model().valueText, QStringLiteral("—"));
        QCOMPARE(column.row(f.h.named("Основной").id())->model().valueText, QStringLiteral("63%"));

        // Only the Codex rows carry the reset control, centred on the badge; this one offers a spend.
        for (const QString& id : column.rowOrder()) {
            const CompactAccountRow* r = column.row(id);
            QCOMPARE(r->resetControl() != nullptr, r->model().provider == UsageProvider::codex);
        }
        QWidget* reset = row->resetControl();
        QWidget* badge = row->badge();
        QCOMPARE(QRectF(reset->geometry()).center(), QRectF(badge->mapTo(row, QPoint()), QSizeF(badge->size())).center());
        QVERIFY(column.findChild<QWidget*>(QStringLiteral("reset.") + work.id()));

        QScrollBar* bar = column.scrollArea()->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        bar->setValue(bar->maximum());
        const int scrolled = bar->value();
        for (int update = 0; update < 3; ++update) {
            f.answer("Основной", f.usage(UsageProvider::claude, {f.window("five_hour", "Сессия", 50.0 + update)}));
            accounts.refresh(f.h.named("Основной"), true);
            f.settle();
        }
        QCOMPARE(column.row(f.h.named("Основной").id())->model().valueText, QStringLiteral("52%"));
        QCOMPARE(column.rowsBuilt(), 7);
        QCOMPARE(column.row(work.id()), row);
        QCOMPARE(bar->value(), scrolled);

        row->button()->click();
        column.chevron()->click();
        QCOMPARE(toggles, 2);

        // Hiding a profile drops its row alone.
        accounts.setVisible(false, f.h.named("Gemini").id());
        f.settle();
        QCOMPARE(column.rowOrder().size(), 6);
        QCOMPARE(column.row(work.id()), row);
    }

    // Without profiles the column holds only the button that opens the panel.
    void emptyColumnOffersOneButton()
    {
        PanelAccounts f;
        UsageAccounts& accounts = f.start();
        int toggles = 0;
        CollapsedEdgeController column(accounts, [&] { ++toggles; });
        column.resize(70, int(edgerows::neededHeight(0)));
        column.show();
        QVERIFY(column.rowOrder().isEmpty());
        QVERIFY(!column.emptyButton()->isHidden());
        QCOMPARE(column.emptyButton()->accessibleName(), QStringLiteral("Выбрать аккаунты в настройках"));
        column.emptyButton()->click();
        QCOMPARE(toggles, 1);
    }

    // A spent window shows its reset time until the first minute boundary
    // after the reset, then its percentage; the row ticks only while shown.
    void valueTextTicksAtMinuteBoundaries()
    {
        PanelAccounts f;
        f.add(UsageProvider::codex, "Работа");
        // The reset falls 90 s after a minute boundary.
        const double intoMinute = std::fmod(f.now().since1970(), 60.0);
        f.answer("Работа", f.usage(UsageProvider::codex, {f.window("codex-primary", "5 ч", 100, 90 - intoMinute)}));
        UsageAccounts& accounts = f.start();
        CollapsedEdgeController column(accounts, [] {});
        column.resize(70, 314);
        CompactAccountRow* row = column.row(f.h.named("Работа").id());
        const QString resetText = row->model().valueText;
        QVERIFY(resetText != QStringLiteral("100%"));
        const std::size_t idle = f.h.scheduler.scheduledCount(); // the store's own timer
        column.show();
        QCOMPARE(f.h.scheduler.scheduledCount(), idle + 1);
        f.h.scheduler.advance(60);
        QCOMPARE(row->model().valueText, resetText); // the boundary before the reset
        QCOMPARE(f.h.scheduler.scheduledCount(), idle + 1);
        column.hide();
        QCOMPARE(f.h.scheduler.scheduledCount(), idle);
        f.h.scheduler.advance(60); // the first boundary after the reset passes unseen
        QCOMPARE(row->model().valueText, resetText);

        column.show();
        QCOMPARE(row->model().valueText, QStringLiteral("100%"));
        QCOMPARE(f.h.scheduler.scheduledCount(), idle); // nothing left to tick for
    }

    // A pressed row shrinks to 0.975 and brightens by 0.06: along the spring,
    // or at once under Reduce Motion.
    void pressedRowShrinksAndBrightens_data()
    {
        QTest::addColumn<bool>("reduceMotion");
        QTest::newRow("spring") << false;
        QTest::newRow("reduce motion") << true;
    }

    void pressedRowShrinksAndBrightens()
    {
        QFETCH(bool, reduceMotion);
        motion::setReduceMotion(reduceMotion);
        PanelAccounts f;
        f.add(UsageProvider::copilot, "GitHub");
        f.answer("GitHub", f.usage(UsageProvider::copilot, {f.window("premium", "Премиум", 40)}));
        UsageAccounts& accounts = f.start();
        CollapsedEdgeController column(accounts, [] {});
        column.resize(70, 314);
        column.show();
        EdgePanelButton* button = column.row(f.h.named("GitHub").id())->button();
        QVERIFY(!button->pressLayer());

        button->press().setPressed(true);
        if (!reduceMotion) {
            QVariantAnimation& spring = button->press().animation();
            QVERIFY(spring.state() == QAbstractAnimation::Running);
            spring.setCurrentTime(spring.duration() / 8);
            QVERIFY(button->press().amount() > 0 && button->press().amount() < 1);
            spring.setCurrentTime(spring.duration());
        }
        QCOMPARE(button->press().amount(), 1.0);
        QVERIFY(button->pressLayer());
        QCOMPARE(button->pressLayer()->scale(), EdgePanelButton::kPressedScale);
        QCOMPARE(button->pressLayer()->brightness(), EdgePanelButton::kPressedBrightness);

        button->press().setPressed(false);
        if (!reduceMotion)
            button->press().animation().setCurrentTime(button->press().animation().duration());
        QVERIFY(!button->pressLayer());
        motion::setReduceMotion(false);
    }

    // Every state, light and dark.
    void rendersEveryState()
    {
        PanelAccounts f;
        f.addEveryState();
        UsageAccounts& accounts = f.start();
        const QSize size(70, int(edgerows::neededHeight(7)));
        for (bool dark : {false, true}) {
            Appearance::shared().setForced(dark ? Appearance::Forced::Dark : Appearance::Forced::Light);
            CollapsedEdgeController column(accounts, [] {});
            column.resize(size);
            column.show();
            const QImage image = renderOnPanel(column, size, dark);
            uitest::save(image, dark ? "rings-states-dark" : "rings-states-light");

            // The failed row's "!" is drawn in the warning colour.
            const CompactAccountRow* failed = column.row(f.h.named("Gemini").id());
            const QRect value(failed->valueLabel()->mapTo(&column, QPoint()) * 2, failed->valueLabel()->size() * 2);
            QVERIFY(uitest::countNear(image, value, palette::color(PanelColor::panelWarning, dark), 40) > 4);
            // The chevron below the rows is drawn.
            const QRect chevron(column.chevron()->mapTo(&column, QPoint()) * 2, column.chevron()->size() * 2);
            QVERIFY(uitest::countNear(image, chevron, palette::color(PanelColor::panelBackground, dark), 2)
                    < chevron.width() * chevron.height());
        }
        Appearance::shared().setForced(Appearance::Forced::None);
    }
};

VANTOREL_UI_TEST_MAIN(RingColumnTest)
#include "test_ring_column.moc"
