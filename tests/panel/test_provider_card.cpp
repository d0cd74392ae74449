#include "panel/Appearance.h"
#include "panel/PanelActionStyle.h"
#include "panel/PanelPalette.h"
#include "panel/PanelScrollArea.h"
#include "panel/ProviderCard.h"
#include "panel/ProviderUsageBadge.h"
#include "panel/UsageFormat.h"
#include "panel/UsageObservationAge.h"
#include "panel/UsageProgressBar.h"
#include "platform/Scheduler.h"
#include "support/TestSupport.h"
#include "uisupport/RenderHarness.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QTest>

#include <functional>

using testsupport::limitWindow;
using Change = std::function<void(ProviderUsage&)>;

namespace {

constexpr int kWidth = 272;

ProviderUsage usage(UsageProvider provider, const Change& change)
{
    ProviderUsage u = ProviderUsage::placeholder(provider);
    u.isLoading = false;
    change(u);
    return u;
}

QImage onPanel(const QImage& card, bool dark)
{
    QImage image(card.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(palette::color(PanelColor::panelBackground, dark));
    QPainter p(&image);
    p.drawImage(0, 0, card);
    return image;
}

QRect geometryIn(const QWidget* w, const QWidget* root)
{
    return QRect(w->mapTo(root, QPoint(0, 0)), w->size());
}

} // namespace

Q_DECLARE_METATYPE(Change)

class ProviderCardTest : public QObject {
    Q_OBJECT
private:
    VirtualScheduler m_scheduler;
    Timestamp now() const { return m_scheduler.now(); }

    QImage show(ProviderCard& card, const QString& name, bool dark)
    {
        card.resize(kWidth, card.heightForWidth(kWidth));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        const QImage image = onPanel(uitest::render(card, {}, 2), dark);
        uitest::save(image, name + (dark ? "-dark" : "-light"));
        return image;
    }

private slots:
    void cleanup() { Appearance::shared().setForced(Appearance::Forced::None); }

    // Each state of a card, light and dark: the Part's texts, and probes of the surface and the colours.
    void states_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<UsageProvider>("provider");
        QTest::addColumn<Change>("change");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<bool>("dark");

