#include "PanelAccountsFixture.h"

#include "panel/Appearance.h"
#include "panel/DashboardView.h"
#include "panel/FeedbackController.h"
#include "panel/Motion.h"
#include "panel/PressFeedback.h"
#include "panel/PanelLabel.h"
#include "panel/PanelPalette.h"
#include "panel/ProviderCard.h"
#include "panel/UsageObservationAge.h"
#include "uisupport/RenderHarness.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

namespace {

// Feedback that logs its cues instead of playing them.
struct CueLog {
    QStringList cues;
    std::unique_ptr<FeedbackController> controller;

    CueLog()
    {
        const QByteArray selection = *tonewave::make(FeedbackController::kSelectionTone);
        controller = std::make_unique<FeedbackController>(
            nullptr,
            [this, selection](const QByteArray& wave) -> std::unique_ptr<FeedbackSound> {
                return std::make_unique<Sound>(this, wave == selection ? "selection" : "success");
            },
            [] {});
    }

    struct Sound final : FeedbackSound {
        Sound(CueLog* log, const char* name) : log(log), name(QString::fromLatin1(name)) {}
        void restart() override { log->cues << name; }
        CueLog* log;
        QString name;
    };
};

// The view over the panel's background, as the panel draws it.
QImage renderOnPanel(QWidget& view, QSize size, bool dark)
{
    const QImage content = uitest::render(view, size, 2);
    QImage image(content.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(palette::color(PanelColor::panelBackground, dark));
    QPainter(&image).drawImage(0, 0, content);
    return image;
}

// Where `widget` lies in a render of `view` at scale 2.
QRect area(QWidget& view, QWidget* widget)
{
    return QRect(widget->mapTo(&view, QPoint()) * 2, widget->size() * 2);
}

// Some label or accessible name under `root` reads `text` (a prefix will do).
bool findText(QWidget& root, const char* text)
{
    const QString wanted = QString::fromUtf8(text);
    for (QWidget* w : root.findChildren<QWidget*>()) {
        QString shown = w->accessibleName();
        if (auto* label = qobject_cast<QLabel*>(w))
            shown = label->text();
        else if (auto* panel = qobject_cast<PanelLabel*>(w))
            shown = panel->text();
        if (shown.startsWith(wanted))
            return true;
    }
    return false;
}

QAbstractButton* button(QWidget& view, const QString& accessibleName)
{
    for (QAbstractButton* b : view.findChildren<QAbstractButton*>())
        if (b->accessibleName() == accessibleName)
            return b;
    return nullptr;
}

} // namespace

class DashboardViewTest : public QObject {
    Q_OBJECT
private slots:
    // Reset times as a Russian desktop shows them.
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }

    void statusLine_data()
    {
        QTest::addColumn<bool>("errors");
        QTest::addColumn<bool>("recovering");
        QTest::addColumn<bool>("updated");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("warning");
        QTest::addColumn<bool>("withAge");
        QTest::newRow("errors win over a date") << true << false << true << "Есть ошибки подключения" << true << false;
        QTest::newRow("errors with a retry time") << true << true << true << "Восстановление подключения" << true
                                                  << false;
        QTest::newRow("a date") << false << false << true << "Обновлено" << false << true;
        QTest::newRow("a retry time alone is no error") << false << true << true << "Обновлено" << false << true;
        QTest::newRow("nothing usable") << false << false << false << "Лимиты AI-провайдеров" << false << false;
    }

    void statusLine()
    {
        QFETCH(bool, errors);
        QFETCH(bool, recovering);
        QFETCH(bool, updated);
        QFETCH(QString, text);
        QFETCH(bool, warning);
        QFETCH(bool, withAge);
        const Timestamp date = Timestamp::fromSinceReference(1000);
        const DashboardStatus status =
            DashboardStatus::of(errors, recovering, updated ? std::optional(date) : std::nullopt);
        QCOMPARE(status.text, text);
        QCOMPARE(status.warning, warning);
        QCOMPARE(status.updatedAt.has_value(), withAge);
    }

    // The header's status follows the registry live, with the time ago ticking
    // on the registry's clock while shown.
    void statusFollowsTheAccounts()
    {
        PanelAccounts f;
        f.add(UsageProvider::codex, "Codex");
        f.add(UsageProvider::claude, "Claude");
        f.answer("Codex", f.usage(UsageProvider::codex, {f.window("codex-primary", "5 ч", 20)}));
        f.answer("Claude", f.usage(UsageProvider::claude, {f.window("five_hour", "Сессия", 10)}));
        UsageAccounts& accounts = f.start();
        DashboardView view(accounts, {});
        view.resize(300, 570);
        view.show();
        f.settle();

        auto* age = view.findChild<LiveTimeLabel*>();
        QVERIFY(age);
        QCOMPARE(view.model().status.text, QStringLiteral("Обновлено"));
        QCOMPARE(age->text(), QStringLiteral("только что"));
        f.h.scheduler.advance(5 * 60);
        QCOMPARE(age->text(), QStringLiteral("5 мин назад"));

        f.fail("Claude", ProviderClientError::timedOut(QStringLiteral("Claude Code не ответил.")));
        accounts.refresh(f.h.named("Claude"), true);
        f.settle();
        QCOMPARE(view.model().status.text, QStringLiteral("Восстановление подключения"));
        QVERIFY(view.model().status.warning);
        QVERIFY(age->isHidden());
        QVERIFY(age->nextChange() == std::nullopt); // hidden: no timer
    }

