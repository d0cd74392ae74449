#include "accounts/AccountsHarness.h"
#include "panel/Appearance.h"
#include "panel/CodexResetControl.h"
#include "panel/PanelPalette.h"
#include "panel/PanelPopover.h"
#include "panel/ProviderCard.h"
#include "platform/Workers.h"
#include "providers/codex/CodexUsageFixtures.h"
#include "providers/codex/FakeCodexRig.h"
#include "uisupport/RenderHarness.h"

#include <QAbstractButton>
#include <QApplication>
#include <QJsonArray>
#include <QLabel>
#include <QPainter>
#include <QSet>
#include <QTest>

using State = CodexResetControlModel::State;
using Body = CodexResetPopoverModel::Body;
using Confirmation = CodexResetController::Confirmation;
using fakecodex::answer;
using fakecodex::kConsume;
using fakecodex::kReadLimits;
using fakecodex::outcomeAnswer;

namespace {

const QString kAccountID = QStringLiteral("acct-1");

ProviderProfile workProfile()
{
    return ProviderProfile {UsageProvider::codex, "/home/u/.codex", "Work", true, {}, {}};
}

CodexResetCredits::Credit credit(const QString& id, const QString& status, const QString& type,
                                 std::optional<qint64> expiresAt)
{
    CodexResetCredits::Credit c;
    c.id = id;
    c.status = status;
    c.resetType = type;
    c.grantedAt = 1'700'000'000;
    c.expiresAt = expiresAt;
    return c;
}

// `widget` as drawn once its pending layouts ran.
QImage rendered(QWidget& widget, QSize size = {}, qreal scale = 1.0)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    return uitest::render(widget, size, scale);
}

// `picture` over the panel's background.
QImage onPanel(const QImage& picture, bool dark)
{
    QImage image(picture.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(palette::color(PanelColor::panelBackground, dark));
    QPainter p(&image);
    p.drawImage(0, 0, picture);
    return image;
}

// One visible Codex profile whose limit is spent, on the registry with the fake
// codex program as the reset consumer, and a panel window for its controls.
struct Rig {
    Harness h;
    fakecodex::Rig codex;
    QWidget panel;
    ProviderProfile profile;

    Rig()
    {
        h.resetConsumers = [this](Scheduler& scheduler, CancelToken quit) {
            return CodexResetController::clientConsumer(
                scheduler, [this](const ProviderProfile& p) { return codex.client(p); }, quit);
        };
        h.saveList({h.profile(UsageProvider::codex, ".codex", "Work", true)});
        h.outcomes.insert("Work", [this](const ProviderProfile&) {
            const Timestamp now = h.scheduler.now();
            return Result<ProviderUsage>::success(fixtures::exhaustedCodex(kAccountID, now, now.adding(3600)));
        });
        h.make().start();
        h.settle();
        profile = h.named("Work");
        panel.setGeometry(900, 100, 300, 600);
        panel.show();
    }
    ~Rig()
    {
        h.accounts->stop();
        Workers::waitForDone();
    }
    UsageAccounts& accounts() { return *h.accounts; }

    // What runs on the next turns: queued redraws and work the scheduler holds.
    void pump()
    {
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::processEvents();
            h.scheduler.drainPosted();
        }
    }
    bool waitForMessage(CodexResetControl& control)
    {
        const bool done = h.scheduler.waitUntil([&] { return control.message().has_value(); });
        pump();
        return done;
    }
    void scenario(const QJsonObject& consume)
    {
        codex.setScenario(QJsonObject {{"methods", QJsonObject {{kReadLimits, answer(fakecodex::serverLimits(kAccountID))},
                                                               {kConsume, consume}}}});
    }
    template <class T = QAbstractButton>
    T* find(const QString& name) const
    {
        return panel.findChild<T*>(name);
    }
    QAbstractButton* popoverButton(CodexResetControl& control, const QString& text) const
    {
        for (auto* b : control.popover()->findChildren<QAbstractButton*>())
            if (b->text() == text && b->isVisibleTo(control.popover()))
                return b;
        return nullptr;
    }
};

} // namespace

