#include "PanelAccountsFixture.h"

#include "panel/Appearance.h"
#include "panel/CollapsedEdgeController.h"
#include "panel/DashboardView.h"
#include "panel/EdgePanelView.h"
#include "panel/EdgeRowLayout.h"
#include "panel/EdgeStripView.h"
#include "panel/Motion.h"
#include "panel/PanelLayerEffect.h"
#include "panel/PanelOutlineShape.h"
#include "panel/PanelPalette.h"
#include "uisupport/RenderHarness.h"

#include <QApplication>
#include <QTest>

namespace {

QSize windowSize(EdgePanelMode mode, int profiles)
{
    const int height = int(edgerows::neededHeight(profiles));
    switch (mode) {
    case EdgePanelMode::strip: return QSize(16, height);
    case EdgePanelMode::rings: return QSize(70, height);
    case EdgePanelMode::cards: return QSize(300, 570);
    }
    return {};
}

QString modeName(EdgePanelMode mode)
{
    switch (mode) {
    case EdgePanelMode::strip: return QStringLiteral("strip");
    case EdgePanelMode::rings: return QStringLiteral("rings");
    case EdgePanelMode::cards: return QStringLiteral("cards");
    }
    return {};
}

} // namespace

class EdgePanelViewTest : public QObject {
    Q_OBJECT
private slots:
    // Reset times as a Russian desktop shows them.
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }

    void frameByMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QRectF>("content");
        QTest::addColumn<bool>("tinted");
        QTest::addColumn<bool>("bordered");
        QTest::newRow("strip") << int(EdgePanelMode::strip) << QRectF(12, 0, 4, 314) << false << false;
        QTest::newRow("rings") << int(EdgePanelMode::rings) << QRectF(0, 0, 70, 314) << true << false;
        QTest::newRow("cards") << int(EdgePanelMode::cards) << QRectF(0, 0, 70, 314) << true << true;
    }

    void frameByMode()
    {
        QFETCH(int, mode);
        QFETCH(QRectF, content);
        QFETCH(bool, tinted);
        QFETCH(bool, bordered);
        const QSizeF window = mode == int(EdgePanelMode::strip) ? QSizeF(16, 314) : QSizeF(70, 314);
        const EdgePanelFrame f = EdgePanelFrame::of(EdgePanelMode(mode), window);
        QCOMPARE(f.content, content);
        QCOMPARE(f.tinted, tinted);
        QCOMPARE(f.bordered, bordered);
        QCOMPARE(f.outline.boundingRect(), content);
        switch (EdgePanelMode(mode)) {
        case EdgePanelMode::strip: // a capsule: the corners of its rectangle lie outside
            QVERIFY(!f.outline.contains(QPointF(12.2, 0.2)));
            QVERIFY(f.outline.contains(QPointF(14, 157)));
            break;
        case EdgePanelMode::rings:
            QCOMPARE(f.outline, PanelOutlineShape(0.976).path(content));
            break;
        case EdgePanelMode::cards: // corners of radius 28
            QVERIFY(!f.outline.contains(QPointF(3, 3)));
            QVERIFY(f.outline.contains(QPointF(9, 9)));
            QVERIFY(f.outline.contains(QPointF(1, 30)));
            break;
        }
    }

    void transitionByMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<qreal>("progress");
        QTest::addColumn<qreal>("opacity");
        QTest::addColumn<qreal>("scale");
        QTest::addColumn<qreal>("offset");
        QTest::newRow("strip out") << int(EdgePanelMode::strip) << 0.0 << 0.0 << 1.0 << 0.0;
        QTest::newRow("strip halfway") << int(EdgePanelMode::strip) << 0.5 << 0.5 << 1.0 << 0.0;
        QTest::newRow("rings out") << int(EdgePanelMode::rings) << 0.0 << 0.0 << 0.94 << 0.0;
        QTest::newRow("rings in") << int(EdgePanelMode::rings) << 1.0 << 1.0 << 1.0 << 0.0;
        QTest::newRow("cards out") << int(EdgePanelMode::cards) << 0.0 << 0.0 << 1.0 << 300.0;
        QTest::newRow("cards halfway") << int(EdgePanelMode::cards) << 0.5 << 0.5 << 1.0 << 150.0;
    }

    void transitionByMode()
    {
        QFETCH(int, mode);
        QFETCH(qreal, progress);
        QFETCH(qreal, opacity);
        QFETCH(qreal, scale);
        QFETCH(qreal, offset);
        const EdgePanelTransition t = EdgePanelTransition::at(EdgePanelMode(mode), progress, 300);
        QCOMPARE(t.opacity, opacity);
        QCOMPARE(t.scale, scale);
        QCOMPARE(t.offsetX, offset);
    }

    // Each mode draws its presentation on the panel's background inside its
    // outline, transparent outside, light and dark, with the accounts in every state.
    void rendersEachMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("empty");
        for (EdgePanelMode mode : {EdgePanelMode::strip, EdgePanelMode::rings, EdgePanelMode::cards}) {
            QTest::newRow(qPrintable(modeName(mode))) << int(mode) << false;
            QTest::newRow(qPrintable(modeName(mode) + QStringLiteral(" empty"))) << int(mode) << true;
        }
    }

    void rendersEachMode()
    {
        QFETCH(int, mode);
        QFETCH(bool, empty);
        PanelAccounts f;
        if (!empty)
            f.addEveryState();
        UsageAccounts& accounts = f.start();
        EdgePanelState state;
        state.setMode(EdgePanelMode(mode));
        const QSize size = windowSize(EdgePanelMode(mode), int(f.list.size()));

        for (bool dark : {false, true}) {
            Appearance::shared().setForced(dark ? Appearance::Forced::Dark : Appearance::Forced::Light);
            EdgePanelView view(accounts, state, [] {});
            view.resize(size);
            view.show();
            f.settle();
            const QImage image = uitest::render(view, size, 2);
            uitest::save(image, QStringLiteral("panel-%1%2-%3")
                                    .arg(modeName(EdgePanelMode(mode)), empty ? "-empty" : "", dark ? "dark" : "light"));

            const QColor background = palette::color(PanelColor::panelBackground, dark);
            const int w = image.width(), h = image.height();
            switch (EdgePanelMode(mode)) {
            case EdgePanelMode::strip:
                // Only the 4-point bar at the right edge is drawn.
                QCOMPARE(uitest::countOpaque(image, QRect(0, 0, w - 8, h)), 0);
                QVERIFY(uitest::countOpaque(image, QRect(w - 8, 0, 8, h), 250) > 8 * h / 2);
                break;
            case EdgePanelMode::rings:
                // The shoulders leave the top-left corner empty; the middle of the left edge is drawn.
                QCOMPARE(qAlpha(image.pixel(2, 2)), 0);
                QVERIFY(uitest::near(uitest::pixel(image, 2, h / 2), background, 2));
                QVERIFY(uitest::near(uitest::pixel(image, w - 2, 20), background, 2));
                break;
            case EdgePanelMode::cards: {
                // Rounded corners; the 1-point outline along the top edge, over the background.
                QCOMPARE(qAlpha(image.pixel(3, 3)), 0);
                const QColor border = uitest::over(palette::color(PanelColor::panelOutline, dark), background);
                QVERIFY2(uitest::near(uitest::pixel(image, w / 2, 0), border, 4),
                         qPrintable(uitest::pixel(image, w / 2, 0).name(QColor::HexArgb)));
                QVERIFY(uitest::near(uitest::pixel(image, w / 2, 3), background, 2));
                break;
            }
            }
        }
        Appearance::shared().setForced(Appearance::Forced::None);
    }

    // The strip, the ring column and the dashboard each call the toggle; the
    // view never changes the mode itself.
    void tapsCallTheToggle()
    {
        PanelAccounts f;
        f.add(UsageProvider::codex, "Работа");
        UsageAccounts& accounts = f.start();
        EdgePanelState state;
        int toggles = 0;
        EdgePanelView view(accounts, state, [&] { ++toggles; });
        view.resize(16, 314);
        view.show();
        view.strip()->click();
        QCOMPARE(toggles, 1);
        QCOMPARE(state.mode(), EdgePanelMode::strip);

        state.setMode(EdgePanelMode::rings);
        view.resize(70, 314);
        view.ringColumn()->chevron()->click();
        QCOMPARE(toggles, 2);

        state.setMode(EdgePanelMode::cards);
        view.resize(300, 570);
        for (QAbstractButton* b : view.dashboard()->findChildren<QAbstractButton*>())
            if (b->accessibleName() == QStringLiteral("Свернуть Vantorel"))
                b->click();
        QCOMPARE(toggles, 3);
        QCOMPARE(state.mode(), EdgePanelMode::cards);
    }

    // An animated change swaps the frame at once and crosses the contents
    // along the spring; an unanimated one, or Reduce Motion, swaps at once.
    void modeChangeTransitions_data()
    {
        QTest::addColumn<bool>("animated");
        QTest::addColumn<bool>("reduceMotion");
        QTest::newRow("animated") << true << false;
        QTest::newRow("not animated") << false << false;
        QTest::newRow("reduce motion") << true << true;
    }

    void modeChangeTransitions()
    {
        QFETCH(bool, animated);
        QFETCH(bool, reduceMotion);
        motion::setReduceMotion(reduceMotion);
        PanelAccounts f;
        f.add(UsageProvider::claude, "Основной");
        UsageAccounts& accounts = f.start();
        EdgePanelState state;
        EdgePanelView view(accounts, state, [] {});
        view.resize(70, 314);
        view.show();

        state.setMode(EdgePanelMode::rings, animated);
        QCOMPARE(view.mode(), EdgePanelMode::rings);
        QVERIFY(view.frame().tinted); // at once, whatever the content does
        QVERIFY(view.ringColumn()->isVisible());
        if (animated && !reduceMotion) {
            QVERIFY(view.strip()->isVisible());
            QVariantAnimation& spring = view.transition();
            QCOMPARE(spring.state(), QAbstractAnimation::Running);
            spring.setCurrentTime(spring.duration() / 2);
            auto* in = qobject_cast<PanelLayerEffect*>(view.ringColumn()->graphicsEffect());
            auto* out = qobject_cast<PanelLayerEffect*>(view.strip()->graphicsEffect());
            QVERIFY(in && out);
            QVERIFY(in->opacity() > 0.5 && in->opacity() < 1); // the spring is past halfway at half time
            QCOMPARE(out->opacity(), 1 - in->opacity());
            QVERIFY(in->scale() > EdgePanelTransition::kRingsScale && in->scale() < 1);
            spring.setCurrentTime(spring.duration());
        }
        QVERIFY(!view.strip()->isVisible());
        QVERIFY(!view.ringColumn()->graphicsEffect());
        motion::setReduceMotion(false);
    }

    // The strip follows the registry live: a new usage reaches its segment.
    void stripFollowsTheAccounts()
    {
        PanelAccounts f;
        f.add(UsageProvider::codex, "Работа");
        f.answer("Работа", f.usage(UsageProvider::codex, {f.window("codex-primary", "5 ч", 25)}));
        UsageAccounts& accounts = f.start();
        EdgePanelState state;
        EdgePanelView view(accounts, state, [] {});
        view.resize(16, 314);
        view.show();
        f.settle();
        QCOMPARE(view.strip()->segments().size(), 1);
        QCOMPARE(view.strip()->segments().first().fill, std::optional(0.25));
        f.answer("Работа", f.usage(UsageProvider::codex, {f.window("codex-primary", "5 ч", 100)}));
        accounts.refresh(f.h.named("Работа"), true);
        f.settle();
        QVERIFY(view.strip()->segments().first().isSpent);
    }

    // Hidden presentations skip the changes and catch up when shown again.
    void hiddenPresentationsCatchUp()
    {
        PanelAccounts f;
        f.add(UsageProvider::codex, "Работа");
        UsageAccounts& accounts = f.start();
        EdgePanelState state;
        state.setMode(EdgePanelMode::cards);
        EdgePanelView view(accounts, state, [] {});
        view.resize(300, 570);
        view.show();
        state.setMode(EdgePanelMode::rings);
        f.settle();
        QVERIFY(view.dashboard()->isHidden());

        QVERIFY(f.h.home.build({"d:.codex-2"}));
        const ProviderProfile added = accounts.addProfileFolder(f.h.home.path(".codex-2"), UsageProvider::codex);
        accounts.setVisible(true, added.id());
        f.settle();
        QCOMPARE(view.ringColumn()->rowOrder().size(), 2);
        QCOMPARE(view.dashboard()->model().profiles.size(), 1); // not redrawn while hidden

        state.setMode(EdgePanelMode::cards);
        QCOMPARE(view.dashboard()->model().profiles.size(), 2);
        QVERIFY(view.dashboard()->card(added.id()));
    }
};

VANTOREL_UI_TEST_MAIN(EdgePanelViewTest)
#include "test_edge_panel_view.moc"