    // Refresh: the selection cue at once, the success cue only when every
    // profile refreshed cleanly; disabled while refreshing.
    void refreshPlaysCues_data()
    {
        QTest::addColumn<bool>("oneFails");
        QTest::addColumn<QStringList>("cues");
        QTest::newRow("all clean") << false << QStringList {"selection", "success"};
        QTest::newRow("one fails") << true << QStringList {"selection"};
    }

    void refreshPlaysCues()
    {
        QFETCH(bool, oneFails);
        QFETCH(QStringList, cues);
        PanelAccounts f;
        f.add(UsageProvider::codex, "Codex");
        f.add(UsageProvider::copilot, "Copilot");
        UsageAccounts& accounts = f.start();
        CueLog log;
        DashboardView::Actions actions;
        actions.feedback = log.controller.get();
        DashboardView view(accounts, actions);
        view.show();
        QAbstractButton* refresh = button(view, QStringLiteral("Обновить использование"));
        QVERIFY(refresh);
        QVERIFY(refresh->isEnabled());
        QCOMPARE(refresh->toolTip(), QStringLiteral("Обновить сейчас"));

        if (oneFails)
            f.fail("Copilot", ProviderClientError::requestFailed(QStringLiteral("нет сети")));
        refresh->click();
        QCOMPARE(log.cues, QStringList {"selection"});
        QCoreApplication::processEvents();
        QVERIFY(view.model().isRefreshing);
        QVERIFY(!refresh->isEnabled());
        f.settle();
        QVERIFY(!view.model().isRefreshing);
        QCOMPARE(log.cues, cues);
    }

    // Without profiles: the empty state, refresh disabled; collapse, settings
    // and quit still act. Without a collapse action there is no collapse button.
    void emptyStateAndActions_data()
    {
        QTest::addColumn<bool>("withCollapse");
        QTest::newRow("with collapse") << true;
        QTest::newRow("without collapse") << false;
    }

    void emptyStateAndActions()
    {
        QFETCH(bool, withCollapse);
        PanelAccounts f;
        UsageAccounts& accounts = f.start();
        CueLog log;
        QStringList calls;
        DashboardView::Actions actions;
        if (withCollapse)
            actions.collapse = [&] { calls << "collapse"; };
        actions.openSettings = [&] { calls << "settings"; };
        actions.quit = [&] { calls << "quit"; };
        actions.feedback = log.controller.get();
        DashboardView view(accounts, actions);
        view.resize(300, 570);
        view.show();
        f.settle();

        QVERIFY(view.model().isEmpty);
        QCOMPARE(view.model().status.text, QStringLiteral("Лимиты AI-провайдеров"));
        QVERIFY(!button(view, QStringLiteral("Обновить использование"))->isEnabled());
        QAbstractButton* collapse = button(view, QStringLiteral("Свернуть Vantorel"));
        QCOMPARE(collapse != nullptr, withCollapse);
        if (collapse) {
            QCOMPARE(collapse->toolTip(), QStringLiteral("Свернуть к краю экрана"));
            collapse->click();
        }
        button(view, QStringLiteral("Выбрать аккаунты"))->click();
        button(view, QStringLiteral("Настройки"))->click();
        button(view, QStringLiteral("Завершить"))->click();
        QStringList expected {"settings", "settings", "quit"};
        if (withCollapse)
            expected.prepend("collapse");
        QCOMPARE(calls, expected);
        // Settings play the selection cue; collapse and quit play none here.
        QCOMPARE(log.cues, (QStringList {"selection", "selection"}));
    }

    // A pressed footer button shows a faint capsule behind its label.
    void pressedFooterButtonShowsItsCapsule()
    {
        motion::setReduceMotion(true);
        PanelAccounts f;
        UsageAccounts& accounts = f.start();
        Appearance::shared().setForced(Appearance::Forced::Light);
        DashboardView view(accounts, {});
        view.resize(300, 570);
        view.show();
        QAbstractButton* quit = button(view, QStringLiteral("Завершить"));
        auto* press = quit->findChild<PressFeedback*>();
        QVERIFY(press);
        const QRect where = area(view, quit);
        const QPoint corner = where.topLeft() + QPoint(12, where.height() / 2); // inside the capsule, left of the text
        const QColor background = palette::color(PanelColor::panelBackground, false);
        QVERIFY(uitest::near(uitest::pixel(renderOnPanel(view, view.size(), false), corner.x(), corner.y()), background, 1));
        press->setPressed(true);
        const QColor capsule = uitest::over(palette::color(PanelColor::panelForeground, false), background, 0.09);
        QVERIFY(uitest::near(uitest::pixel(renderOnPanel(view, view.size(), false), corner.x(), corner.y()), capsule, 3));
        Appearance::shared().setForced(Appearance::Forced::None);
        motion::setReduceMotion(false);
    }