Q_DECLARE_METATYPE(CodexResetQueries)
Q_DECLARE_METATYPE(State)

class CodexResetControlTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        Appearance::shared().setForced(Appearance::Forced::None);
        QCOMPARE(testsupport::childProcessCount(), 0);
    }

    // The state of either form, first rule that holds, with its texts and names.
    void controlModel_data()
    {
        QTest::addColumn<CodexResetQueries>("queries");
        QTest::addColumn<State>("state");
        QTest::addColumn<QString>("compactName");
        QTest::addColumn<QString>("compactTip");
        QTest::addColumn<QString>("compactObject");
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("enabled");

        const QString id = workProfile().id();
        //                         busy   await  confirm pending anyRunning
        QTest::newRow("busy") << CodexResetQueries {true, true, false, true, true} << State::busy
                              << "Сбрасываю лимиты Work" << "" << "" << "" << false;
        QTest::newRow("awaiting recovery")
            << CodexResetQueries {false, true, true, true, false} << State::awaitingRecovery
            << "Сброс выполнен, ожидаю обновления лимитов" << "Сброс выполнен. Ожидаю подтверждения восстановления лимитов."
            << "" << "Обновить лимиты" << true;
        QTest::newRow("new spend") << CodexResetQueries {false, false, true, false, false} << State::offer
                                   << "Использовать сброс · Codex · Work" << "Использовать сброс · Work" << "reset." + id
                                   << "Использовать сброс…" << true;
        QTest::newRow("pending attempt without an offer: retry")
            << CodexResetQueries {false, false, false, true, false} << State::offer << "Проверить сброс · Codex · Work"
            << "Проверить сброс · Work" << "reset." + id << "Проверить сброс…" << true;
        QTest::newRow("pending attempt while another account spends: retry, disabled")
            << CodexResetQueries {false, false, false, true, true} << State::offer << "Проверить сброс · Codex · Work"
            << "Проверить сброс · Work" << "reset." + id << "Проверить сброс…" << false;
        QTest::newRow("another account spends, nothing pending: nothing")
            << CodexResetQueries {false, false, false, false, true} << State::nothing << "" << "" << "" << "" << false;
        QTest::newRow("nothing") << CodexResetQueries {} << State::nothing << "" << "" << "" << "" << false;
    }
    void controlModel()
    {
        QFETCH(CodexResetQueries, queries);
        QFETCH(State, state);
        QFETCH(QString, compactName);
        QFETCH(QString, compactTip);
        QFETCH(QString, compactObject);
        QFETCH(QString, button);
        QFETCH(bool, enabled);
        const ProviderProfile profile = workProfile();
        ProviderUsage usage = ProviderUsage::placeholder(UsageProvider::codex);
        usage.isLoading = false;
        const CodexResetControlModel m = CodexResetControlModel::make(queries, usage, profile);
        QCOMPARE(m.state, state);
        QCOMPARE(m.retry, state == State::offer && queries.pending);
        QCOMPARE(m.compactAccessibleName, compactName);
        QCOMPARE(m.compactToolTip, compactTip);
        QCOMPARE(m.compactObjectName, compactObject);
        QCOMPARE(m.buttonTitle, button);
        QCOMPARE(m.buttonEnabled, enabled);
        QCOMPARE(m.buttonObjectName, state == State::offer ? "reset.card." + profile.id() : QString());
    }

    // Awaiting recovery: the refresh button waits while the usage loads.
    void refreshDisabledWhileLoading()
    {
        ProviderUsage u = ProviderUsage::placeholder(UsageProvider::codex); // loading
        QVERIFY(!CodexResetControlModel::make({false, true, false, false, false}, u, workProfile()).buttonEnabled);
    }

    void creditLines()
    {
        const QTimeZone utc = QTimeZone::utc();
        const QLocale ru("ru_RU");
        auto lines = [&](std::optional<CodexResetCredits> credits) {
            ProviderUsage u = ProviderUsage::placeholder(UsageProvider::codex);
            u.codexResetCredits = credits;
            return CodexResetControlModel::make({}, u, workProfile(), utc, ru);
        };
        QCOMPARE(lines(std::nullopt).creditsLine, std::nullopt);
        QVERIFY(lines(std::nullopt).expiryLines.isEmpty());
        QCOMPARE(lines(CodexResetCredits {-1, std::nullopt}).creditsLine, std::optional<QString>("Доступно сбросов: 0"));
        const qint64 expires = 1'765'375'500; // 2025-12-10 14:05 UTC
        const CodexResetCredits credits {3,
                                         QList<CodexResetCredits::Credit> {
                                             credit("a", "available", "codexRateLimits", expires),
                                             credit("b", "available", "codexRateLimits", std::nullopt),
                                             credit("c", "used", "codexRateLimits", expires),
                                             credit("d", "available", "other", expires),
                                             credit("e", "available", "codexRateLimits", expires + 86400),
                                         }};
        const CodexResetControlModel m = lines(credits);
        QCOMPARE(m.creditsLine, std::optional<QString>("Доступно сбросов: 3"));
        QCOMPARE(m.expiryLines, (QStringList {"Сброс действует до 10 дек. 2025 г., 14:05",
                                              "Сброс действует до 11 дек. 2025 г., 14:05"}));
    }

    void popoverModel()
    {
        const ProviderProfile profile = workProfile();
        const Confirmation spend {QUuid::createUuid(), profile.id(), kAccountID, false, 0, false};
        Confirmation retry = spend;
        retry.isRetry = true;
        const CodexResetQueries idle {};
        const CodexResetQueries busy {true, false, false, true, true};

        CodexResetPopoverModel m = CodexResetPopoverModel::make(profile, std::nullopt, idle, spend, false);
        QCOMPARE(m.title, QStringLiteral("Codex · Work"));
        QCOMPARE(m.body, Body::confirm);
        QCOMPARE(m.question, resettext::kSpendQuestion);
        QCOMPARE(m.explanation, resettext::kSpendExplanation);
        QCOMPARE(m.confirmTitle, QStringLiteral("Использовать 1 сброс"));
        QCOMPARE(m.confirmObjectName, "reset.confirm." + profile.id());
        QVERIFY(m.confirmEnabled && m.dismissable);

        m = CodexResetPopoverModel::make(profile, std::nullopt, idle, retry, false);
        QCOMPARE(m.question, QStringLiteral("Проверить результат предыдущего сброса?"));
        QCOMPARE(m.confirmTitle, QStringLiteral("Проверить сброс"));
        QVERIFY(m.explanation.startsWith("Повторим тот же запрос с тем же идентификатором."));
        // Sent and not yet answered, or another spend runs: not again.
        QVERIFY(!CodexResetPopoverModel::make(profile, std::nullopt, idle, spend, true).confirmEnabled);
        QVERIFY(!CodexResetPopoverModel::make(profile, std::nullopt, {false, false, false, false, true}, spend, false)
                     .confirmEnabled);

        m = CodexResetPopoverModel::make(profile, std::nullopt, busy, std::nullopt, true);
        QCOMPARE(m.body, Body::progress);
        QCOMPARE(m.message, QStringLiteral("Сбрасываю и обновляю лимиты…"));
        QVERIFY(!m.dismissable);

        // The message wins over everything; the popover stays closed to the user while the spend runs.
        m = CodexResetPopoverModel::make(profile, QStringLiteral("Готово?"), busy, spend, false);
        QCOMPARE(m.body, Body::message);
        QVERIFY(!m.dismissable);
        QCOMPARE(CodexResetPopoverModel::make(profile, std::nullopt, idle, std::nullopt, false).body, Body::none);
    }

    // The card's full form through the whole flow over the fake codex: offer,
    // confirm (pressed three times), progress that cannot be dismissed, the result
    // and "Готово", then the wait for the limits. The credit is spent once.
    void fullFormSpendsOnce()
    {
        Rig rig;
        ProviderCard* card = new ProviderCard(&rig.accounts(), {}, &rig.panel, &rig.h.scheduler);
        card->apply(ProviderCardModel::make(rig.accounts().usage(rig.profile), rig.profile.name, rig.profile, true, false));
        card->setGeometry(0, 0, 272, card->heightForWidth(272));
        card->show();
        CodexResetControl* control = card->resetControl();
        QVERIFY(control && !control->isCompact());
        QCOMPARE(control->model().state, State::offer);
        QVERIFY(uitest::visibleTexts(*control).contains("Доступно сбросов: 2"));
        auto* offer = rig.find("reset.card." + rig.profile.id());
        QVERIFY(offer && offer->isVisible() && offer->isEnabled());
        QCOMPARE(offer->text(), QStringLiteral("Использовать сброс…"));
        for (bool dark : {false, true}) {
            Appearance::shared().setForced(dark ? Appearance::Forced::Dark : Appearance::Forced::Light);
            uitest::save(onPanel(rendered(*card, {}, 2), dark), QString("reset-card-offer-%1").arg(dark ? "dark" : "light"));
        }

        // The fake answers the spend only once the gate exists, so the busy state can be seen.
        const QString gate = rig.codex.path("consume-gate");
        QJsonObject gatedReset = outcomeAnswer("reset");
        gatedReset.insert("waitForFile", gate);
        rig.scenario(gatedReset);
        QTest::mouseClick(offer, Qt::LeftButton);
        PanelPopover* popover = control->popover();
        QVERIFY(popover && popover->isVisible() && control->isPresented());
        QCOMPARE(PanelPopover::openPopovers(&rig.panel), QList<PanelPopover*> {popover});
        QVERIFY(control->confirmation() && !control->confirmation()->isRetry);
        QCOMPARE(rig.accounts().resets().confirmations().value(rig.profile.id()), control->confirmation()->id);
        QVERIFY(uitest::visibleTexts(*popover).contains("Codex · Work"));
        QVERIFY(uitest::visibleTexts(*popover).contains(resettext::kSpendQuestion));
        QVERIFY(uitest::visibleTexts(*popover).contains(resettext::kSpendExplanation));
        QVERIFY(uitest::visibleTexts(*popover).contains(resettext::kCancel));
        auto* confirm = popover->findChild<QAbstractButton*>("reset.confirm." + rig.profile.id());
        QVERIFY(confirm && confirm->isEnabled());
        QCOMPARE(confirm->text(), QStringLiteral("Использовать 1 сброс"));

        // Three new snapshots while it is open: the same control, still asking with the same confirmation.
        const auto shown = control->confirmation();
        for (int i = 0; i < 3; ++i) {
            rig.h.scheduler.advance(20);
            rig.accounts().refresh(rig.profile, true);
            rig.h.settle();
            rig.pump();
            card->apply(ProviderCardModel::make(rig.accounts().usage(rig.profile), rig.profile.name, rig.profile, true, false));
            QCOMPARE(card->resetControl(), control);
            QVERIFY(popover->isVisible());
            QCOMPARE(control->confirmation(), shown);
            QCOMPARE(control->popoverModel().body, Body::confirm);
        }
        QCOMPARE(rig.accounts().resets().confirmations().value(rig.profile.id()), shown->id);
        for (bool dark : {false, true}) {
            Appearance::shared().setForced(dark ? Appearance::Forced::Dark : Appearance::Forced::Light);
            const QImage image = rendered(*popover, {}, 2);
            uitest::save(image, QString("reset-popover-confirm-%1").arg(dark ? "dark" : "light"));
            // The surface of the popover, and its arrow on the trailing edge at the control.
            QVERIFY(uitest::near(uitest::pixel(image, 40, image.height() / 2),
                                 palette::color(PanelColor::cardBackground, dark), 2));
        }

        // Pressed, pressed again and Return: one request.
        QTest::mouseClick(confirm, Qt::LeftButton);
        QTest::mouseClick(confirm, Qt::LeftButton);
        QTest::keyClick(popover, Qt::Key_Return);
        QVERIFY(rig.accounts().resets().busyAccountID());
        QCOMPARE(control->popoverModel().body, Body::progress);
        QVERIFY(uitest::visibleTexts(*popover).contains(resettext::kProgress));
        QVERIFY(!popover->isDismissable());
        QVERIFY(!popover->close());
        QTest::keyClick(popover, Qt::Key_Escape);
        QVERIFY(popover->isVisible());
        rig.pump();
        QCOMPARE(control->model().state, State::busy);
        QVERIFY(uitest::visibleTexts(*control).contains(resettext::kProgress));
        uitest::save(onPanel(rendered(*popover, {}, 2), true), "reset-popover-progress-dark");

        testsupport::writeFile(gate, "open");
        QVERIFY(rig.waitForMessage(*control));
        const QString result = CodexResetController::outcomeText(CodexResetOutcome::reset)
            + CodexResetController::kAwaitingRecoverySuffix;
        QCOMPARE(*control->message(), result);
        QCOMPARE(rig.codex.consumeKeys().size(), 1);
        QVERIFY(popover->isVisible() && popover->isDismissable());
        QVERIFY(uitest::visibleTexts(*popover).contains(result));
        QAbstractButton* done = rig.popoverButton(*control, resettext::kDone);
        QVERIFY(done);
        Appearance::shared().setForced(Appearance::Forced::Light);
        uitest::save(onPanel(rendered(*popover, {}, 2), false), "reset-popover-result-light");

        QTest::mouseClick(done, Qt::LeftButton);
        QVERIFY(!popover->isVisible());
        QVERIFY(!control->isPresented());
        QCOMPARE(control->message(), std::optional<QString>(result)); // kept until the next open
        QVERIFY(!control->confirmation());
        rig.pump();
        QCOMPARE(control->model().state, State::awaitingRecovery);
        QVERIFY(uitest::visibleTexts(*control).contains(resettext::kAwaiting));
        QVERIFY(!offer->isVisible());
        QVERIFY(!rig.find("reset.card." + rig.profile.id()));
        // Nothing more to offer: opening presents nothing.
        control->open();
        QVERIFY(!popover->isVisible());
        card->apply(ProviderCardModel::make(rig.accounts().usage(rig.profile), rig.profile.name, rig.profile, true, false));
        card->setGeometry(0, 0, 272, card->heightForWidth(272));
        uitest::save(onPanel(rendered(*card, {}, 2), false), "reset-card-awaiting-light");

        // "Обновить лимиты" asks the store for an unforced refresh.
        rig.h.fetchLog.clear();
        QAbstractButton* refresh = nullptr;
        for (auto* b : control->findChildren<QAbstractButton*>())
            if (b->text() == resettext::kRefresh)
                refresh = b;
        QVERIFY(refresh && refresh->isVisible());
        QTest::mouseClick(refresh, Qt::LeftButton);
        rig.h.settle();
        QCOMPARE(rig.h.fetchLog, QStringList {"Work"});
        QCOMPARE(rig.codex.consumeKeys().size(), 1);
    }

    // The compact form: a spend whose answer never came offers the retry, which
    // repeats the same request; the key is the same and no second credit goes.
    void compactRetryRepeatsThePendingAttempt()
    {
        Rig rig;
        auto* control = new CodexResetControl(rig.accounts(), rig.profile, true, &rig.panel);
        control->move(240, 200);
        control->show();
        QCOMPARE(control->size(), QSize(28, 28));
        auto* offer = rig.find("reset." + rig.profile.id());
        QVERIFY(offer && offer->isVisible());
        QCOMPARE(offer->accessibleName(), QStringLiteral("Использовать сброс · Codex · Work"));
        QCOMPARE(offer->toolTip(), QStringLiteral("Использовать сброс · Work"));
        Appearance::shared().setForced(Appearance::Forced::Dark);
        QImage image = rendered(*control, {}, 4);
        uitest::save(onPanel(image, true), "reset-compact-offer-dark");
        QVERIFY(uitest::countNear(image, image.rect(), QColor::fromRgb(0x63E6E2), 16) > 40); // the mint arrow
        QVERIFY(uitest::near(uitest::pixel(image, 56, 8), QColor(0, 0, 0, 115), 4));        // the dark disc

        // The program takes the request and dies: the result is not confirmed.
        rig.scenario(QJsonObject {{"exit", 1}});
        QTest::mouseClick(offer, Qt::LeftButton);
        QAbstractButton* confirm = control->popover()->findChild<QAbstractButton*>("reset.confirm." + rig.profile.id());
        QVERIFY(confirm);
        QTest::mouseClick(confirm, Qt::LeftButton);
        rig.pump();
        QCOMPARE(control->model().state, State::busy);
        QCOMPARE(control->accessibleName(), QStringLiteral("Сбрасываю лимиты Work"));
        uitest::save(onPanel(rendered(*control, {}, 4), true), "reset-compact-busy-dark");
        QVERIFY(rig.waitForMessage(*control));
        QVERIFY(control->message()->startsWith(CodexResetController::kUnconfirmedMessage + '\n'));
        const QStringList first = rig.codex.consumeKeys();
        QCOMPARE(first.size(), 1);

        // The pending attempt is offered as the retry.
        QCOMPARE(control->model().state, State::offer);
        QVERIFY(control->model().retry);
        QCOMPARE(offer->accessibleName(), QStringLiteral("Проверить сброс · Codex · Work"));
        uitest::save(onPanel(rendered(*control, {}, 4), true), "reset-compact-retry-dark");
        QTest::mouseClick(rig.popoverButton(*control, resettext::kDone), Qt::LeftButton);
        QVERIFY(!control->isPresented());
        QVERIFY(control->message().has_value());

        // Opening again clears the old message and asks about the previous spend.
        rig.scenario(outcomeAnswer("alreadyRedeemed"));
        QTest::mouseClick(offer, Qt::LeftButton);
        QVERIFY(!control->message());
        QVERIFY(control->confirmation() && control->confirmation()->isRetry);
        QVERIFY(uitest::visibleTexts(*control->popover()).contains(resettext::kRetryQuestion));
        QCOMPARE(confirm->text(), QStringLiteral("Проверить сброс"));
        Appearance::shared().setForced(Appearance::Forced::Light);
        uitest::save(onPanel(rendered(*control->popover(), {}, 2), false), "reset-popover-retry-light");
        QTest::keyClick(control->popover(), Qt::Key_Return);
        QVERIFY(rig.waitForMessage(*control));
        QCOMPARE(*control->message(), CodexResetController::outcomeText(CodexResetOutcome::alreadyRedeemed)
                                          + CodexResetController::kAwaitingRecoverySuffix);
        const QStringList keys = rig.codex.consumeKeys();
        QCOMPARE(keys.size(), 2);
        QCOMPARE(keys.at(1), first.at(0));
        QVERIFY(rig.accounts().resets().attempts().isEmpty());
        QCOMPARE(control->model().state, State::awaitingRecovery);
        QCOMPARE(control->toolTip(), resettext::kAwaiting);
        uitest::save(onPanel(rendered(*control, {}, 4), false), "reset-compact-awaiting-light");
    }

    // Cancel and outside dismissal discard the confirmation; a stale one is refused
    // with the controller's text and "Готово", and nothing is sent.
    void cancelDismissAndStaleConfirmations()
    {
        Rig rig;
        auto* control = new CodexResetControl(rig.accounts(), rig.profile, false, &rig.panel);
        control->show();
        CodexResetController& resets = rig.accounts().resets();
        rig.scenario(outcomeAnswer("reset"));

        control->open();
        QVERIFY(resets.confirmations().contains(rig.profile.id()));
        QTest::mouseClick(rig.popoverButton(*control, resettext::kCancel), Qt::LeftButton);
        QVERIFY(!control->popover()->isVisible());
        QVERIFY(resets.confirmations().isEmpty());

        control->open();
        QVERIFY(resets.confirmations().contains(rig.profile.id()));
        QTest::keyClick(control->popover(), Qt::Key_Escape); // dismissable while nothing runs
        QVERIFY(!control->popover()->isVisible());
        QVERIFY(resets.confirmations().isEmpty());
        QVERIFY(!control->confirmation());

        // A newer confirmation for the profile makes the shown one stale.
        control->open();
        QVERIFY(resets.makeConfirmation(rig.profile, rig.accounts().usage(rig.profile)));
        QTest::mouseClick(control->popover()->findChild<QAbstractButton*>("reset.confirm." + rig.profile.id()),
                          Qt::LeftButton);
        QVERIFY(rig.waitForMessage(*control));
        QCOMPARE(*control->message(), CodexResetController::kRefusedMessage);
        QVERIFY(uitest::visibleTexts(*control->popover()).contains(resettext::kDone));
        QVERIFY(rig.codex.consumeKeys().isEmpty());
    }

    // A control whose usage offers nothing draws nothing and opens nothing; the
    // full form then takes no room in its card. Once the limit is spent the offer comes.
    void nothingToOffer()
    {
        Rig rig;
        rig.h.outcomes.insert("Work", [&rig](const ProviderProfile&) {
            ProviderUsage u = fixtures::recoveredCodex(kAccountID, rig.h.scheduler.now());
            u.codexResetCredits.reset();
            return Result<ProviderUsage>::success(u);
        });
        rig.accounts().refresh(rig.profile, true);
        rig.h.settle();
        auto* compact = new CodexResetControl(rig.accounts(), rig.profile, true, &rig.panel);
        auto* full = new CodexResetControl(rig.accounts(), rig.profile, false, &rig.panel);
        compact->show(); // the full form shows and hides itself
        QCOMPARE(compact->model().state, State::nothing);
        QCOMPARE(uitest::countOpaque(rendered(*compact), QRect(0, 0, 28, 28)), 0);
        QVERIFY(!full->isVisible());
        compact->open();
        QVERIFY(!compact->popover());

        rig.h.outcomes.remove("Work");
        rig.h.outcomes.insert("Work", [&rig](const ProviderProfile&) {
            const Timestamp now = rig.h.scheduler.now();
            return Result<ProviderUsage>::success(fixtures::exhaustedCodex(kAccountID, now, now.adding(3600)));
        });
        rig.accounts().refresh(rig.profile, true);
        rig.h.settle();
        rig.pump();
        QCOMPARE(compact->model().state, State::offer);
        QCOMPARE(full->model().state, State::offer);
        QVERIFY(full->isVisible());
    }

    // A card that goes while its spend runs: the spend ends normally and nothing is left behind.
    void controlGoneDuringTheSpend()
    {
        Rig rig;
        auto* control = new CodexResetControl(rig.accounts(), rig.profile, false, &rig.panel);
        control->show();
        rig.scenario(outcomeAnswer("reset"));
        control->open();
        QPointer<PanelPopover> popover = control->popover();
        QTest::mouseClick(popover->findChild<QAbstractButton*>("reset.confirm." + rig.profile.id()), Qt::LeftButton);
        QVERIFY(rig.accounts().resets().busyAccountID());
        delete control;
        QVERIFY(!popover);
        QVERIFY(PanelPopover::openPopovers(&rig.panel).isEmpty());
        QVERIFY(rig.h.scheduler.waitUntil([&] { return !rig.accounts().resets().busyAccountID(); }));
        QCOMPARE(rig.codex.consumeKeys().size(), 1);
    }
};

VANTOREL_UI_TEST_MAIN(CodexResetControlTest)
#include "test_codex_reset_control.moc"
