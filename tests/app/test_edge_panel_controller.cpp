#include "app/EdgePanelController.h"
#include "app/ScreenParameters.h"
#include "panel/PanelPopover.h"
#include "uisupport/RenderHarness.h"
#include "usage/AccountsHarness.h"

#include <QApplication>
#include <QCursor>
#include <QEnterEvent>
#include <QSignalSpy>
#include <QTest>
#include <QVariantAnimation>

namespace {

using Mode = EdgePanelMode;

const QRect kScreen(0, 0, 1440, 875);

// Counts what moves, resizes or restacks a window.
class WindowWork final : public QObject {
public:
    explicit WindowWork(QWidget& window) { window.installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (type == QEvent::Move || type == QEvent::Resize || type == QEvent::ZOrderChange)
            ++count;
        return false;
    }
};

// A controller over a registry of `profiles` visible profiles, with every
// system source replaced by a field the test sets.
struct Panel {
    Harness h;
    std::optional<QRect> frame = kScreen;
    bool onScreen = false;
    bool reduce = false;
    int reduceReads = 0;
    QPoint pointer {5, 5};
    int cues = 0;
    std::function<void()> toggleAction;
    EdgePanelState* viewState = nullptr;
    std::unique_ptr<EdgePanelController> controller;

    explicit Panel(int profiles, bool animations = false)
    {
        QList<ProviderProfile> list;
        for (int i = 0; i < profiles; ++i)
            list << h.profile(UsageProvider::codex, QStringLiteral(".codex-%1").arg(i), QStringLiteral("P%1").arg(i), true);
        h.saveList(list);
        h.make();
        EdgePanelController::Options options;
        options.animationsEnabled = animations;
        options.visibleFrameProvider = [this] { return frame; };
        options.isOnScreenProvider = [this] { return onScreen; };
        options.reduceMotionProvider = [this] {
            ++reduceReads;
            return reduce;
        };
        options.pointerLocationProvider = [this] { return pointer; };
        options.playSelection = [this] { ++cues; };
        options.makeRootView = [this](UsageAccounts&, EdgePanelState& state, std::function<void()> toggle) {
            viewState = &state;
            toggleAction = std::move(toggle);
            auto* view = new QWidget;
            view->setObjectName(QStringLiteral("rootView"));
            return view;
        };
        controller = std::make_unique<EdgePanelController>(*h.accounts, std::move(options));
    }

    EdgePanelController& c() { return *controller; }
    QRect window() const { return controller->panel().geometry(); }
    QRect layout(Mode mode) const
    {
        return EdgePanelController::windowRect(
            EdgePanelController::layoutFrame(mode, controller->accountCount(), QRectF(*frame)));
    }
};

enum class Event { enter, leave, popoverClosed, toggle, toggleWithoutFrame };
// panelCutOut and popoverCutOut: a corner of a window shaped without it (no compositing manager).
enum class Pointer { panel, popover, ringsFrame, cardsLeft, away, panelCutOut, popoverCutOut };

} // namespace

Q_DECLARE_METATYPE(Event)
Q_DECLARE_METATYPE(Pointer)