    // An open dashboard across three snapshot updates keeps its cards, the
    // open error details, the selection in them and the scroll position.
    void keepsWhatTheUserOpenedAcrossUpdates()
    {
        PanelAccounts f;
        f.addEveryState();
        UsageAccounts& accounts = f.start();
        DashboardView view(accounts, {});
        view.resize(300, 570);
        view.show();
        f.settle();
        QCOMPARE(view.cardsBuilt(), 7);

        const ProviderProfile failed = f.h.named("Gemini");
        auto* card = qobject_cast<ProviderCard*>(view.card(failed.id()));
        QVERIFY(card);
        card->setDetailsExpanded(true);
        QLabel* details = card->details()->label();
        QVERIFY(details->text().startsWith(QStringLiteral("TIMEOUT\n")));
        details->setSelection(0, 7);
        QScrollBar* bar = view.scrollArea()->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        bar->setValue(bar->maximum() / 2);
        const int scrolled = bar->value();
        QList<QWidget*> cards;
        for (const ProviderProfile& p : view.model().profiles)
            cards << view.card(p.id());

        for (int update = 0; update < 3; ++update) {
            f.h.scheduler.advance(1);
            f.answer("Основной", f.usage(UsageProvider::claude, {f.window("five_hour", "Сессия", 50.0 + update)}));
            accounts.refresh(f.h.named("Основной"), true);
            accounts.refresh(failed, true); // fails again, with a new retry time
            f.settle();
        }
        QCOMPARE(view.cardsBuilt(), 7);
        QList<QWidget*> after;
        for (const ProviderProfile& p : view.model().profiles)
            after << view.card(p.id());
        QCOMPARE(after, cards);
        QVERIFY(card->isDetailsExpanded());
        QCOMPARE(details->selectedText(), QStringLiteral("TIMEOUT"));
        QCOMPARE(bar->value(), scrolled);
        auto* claude = qobject_cast<ProviderCard*>(view.card(f.h.named("Основной").id()));
        QCOMPARE(claude->model().header.peakText, QStringLiteral("52%"));
    }

    // Every state, light and dark, the list tall enough to show every card.
    void rendersEveryState_data()
    {
        QTest::addColumn<bool>("empty");
        QTest::newRow("every state") << false;
        QTest::newRow("empty list") << true;
    }

    void rendersEveryState()
    {
        QFETCH(bool, empty);
        PanelAccounts f;
        if (!empty)
            f.addEveryState();
        UsageAccounts& accounts = f.start();
        const QSize size(300, empty ? 570 : 2400);
        for (bool dark : {false, true}) {
            Appearance::shared().setForced(dark ? Appearance::Forced::Dark : Appearance::Forced::Light);
            DashboardView view(accounts, {[] {}, [] {}, [] {}, nullptr});
            view.resize(size);
            view.show();
            f.settle();
            if (!empty)
                qobject_cast<ProviderCard*>(view.card(f.h.named("Gemini").id()))->setDetailsExpanded(true);
            const QImage image = renderOnPanel(view, size, dark);
            uitest::save(image, QStringLiteral("dashboard-%1-%2").arg(empty ? "empty" : "states", dark ? "dark" : "light"));

            const QColor warning = palette::color(PanelColor::panelWarning, dark);
            PanelLabel* statusLine = nullptr;
            for (PanelLabel* label : view.findChildren<PanelLabel*>())
                if (label->text() == view.model().status.text)
                    statusLine = label;
            QVERIFY(statusLine);
            const QRect status = area(view, statusLine);
            QCOMPARE(uitest::countNear(image, status, warning, 40) > 10, !empty);
            if (empty) {
                QVERIFY(findText(view, "Нет выбранных аккаунтов"));
                QVERIFY(findText(view, "Включите нужные профили в настройках."));
                continue;
            }
            // The failed card shows its warning and its details.
            QWidget* failed = view.card(f.h.named("Gemini").id());
            QVERIFY(uitest::countNear(image, area(view, failed), warning, 40) > 20);
            QVERIFY(findText(*failed, "Не удалось обновить данные"));
            QVERIFY(findText(*failed, "TIMEOUT\nAntigravity не ответил за 20 с."));
            QVERIFY(findText(*view.card(f.h.named("Новый").id()), "Экспорт подключён."));
            QVERIFY(findText(*view.card(f.h.named("Безлимит").id()), "Без лимита"));
            QVERIFY(findText(*view.card(f.h.named("Загрузка").id()), "Получаю лимиты…"));
            QVERIFY(findText(*view.card(f.h.named("GitHub").id()), "Показаны последние сохранённые данные."));
        }
        Appearance::shared().setForced(Appearance::Forced::None);
    }
};

VANTOREL_UI_TEST_MAIN(DashboardViewTest)
#include "test_dashboard_view.moc"