        const Timestamp t = m_scheduler.now();
        const Change loading = [](ProviderUsage& u) { u.isLoading = true; };
        const Change fresh = [t](ProviderUsage& u) {
            u.planName = "Max";
            u.updatedAt = t.adding(-200);
            u.windows = {limitWindow("five_hour", 41.5, t.adding(2 * 3600 + 300)), limitWindow("seven_day", 87),
                         limitWindow("seven_day_opus", 0)};
            u.windows[0].title = "Сессия";
            u.windows[1].title = "Неделя";
            u.windows[2].title = "Fable";
        };
        const Change stale = [t](ProviderUsage& u) {
            u.planName = "Pro";
            u.updatedAt = t.adding(-3 * 3600 - 300);
            u.isStale = true;
            u.sourceNote = "Показаны данные из кэша: сервис не ответил.";
            u.windows = {limitWindow("premium", 64)};
            u.windows[0].title = "Премиум-запросы";
        };
        const Change error = [t](ProviderUsage& u) {
            u.updatedAt = t.adding(-90);
            u.errorCode = "TIMEOUT";
            u.errorMessage = "Codex не ответил за 20 с.";
            u.windows = {limitWindow("codex-primary", 100, t.adding(1800)), limitWindow("codex-secondary", 40)};
            u.windows[0].title = "5 часов";
            u.windows[1].title = "Неделя";
        };
        const Change waiting = [](ProviderUsage& u) { u.waitingForObservation = true; };
        const Change unlimited = [t](ProviderUsage& u) {
            u.updatedAt = t.adding(-30);
            u.unlimitedCategories = QStringList {"chat", "completions"};
        };
        const Change sections = [t](ProviderUsage& u) {
            u.updatedAt = t.adding(-10);
            u.windows = {limitWindow("gemini-pro", 20, t.adding(3600)), limitWindow("3p-claude", 75)};
            u.windows[0].title = "Gemini Pro";
            u.windows[1].title = "Claude Sonnet";
        };
        for (bool dark : {false, true}) {
            const char* look = dark ? "dark" : "light";
            QTest::addRow("loading %s", look) << "card-loading" << UsageProvider::codex << loading
                                              << QStringList {cardtext::kLoading, cardtext::kRefreshing} << dark;
            QTest::addRow("fresh %s", look)
                << "card-fresh" << UsageProvider::claude << fresh
                << QStringList {cardtext::kClaudeCaption, "Автосброс через 2 ч 5 мин", cardtext::kRefresh, "Обновлено 3 мин"}
                << dark;
            QTest::addRow("stale %s", look)
                << "card-stale" << UsageProvider::copilot << stale
                << QStringList {"Показаны данные из кэша: сервис не ответил.", "Последние данные 3 ч 5 мин"} << dark;
            QTest::addRow("error %s", look)
                << "card-error" << UsageProvider::codex << error
                << QStringList {cardtext::kErrorTitle, cardtext::kErrorKeptWindows, cardtext::kDetails,
                                "TIMEOUT\nCodex не ответил за 20 с.", "Автосброс через 30 мин", "Последние данные 1 мин"}
                << dark;
            QTest::addRow("waiting %s", look) << "card-waiting" << UsageProvider::claude << waiting
                                              << QStringList {cardtext::kWaiting} << dark;
            QTest::addRow("unlimited %s", look) << "card-unlimited" << UsageProvider::copilot << unlimited
                                                << QStringList {cardtext::kUnlimited, "Обновлено 30 с"} << dark;
            QTest::addRow("no data %s", look) << "card-nodata" << UsageProvider::copilot << Change([](ProviderUsage&) {})
                                              << QStringList {cardtext::kNoData} << dark;
            QTest::addRow("sections %s", look)
                << "card-antigravity" << UsageProvider::antigravity << sections
                << QStringList {"Gemini", "Gemini Flash, Gemini Pro", "Автосброс через 1 ч", "Claude и GPT",
                                cardtext::kAntigravityNote}
                << dark;
        }
    }
    void states()
    {
        QFETCH(QString, name);
        QFETCH(UsageProvider, provider);
        QFETCH(Change, change);
        QFETCH(QStringList, texts);
        QFETCH(bool, dark);
        Appearance::shared().setForced(dark ? Appearance::Forced::Dark : Appearance::Forced::Light);

        int retries = 0;
        ProviderCard card(nullptr, [&retries] { ++retries; }, nullptr, &m_scheduler);
        const ProviderUsage u = usage(provider, change);
        card.apply(ProviderCardModel::make(u, QStringLiteral("Рабочий"), std::nullopt, false, true));
        card.setDetailsExpanded(true);
        card.show();
        const QImage image = show(card, name, dark);

        const QStringList seen = uitest::visibleTexts(card);
        for (const QString& text : texts)
            QVERIFY2(seen.contains(text), qPrintable(text + " not in " + seen.join(" | ")));
        QCOMPARE(card.accessibleName(), "Использование " + usageformat::shortName(provider) + ", Рабочий");
        QCOMPARE(card.header()->accessibleName().startsWith(usageformat::shortName(provider) + ", Рабочий, "), true);
        // The header is one element: the badge's rings are its value.
        QAccessibleInterface* header = QAccessible::queryAccessibleInterface(card.header());
        QVERIFY(header);
        QCOMPARE(header->text(QAccessible::Value), ProviderUsageBadge::layout(u).summary);
        QAccessibleInterface* badge = QAccessible::queryAccessibleInterface(card.header()->badge());
        QVERIFY(!badge || badge->state().invisible);

        // The card's surface, border and rounded corners.
        const QColor surface = palette::color(PanelColor::cardBackground, dark);
        const QColor panel = palette::color(PanelColor::panelBackground, dark);
        QVERIFY(uitest::near(uitest::pixel(image, 2 * 9, image.height() - 2 * 9), surface, 2));
        QVERIFY(uitest::near(uitest::pixel(image, 1, 1), panel, 2));
        QVERIFY(uitest::near(uitest::pixel(image, image.width() / 2, 0),
                             uitest::over(palette::color(PanelColor::cardBorder, dark), panel), 8));

        // Warnings in the warning colour: the error title, a stale source note; the updated row never.
        const QColor warning = palette::color(PanelColor::panelWarning, dark);
        const QImage plain = onPanel(uitest::render(card, {}, 1), dark);
        auto warmPixels = [&](const QString& text) {
            for (QLabel* label : card.findChildren<QLabel*>())
                if (label->isVisibleTo(&card) && label->text().startsWith(text))
                    return uitest::countNear(plain, geometryIn(label, &card).adjusted(-16, 0, 0, 0), warning, 24);
            return -1;
        };
        QCOMPARE(warmPixels(cardtext::kErrorTitle) > 20, name == "card-error");
        if (u.sourceNote)
            QVERIFY(warmPixels(*u.sourceNote) > 20);
        if (u.updatedAt)
            QCOMPARE(warmPixels(u.errorMessage || u.isStale ? cardtext::kLastData : cardtext::kUpdated), 0);

        // Every row's bar in its usage colour, and its percent.
        for (const UsageWindow& w : u.windows) {
            UsageWindowRowView* row = card.row(w.id);
            QVERIFY(row);
            QCOMPARE(row->accessibleName(), w.title);
            QCOMPARE(QAccessible::queryAccessibleInterface(row)->text(QAccessible::Value),
                     UsageWindowRowModel::make(w).accessibleValue);
            if (w.usedPercent <= 0)
                continue;
            const QRect bar = geometryIn(row->bar(), &card);
            const QColor fill = palette::usageColor(w.usedPercent).resolve(dark);
            const QColor probe = uitest::pixel(image, 2 * (bar.right() - 2), 2 * bar.center().y());
            QVERIFY2(w.usedPercent < 95 || uitest::near(probe, fill, 12), qPrintable(probe.name()));
        }
        card.hide();
    }