class EdgePanelControllerTest : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        QCursor::setPos(2, 2); // the real pointer stays away from every panel
    }

    void layoutFrame_data()
    {
        QTest::addColumn<Mode>("mode");
        QTest::addColumn<int>("count");
        QTest::addColumn<QRectF>("visible");
        QTest::addColumn<QRectF>("frame");
        const QRectF screen(0, 0, 1440, 875);
        QTest::newRow("strip, two profiles") << Mode::strip << 2 << screen << QRectF(1424, 228.5, 16, 418);
        QTest::newRow("strip, one profile") << Mode::strip << 1 << screen << QRectF(1424, 280.5, 16, 314);
        QTest::newRow("strip, none") << Mode::strip << 0 << screen << QRectF(1424, 302.5, 16, 270);
        QTest::newRow("strip, a negative count") << Mode::strip << -3 << screen << QRectF(1424, 302.5, 16, 270);
        QTest::newRow("rings, one profile") << Mode::rings << 1 << screen << QRectF(1370, 280.5, 70, 314);
        QTest::newRow("cards") << Mode::cards << 7 << screen << QRectF(1140, 152.5, 300, 570);
        QTest::newRow("a 500-high screen caps at 476") << Mode::rings << 5 << QRectF(0, 0, 800, 500)
                                                         << QRectF(730, 12, 70, 476);
        QTest::newRow("cards capped too") << Mode::cards << 0 << QRectF(0, 0, 800, 500) << QRectF(500, 12, 300, 476);
        QTest::newRow("a 20-high screen gives 1") << Mode::strip << 2 << QRectF(0, 0, 800, 20)
                                                    << QRectF(784, 9.5, 16, 1);
        QTest::newRow("a screen right of another, below a bar")
            << Mode::strip << 2 << QRectF(1440, 25, 1280, 775) << QRectF(2704, 203.5, 16, 418);
        QTest::newRow("no screen") << Mode::strip << 1 << QRectF() << QRectF(-16, 0, 16, 1);
    }
    void layoutFrame()
    {
        QFETCH(Mode, mode);
        QFETCH(int, count);
        QFETCH(QRectF, visible);
        QFETCH(QRectF, frame);
        QCOMPARE(EdgePanelController::layoutFrame(mode, count, visible), frame);
    }

    void windowRect()
    {
        QCOMPARE(EdgePanelController::windowRect(QRectF(1424, 228.5, 16, 418)), QRect(1424, 229, 16, 418));
        QCOMPARE(EdgePanelController::windowRect(QRectF(784, 9.5, 16, 1)), QRect(784, 10, 16, 1));
    }

    // The window as built: hidden, laid out as the strip for the profiles,
    // floating, frameless, never focused, holding the root view.
    void buildsTheWindow()
    {
        Panel p(2);
        EdgePanel& panel = p.c().panel();
        QVERIFY(!panel.isVisible());
        QCOMPARE(p.window(), QRect(1424, 229, 16, 418));
        QCOMPARE(p.c().accountCount(), 2);
        QCOMPARE(panel.objectName(), QStringLiteral("Vantorel.EdgePanel"));
        const Qt::WindowFlags flags = panel.windowFlags();
        QVERIFY(flags.testFlag(Qt::Tool));
        QVERIFY(flags.testFlag(Qt::FramelessWindowHint));
        QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(flags.testFlag(Qt::WindowDoesNotAcceptFocus));
        QVERIFY(panel.testAttribute(Qt::WA_ShowWithoutActivating));
        QVERIFY(panel.testAttribute(Qt::WA_TranslucentBackground));
        QCOMPARE(p.viewState, &p.c().state());
        auto* root = panel.findChild<QWidget*>(QStringLiteral("rootView"));
        QVERIFY(root);

        p.c().show();
        QVERIFY(panel.isVisible());
        QVERIFY(QApplication::activeWindow() != &panel);
        QCOMPARE(root->mapTo(&panel, QPoint(0, 0)), QPoint(0, 0));
        QCOMPARE(root->size(), QSize(16, 418));

        p.c().setMode(Mode::cards);
        QCOMPARE(p.window(), QRect(1140, 153, 300, 570));
        QCOMPARE(root->size(), QSize(300, 570)); // the root view follows the window

        p.c().close();
        QVERIFY(p.c().isClosed());
        QVERIFY(!panel.isVisible());
    }

    void modeRules_data()
    {
        QTest::addColumn<Mode>("start");
        QTest::addColumn<Event>("event");
        QTest::addColumn<Pointer>("pointer");
        QTest::addColumn<Mode>("expected");
        using E = Event;
        using P = Pointer;
        QTest::newRow("enter: strip widens") << Mode::strip << E::enter << P::panel << Mode::rings;
        QTest::newRow("enter: rings stay") << Mode::rings << E::enter << P::panel << Mode::rings;
        QTest::newRow("enter: cards stay") << Mode::cards << E::enter << P::panel << Mode::cards;
        QTest::newRow("leave onto a popover: rings stay") << Mode::rings << E::leave << P::popover << Mode::rings;
        QTest::newRow("leave onto a popover: strip widens") << Mode::strip << E::leave << P::popover << Mode::rings;
        QTest::newRow("leave while still over the panel") << Mode::rings << E::leave << P::panel << Mode::rings;
        QTest::newRow("leave: rings collapse") << Mode::rings << E::leave << P::away << Mode::strip;
        QTest::newRow("leave onto a corner outside the panel's shape: rings collapse")
            << Mode::rings << E::leave << P::panelCutOut << Mode::strip;
        QTest::newRow("leave onto a corner outside a popover's shape: rings collapse")
            << Mode::rings << E::leave << P::popoverCutOut << Mode::strip;
        QTest::newRow("leave: strip stays") << Mode::strip << E::leave << P::away << Mode::strip;
        QTest::newRow("leave: cards stay") << Mode::cards << E::leave << P::away << Mode::cards;
        QTest::newRow("popover closed, pointer elsewhere") << Mode::rings << E::popoverClosed << P::away << Mode::strip;
        QTest::newRow("popover closed, another one under the pointer")
            << Mode::rings << E::popoverClosed << P::popover << Mode::rings;
        QTest::newRow("popover closed: cards stay") << Mode::cards << E::popoverClosed << P::away << Mode::cards;
        QTest::newRow("toggle: strip opens") << Mode::strip << E::toggle << P::panel << Mode::cards;
        QTest::newRow("toggle: rings open") << Mode::rings << E::toggle << P::away << Mode::cards;
        QTest::newRow("toggle: cards close into rings under the pointer")
            << Mode::cards << E::toggle << P::ringsFrame << Mode::rings;
        QTest::newRow("toggle: cards close into the strip from their left part")
            << Mode::cards << E::toggle << P::cardsLeft << Mode::strip;
        QTest::newRow("toggle: cards close into the strip, pointer away")
            << Mode::cards << E::toggle << P::away << Mode::strip;
        QTest::newRow("toggle without a screen: strip opens")
            << Mode::strip << E::toggleWithoutFrame << P::panel << Mode::cards;
        QTest::newRow("toggle without a screen: cards close into the strip")
            << Mode::cards << E::toggleWithoutFrame << P::ringsFrame << Mode::strip;
    }
    void modeRules()
    {
        QFETCH(Mode, start);
        QFETCH(Event, event);
        QFETCH(Pointer, pointer);
        QFETCH(Mode, expected);
        Panel p(2);
        p.c().show();
        p.c().setMode(start);
        QCOMPARE(p.c().state().mode(), start);

        EdgePanel& panel = p.c().panel();
        const QRect rings = p.layout(Mode::rings);
        PanelPopover popover(panel.content());
        popover.resize(120, 80);
        PanelPopover other(panel.content());
        other.resize(40, 40);
        switch (pointer) {
        case Pointer::panel: p.pointer = p.window().center(); break;
        case Pointer::ringsFrame: p.pointer = rings.center(); break;
        case Pointer::cardsLeft: p.pointer = QPoint(p.window().left() + 20, p.window().center().y()); break;
        case Pointer::away: p.pointer = QPoint(100, 100); break;
        case Pointer::popover:
            popover.popupAt(QPoint(1000, 400));
            p.pointer = QPoint(1050, 440);
            break;
        case Pointer::panelCutOut:
            panel.setMask(QRegion(panel.rect()).subtracted(QRect(0, 0, 10, 10)));
            p.pointer = p.window().topLeft() + QPoint(2, 2);
            break;
        case Pointer::popoverCutOut:
            popover.setMask(QRegion(popover.rect()).subtracted(QRect(0, 0, 10, 10)));
            popover.popupAt(QPoint(1000, 400));
            p.pointer = QPoint(1002, 402);
            break;
        }

        switch (event) {
        case Event::enter: {
            QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(p.window().topLeft() + QPoint(2, 2)));
            QApplication::sendEvent(panel.content(), &enter);
            break;
        }
        case Event::leave: {
            QEvent leave(QEvent::Leave);
            QApplication::sendEvent(panel.content(), &leave);
            break;
        }
        case Event::popoverClosed:
            other.popupAt(QPoint(200, 700));
            other.close();
            break;
        case Event::toggle: p.c().toggle(); break;
        case Event::toggleWithoutFrame:
            p.frame.reset();
            p.c().toggle();
            break;
        }
        QCOMPARE(p.c().state().mode(), expected);
        if (p.frame)
            QCOMPARE(p.window(), p.layout(expected));
    }

    // The root view's toggle plays the selection cue, then toggles; once the
    // controller is gone it only plays the cue.
    void rootViewToggle()
    {
        Panel p(1);
        QVERIFY(p.toggleAction);
        p.toggleAction();
        QCOMPARE(p.cues, 1);
        QCOMPARE(p.c().state().mode(), Mode::cards);
        p.controller.reset();
        p.toggleAction();
        QCOMPARE(p.cues, 2);
    }

    // A mode change animates the window over the ease-in-ease-out of 0.28 s
    // when the panel shows on screen; the state's change is marked animated.
    void animatesFramesOnScreen()
    {
        Panel p(2, true);
        p.onScreen = true;
        p.c().show();
        const QRect strip = p.window();
        const QRect rings = p.layout(Mode::rings);
        p.c().setMode(Mode::rings);
        QVERIFY(p.c().state().changeAnimated());
        QVariantAnimation* animation = p.c().frameAnimation();
        QVERIFY(animation);
        animation->pause();
        QCOMPARE(animation->duration(), 280);
        QCOMPARE(p.window(), strip);

        animation->setCurrentTime(70);
        const int quarter = p.window().left();
        animation->setCurrentTime(140);
        QCOMPARE(p.window().left(), (strip.left() + rings.left()) / 2 + ((strip.left() + rings.left()) % 2 ? 1 : 0));
        // Ease in: the first quarter of the time covers less than a quarter of the way.
        QVERIFY(strip.left() - quarter < (strip.left() - rings.left()) / 4);

        // Asking for the frame it is heading to changes nothing.
        p.c().applyFrame(true);
        QCOMPARE(p.c().frameAnimation(), animation);
        QCOMPARE(animation->currentTime(), 140);

        animation->setCurrentTime(280);
        QCOMPARE(p.window(), rings);
        QVERIFY(!p.c().frameAnimation());
    }

    void animationSwitches_data()
    {
        QTest::addColumn<bool>("animations");
        QTest::addColumn<bool>("onScreen");
        QTest::addColumn<bool>("reduce");
        QTest::addColumn<bool>("springs");  // the state change is animated
        QTest::addColumn<bool>("moves");    // the window frame is animated
        QTest::addColumn<bool>("readsReduce");
        QTest::newRow("animations off never ask for Reduce Motion") << false << true << false << false << false << false;
        QTest::newRow("Reduce Motion on") << true << true << true << false << false << true;
        QTest::newRow("not on screen: the frame jumps") << true << false << false << true << false << true;
        QTest::newRow("on screen") << true << true << false << true << true << true;
    }
    void animationSwitches()
    {
        QFETCH(bool, animations);
        QFETCH(bool, onScreen);
        QFETCH(bool, reduce);
        QFETCH(bool, springs);
        QFETCH(bool, moves);
        QFETCH(bool, readsReduce);
        Panel p(1, animations);
        p.onScreen = onScreen;
        p.reduce = reduce;
        p.c().show();
        p.c().setMode(Mode::cards);
        QCOMPARE(p.c().state().changeAnimated(), springs);
        QCOMPARE(p.c().frameAnimation() != nullptr, moves);
        if (!moves)
            QCOMPARE(p.window(), p.layout(Mode::cards));
        QCOMPARE(p.reduceReads > 0, readsReduce);
    }

    // Setting the current mode again, repeated screen notifications and
    // profile-list changes that keep the count cause no window work at all.
    void noWindowWorkWhenNothingMoves()
    {
        Panel p(2, true);
        p.onScreen = true;
        p.c().show();
        p.c().setMode(Mode::rings);
        QVERIFY(p.c().frameAnimation());
        p.c().frameAnimation()->setCurrentTime(280);
        QCOMPARE(p.window(), p.layout(Mode::rings));
        WindowWork work(p.c().panel());
        QSignalSpy modeChanged(&p.c().state(), &EdgePanelState::modeChanged);

        p.c().setMode(Mode::rings);
        p.c().handleHover(true);
        for (int i = 0; i < 3; ++i) {
            ScreenParameters::shared().post();
            ScreenParameters::shared().flush();
        }
        p.c().updateFrame();
        p.h.accounts->rename(p.h.named("P0").id(), QStringLiteral("Renamed"));
        p.h.accounts->rename(p.h.named("P1").id(), QStringLiteral("Renamed too"));
        QCoreApplication::processEvents();
        QCOMPARE(work.count, 0);
        QVERIFY(!p.c().frameAnimation());
        QCOMPARE(modeChanged.count(), 0);

        // A moved screen area moves the window once.
        p.frame = QRect(0, 25, 1440, 850);
        ScreenParameters::shared().post();
        ScreenParameters::shared().post();
        QCoreApplication::processEvents();
        QCOMPARE(p.window(), p.layout(Mode::rings));
        QCOMPARE(work.count, 1); // one move at once, the size stays
        QVERIFY(!p.c().frameAnimation());
    }

    // The frame follows the number of visible profiles, on the next turn and
    // once for a burst; a closed panel no longer does.
    void followsTheProfileCount()
    {
        Panel p(3);
        p.c().show();
        QCOMPARE(p.window().height(), 522);
        WindowWork work(p.c().panel());
        UsageAccounts& accounts = *p.h.accounts;
        accounts.setVisible(false, p.h.named("P0").id());
        accounts.setVisible(false, p.h.named("P1").id());
        QCOMPARE(p.c().accountCount(), 3);
        QCoreApplication::processEvents();
        QCOMPARE(p.c().accountCount(), 1);
        QCOMPARE(p.window(), p.layout(Mode::strip));
        QCOMPARE(p.window().height(), 314);
        const int afterShrink = work.count;
        QCOMPARE(afterShrink, 2); // one move and one resize

        p.c().close();
        accounts.setVisible(true, p.h.named("P0").id());
        QCoreApplication::processEvents();
        QCOMPARE(p.c().accountCount(), 1);
        QCOMPARE(work.count, afterShrink);
        QCOMPARE(p.window().height(), 314);
    }

    // Without a visible frame the window keeps its frame.
    void keepsItsFrameWithoutAScreen()
    {
        Panel p(2);
        p.c().show();
        const QRect before = p.window();
        p.frame.reset();
        QCOMPARE(p.c().screenVisibleFrame(), std::nullopt);
        p.c().setMode(Mode::rings);
        QCOMPARE(p.c().state().mode(), Mode::rings);
        QCOMPARE(p.window(), before);
    }

    // Without a frame provider the panel lays itself out on its own screen.
    void usesItsOwnScreen()
    {
        Harness h;
        h.saveList({h.profile(UsageProvider::claude, ".claude", "C", true)});
        h.make();
        EdgePanelController controller(*h.accounts);
        QScreen* screen = controller.panel().screen();
        QVERIFY(screen);
        QCOMPARE(controller.screenVisibleFrame(), screen->availableGeometry());
        QCOMPARE(controller.panel().geometry(),
                 EdgePanelController::windowRect(
                     EdgePanelController::layoutFrame(Mode::strip, 1, QRectF(screen->availableGeometry()))));
    }
};

VANTOREL_UI_TEST_MAIN(EdgePanelControllerTest)
#include "test_edge_panel_controller.moc"