    // A card kept open across snapshots keeps its parts, its open details and the selection in them.
    void openDetailsSurviveThreeSnapshots()
    {
        int retries = 0;
        ProviderCard card(nullptr, [&retries] { ++retries; }, nullptr, &m_scheduler);
        ProviderUsage u = usage(UsageProvider::codex, [this](ProviderUsage& x) {
            x.updatedAt = now();
            x.errorCode = "REQUEST_FAILED";
            x.errorMessage = "Сервер ответил 503. Повторите позже.";
            x.windows = {limitWindow("codex-primary", 30), limitWindow("codex-secondary", 20)};
        });
        card.apply(ProviderCardModel::make(u, QStringLiteral("Work"), std::nullopt, false, true));
        card.resize(kWidth, card.heightForWidth(kWidth));
        card.show();
        QVERIFY(!card.isDetailsExpanded());
        QVERIFY(!card.details()->isVisible());
        card.setDetailsExpanded(true);
        QVERIFY(card.details()->isVisible());
        QLabel* text = card.details()->label();
        text->setSelection(0, 14);
        QCOMPARE(text->selectedText(), QStringLiteral("REQUEST_FAILED"));
        DiagnosticDetails* details = card.details();
        ProviderHeaderView* header = card.header();
        UsageWindowRowView* primary = card.row("codex-primary");
        const int built = card.rowsBuilt();

        const QList<Change> snapshots {
            [](ProviderUsage& x) { x.isLoading = true; },
            [this](ProviderUsage& x) {
                x.isLoading = false;
                x.updatedAt = now().adding(60);
                x.windows[0].usedPercent = 55;
            },
            [](ProviderUsage& x) {
                x.windows.append(limitWindow("extra", 5));
                x.planName = "Plus";
            },
        };
        for (const Change& step : snapshots) {
            step(u);
            card.apply(ProviderCardModel::make(u, QStringLiteral("Work"), std::nullopt, false, true));
            QCoreApplication::processEvents();
            QVERIFY(card.isDetailsExpanded());
            QVERIFY(card.details()->isVisible());
            QCOMPARE(card.details(), details);
            QCOMPARE(card.header(), header);
            QCOMPARE(card.row("codex-primary"), primary);
            QCOMPARE(text->selectedText(), QStringLiteral("REQUEST_FAILED"));
        }
        QCOMPARE(primary->model().percentText, QStringLiteral("55%"));
        QCOMPARE(card.rowsBuilt(), built + 1); // only the new window got a row
        QCOMPARE(header->model().makerLine, QStringLiteral("OpenAI · Plus"));

        // A new error text replaces the details; the disclosure stays open.
        u.errorMessage = "Другая ошибка";
        card.apply(ProviderCardModel::make(u, QStringLiteral("Work"), std::nullopt, false, true));
        QCOMPARE(details->text(), QStringLiteral("REQUEST_FAILED\nДругая ошибка"));
        QVERIFY(card.isDetailsExpanded());
        // The error goes: no block; it comes back still open.
        u.errorMessage.reset();
        u.errorCode.reset();
        card.apply(ProviderCardModel::make(u, QStringLiteral("Work"), std::nullopt, false, true));
        QVERIFY(!details->isVisible());
        QCOMPARE(uitest::visibleTexts(card).contains(cardtext::kErrorTitle), false);
        QCOMPARE(retries, 0);
    }

    // Long details scroll within 120 points; short ones take only their own height.
    void detailsScrollBeyond120Points()
    {
        ProviderCard card(nullptr, {}, nullptr, &m_scheduler);
        ProviderUsage u = usage(UsageProvider::claude, [](ProviderUsage& x) { x.errorMessage = "Коротко"; });
        card.apply(ProviderCardModel::make(u, {}));
        card.setDetailsExpanded(true);
        card.resize(kWidth, card.heightForWidth(kWidth));
        card.show();
        const int shortHeight = card.details()->height();
        QVERIFY(shortHeight > 0 && shortHeight < 40);
        QStringList lines;
        for (int i = 0; i < 40; ++i)
            lines << QStringLiteral("строка %1 подробностей об ошибке").arg(i);
        u.errorMessage = lines.join('\n');
        card.apply(ProviderCardModel::make(u, {}));
        card.resize(kWidth, card.heightForWidth(kWidth));
        QCoreApplication::processEvents();
        QCOMPARE(card.details()->height(), DiagnosticDetails::kMaximumHeight);
        QVERIFY(card.details()->verticalScrollBar()->maximum() > 0);
        QVERIFY(card.details()->label()->textInteractionFlags() & Qt::TextSelectableByMouse);
    }

    // The details at the card's width in a 300-px panel, reached as the panel
    // does: open while narrow, a new text, then the panel widens. A text that
    // wraps shows every line and no scroll bar; one past 120 px scrolls with the
    // thin indicator only.
    void detailsShowTheirWholeText_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("scrolls");
        QTest::addColumn<bool>("dark");
        QStringList lines;
        for (int i = 0; i < 12; ++i)
            lines << QStringLiteral("строка %1 подробностей об ошибке").arg(i);
        for (bool dark : {false, true}) {
            const char* look = dark ? "dark" : "light";
            QTest::addRow("credentials %s", look)
                << "CREDENTIALS_MISSING" << "Войдите в Claude Code для этого профиля." << false << dark;
            QTest::addRow("wrapped %s", look)
                << "CREDENTIALS_MISSING" << "Войдите в Claude Code для этого профиля и откройте сессию снова."
                << false << dark;
            QTest::addRow("long %s", look) << "REQUEST_FAILED" << lines.join('\n') << true << dark;
        }
    }
    void detailsShowTheirWholeText()
    {
        QFETCH(QString, code);
        QFETCH(QString, message);
        QFETCH(bool, scrolls);
        QFETCH(bool, dark);
        Appearance::shared().setForced(dark ? Appearance::Forced::Dark : Appearance::Forced::Light);
        ProviderCard card(nullptr, {}, nullptr, &m_scheduler);
        ProviderUsage u = usage(UsageProvider::claude, [](ProviderUsage& x) { x.errorMessage = "Коротко"; });
        card.apply(ProviderCardModel::make(u, QStringLiteral("Рабочий")));
        card.setDetailsExpanded(true);
        card.resize(120, card.heightForWidth(120));
        card.show();
        QCoreApplication::processEvents();
        u.errorCode = code;
        u.errorMessage = message;
        card.apply(ProviderCardModel::make(u, QStringLiteral("Рабочий")));
        QCoreApplication::processEvents();
        const QImage image = show(card, QStringLiteral("card-details-") + QTest::currentDataTag(), dark);

        DiagnosticDetails* details = card.details();
        QLabel* text = details->label();
        QCOMPARE(details->text(), code + '\n' + message);
        QCOMPARE(details->width(), kWidth - 2 * ProviderCard::kPadding);
        QCOMPARE(text->width(), details->width()); // nothing takes width from the text
        const int whole = text->heightForWidth(details->width());
        QCOMPARE(text->height(), whole);
        QScrollBar* bar = details->verticalScrollBar();
        QVERIFY(!bar->isVisible());
        if (!scrolls) {
            QCOMPARE(details->height(), whole);
            QCOMPARE(bar->maximum(), 0);
            QVERIFY(!details->indicatorRect().isValid());
            return;
        }
        QCOMPARE(details->height(), DiagnosticDetails::kMaximumHeight);
        QCOMPARE(bar->maximum(), whole - DiagnosticDetails::kMaximumHeight);
        // A thin capsule at the right edge, in the secondary text colour over the card.
        const QRect thumb = details->indicatorRect();
        QVERIFY(thumb.isValid());
        QCOMPARE(thumb.width(), scrollindicator::kThickness);
        QVERIFY(thumb.right() < details->width() && thumb.right() > details->width() - 8);
        QVERIFY(thumb.height() < details->height() / 2);
        const QPoint centre = (thumb.center() + geometryIn(details, &card).topLeft()) * 2;
        const QColor ink = uitest::over(palette::color(PanelColor::panelSecondaryText, dark),
                                        palette::color(PanelColor::cardBackground, dark),
                                        PanelScrollIndicator::kOpacity);
        QVERIFY2(uitest::near(uitest::pixel(image, centre.x(), centre.y()), ink, 8),
                 qPrintable(uitest::pixel(image, centre.x(), centre.y()).name()));
        // Scrolled to the end, the thumb sits at the bottom.
        bar->setValue(bar->maximum());
        QCOMPARE(details->indicatorRect().bottom(), details->height() - 1 - scrollindicator::kInset);
    }

    // The indicator's thumb: proportional to the page in view, never shorter than
    // its minimum, kept on the track for any value; none while nothing scrolls.
    void scrollIndicatorThumb_data()
    {
        QTest::addColumn<QSize>("area");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("page");
        QTest::addColumn<QRect>("thumb");
        QTest::newRow("fits") << QSize(236, 60) << 0 << 0 << 60 << QRect();
        QTest::newRow("top") << QSize(236, 120) << 0 << 120 << 120 << QRect(231, 2, 3, 58);
        QTest::newRow("bottom") << QSize(236, 120) << 120 << 120 << 120 << QRect(231, 60, 3, 58);
        QTest::newRow("past the end") << QSize(236, 120) << 500 << 120 << 120 << QRect(231, 60, 3, 58);
        QTest::newRow("before the start") << QSize(236, 120) << -5 << 120 << 120 << QRect(231, 2, 3, 58);
        QTest::newRow("huge text") << QSize(236, 120) << 0 << 2000000000 << 120 << QRect(231, 2, 3, 16);
        QTest::newRow("no room") << QSize(236, 4) << 0 << 50 << 4 << QRect();
    }
    void scrollIndicatorThumb()
    {
        QFETCH(QSize, area);
        QFETCH(int, value);
        QFETCH(int, maximum);
        QFETCH(int, page);
        QFETCH(QRect, thumb);
        QCOMPARE(scrollindicator::thumb(area, value, maximum, page), thumb);
    }

    // The refresh button runs the retry action once per press, never while loading.
    void refreshButtonRunsTheRetryAction()
    {
        int retries = 0;
        ProviderCard card(nullptr, [&retries] { ++retries; }, nullptr, &m_scheduler);
        ProviderUsage u = usage(UsageProvider::copilot, [](ProviderUsage& x) { x.windows = {limitWindow("a", 1)}; });
        card.apply(ProviderCardModel::make(u, {}, std::nullopt, false, true));
        card.resize(kWidth, card.heightForWidth(kWidth));
        card.show();
        auto* button = qobject_cast<QAbstractButton*>(card.refreshButton());
        QVERIFY(button && button->isVisible());
        QCOMPARE(button->toolTip(), cardtext::kRefreshTooltip);
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(retries, 1);
        u.isLoading = true;
        card.apply(ProviderCardModel::make(u, {}, std::nullopt, false, true));
        QCOMPARE(button->text(), cardtext::kRefreshing);
        QVERIFY(!button->isEnabled());
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(retries, 1);
        // No retry action: no button, whatever the model says.
        ProviderCard bare(nullptr, {}, nullptr, &m_scheduler);
        bare.apply(ProviderCardModel::make(u, {}, std::nullopt, false, true));
        QVERIFY(!bare.refreshButton()->isVisibleTo(&bare));
    }

    // A card built in the light appearance redraws every part in the dark one when it changes.
    void followsTheAppearance()
    {
        Appearance::shared().setForced(Appearance::Forced::Light);
        ProviderCard card(nullptr, {}, nullptr, &m_scheduler);
        card.apply(ProviderCardModel::make(usage(UsageProvider::copilot, [this](ProviderUsage& x) {
                                               x.updatedAt = now();
                                               x.isStale = true;
                                               x.sourceNote = "кэш";
                                               x.errorMessage = "x";
                                           }),
                                           {}));
        card.resize(kWidth, card.heightForWidth(kWidth));
        card.show();
        Appearance::shared().setForced(Appearance::Forced::Dark);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        const QImage image = uitest::render(card);
        QVERIFY(uitest::near(uitest::pixel(image, 9, image.height() - 9), palette::color(PanelColor::cardBackground, true), 2));
        for (QLabel* label : card.findChildren<QLabel*>()) {
            if (label->text() == QStringLiteral("кэш"))
                QCOMPARE(label->palette().color(QPalette::WindowText), palette::color(PanelColor::panelWarning, true));
            if (label->text() == cardtext::kErrorNoWindows)
                QCOMPARE(label->palette().color(QPalette::WindowText), palette::color(PanelColor::panelSecondaryText, true));
        }
    }

    // The header's percent rolls to a new value and lands on it; no figure, no percent.
    void headerPercentRollsToItsNewValue()
    {
        ProviderHeaderView header;
        ProviderUsage u = usage(UsageProvider::codex, [](ProviderUsage& x) { x.windows = {limitWindow("a", 20)}; });
        header.apply(ProviderHeaderModel::make(u, {}));
        QCOMPARE(header.peakMotion().text(), QStringLiteral("20%"));
        u.windows[0].usedPercent = 35;
        header.apply(ProviderHeaderModel::make(u, {}));
        QCOMPARE(header.peakMotion().text(), QStringLiteral("35%"));
        QCOMPARE(header.peakMotion().previous(), QStringLiteral("20%"));
        QVERIFY(header.peakMotion().progress() < 1);
        header.peakMotion().animation().setCurrentTime(header.peakMotion().animation().duration());
        QCOMPARE(header.peakMotion().progress(), 1.0);
        u.windows[0].usedPercent = std::numeric_limits<double>::quiet_NaN();
        header.apply(ProviderHeaderModel::make(u, {}));
        QVERIFY(header.peakRect(kWidth).isEmpty());
        u.windows.clear();
        header.apply(ProviderHeaderModel::make(u, {}));
        QVERIFY(header.peakRect(kWidth).isEmpty());
    }
};

VANTOREL_UI_TEST_MAIN(ProviderCardTest)
#include "test_provider_card.moc"
