#include "panel/Appearance.h"
#include "panel/Motion.h"
#include "panel/PanelOutlineShape.h"
#include "panel/PanelPalette.h"
#include "uisupport/RenderHarness.h"

#include <QApplication>
#include <QPainter>
#include <QTest>
#include <QVariantAnimation>

#include <cmath>
#include <limits>

namespace {

using Points = QList<QPointF>;

// The outline's points in path order: start, each curve's two controls and end, the left edge's end.
Points points(const PanelOutlineShape::Geometry& g)
{
    Points p{g.start};
    for (const auto* c : {&g.topOuter, &g.topInner})
        p << c->control1 << c->control2 << c->end;
    p << g.leftEdgeEnd;
    for (const auto* c : {&g.bottomInner, &g.bottomOuter})
        p << c->control1 << c->control2 << c->end;
    return p;
}

bool same(const QPointF& a, const QPointF& b) { return std::abs(a.x() - b.x()) < 1e-9 && std::abs(a.y() - b.y()) < 1e-9; }

QString describe(const Points& p)
{
    QStringList parts;
    for (const QPointF& q : p)
        parts << QStringLiteral("(%1, %2)").arg(q.x(), 0, 'g', 12).arg(q.y(), 0, 'g', 12);
    return parts.join(' ');
}

} // namespace

class PanelOutlineShapeTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { Appearance::shared().setForced(Appearance::Forced::None); }

    void geometry_data()
    {
        QTest::addColumn<QRectF>("rect");
        QTest::addColumn<double>("ratio");
        QTest::addColumn<double>("depth");
        QTest::addColumn<Points>("expected");
        QTest::newRow("panel 70 x 400") << QRectF(0, 0, 70, 400) << 0.976 << 68.32
            << Points{{70, 0},
                      {70, 0}, {63.49, 35.38976}, {38.36, 35.79968},
                      {5.84178, 36.33011648}, {0, 62.1712}, {0, 68.32},
                      {0, 331.68},
                      {0, 337.8288}, {5.84178, 363.66988352}, {38.36, 364.20032},
                      {63.49, 364.61024}, {70, 400}, {70, 400}};
        QTest::newRow("offset rectangle") << QRectF(100, 50, 70, 400) << 0.976 << 68.32
            << Points{{170, 50},
                      {170, 50}, {163.49, 85.38976}, {138.36, 85.79968},
                      {105.84178, 86.33011648}, {100, 112.1712}, {100, 118.32},
                      {100, 381.68},
                      {100, 387.8288}, {105.84178, 413.66988352}, {138.36, 414.20032},
                      {163.49, 414.61024}, {170, 450}, {170, 450}};
        // Depth capped at half the height: the shoulders meet at the middle of the left edge.
        QTest::newRow("short rectangle") << QRectF(0, 0, 70, 100) << 0.976 << 50.0
            << Points{{70, 0},
                      {70, 0}, {63.49, 25.9}, {38.36, 26.2},
                      {5.84178, 26.5882}, {0, 45.5}, {0, 50},
                      {0, 50},
                      {0, 54.5}, {5.84178, 73.4118}, {38.36, 73.8},
                      {63.49, 74.1}, {70, 100}, {70, 100}};
        QTest::newRow("ratio 0 is the plain rectangle") << QRectF(0, 0, 70, 400) << 0.0 << 0.0
            << Points{{70, 0},
                      {70, 0}, {63.49, 0}, {38.36, 0},
                      {5.84178, 0}, {0, 0}, {0, 0},
                      {0, 400},
                      {0, 400}, {5.84178, 400}, {38.36, 400},
                      {63.49, 400}, {70, 400}, {70, 400}};
        const Points flat = Points{{70, 0},
                                   {70, 0}, {63.49, 0}, {38.36, 0},
                                   {5.84178, 0}, {0, 0}, {0, 0},
                                   {0, 400},
                                   {0, 400}, {5.84178, 400}, {38.36, 400},
                                   {63.49, 400}, {70, 400}, {70, 400}};
        QTest::newRow("negative ratio stays inside") << QRectF(0, 0, 70, 400) << -0.5 << 0.0 << flat;
        QTest::newRow("NaN ratio stays inside") << QRectF(0, 0, 70, 400) << std::numeric_limits<double>::quiet_NaN()
                                                << 0.0 << flat;
    }
    void geometry()
    {
        QFETCH(QRectF, rect);
        QFETCH(double, ratio);
        QFETCH(double, depth);
        QFETCH(Points, expected);
        const PanelOutlineShape shape(ratio);
        const PanelOutlineShape::Geometry g = shape.geometry(rect);
        QVERIFY2(std::abs(g.depth - depth) < 1e-9, qPrintable(QString::number(g.depth, 'g', 12)));
        const Points got = points(g);
        QCOMPARE(got.size(), expected.size());
        for (int i = 0; i < got.size(); ++i)
            QVERIFY2(same(got[i], expected[i]), qPrintable(QStringLiteral("point %1: %2").arg(i).arg(describe(got))));
    }

    // The path is the geometry: a move, two curves, the left edge, two curves and the
    // closing right edge. A zero-length left edge adds no element.
    void pathFollowsTheGeometry_data()
    {
        QTest::addColumn<QRectF>("rect");
        QTest::addColumn<int>("elements");
        QTest::newRow("panel") << QRectF(0, 0, 70, 400) << 15;
        QTest::newRow("short") << QRectF(0, 0, 70, 100) << 14;
    }
    void pathFollowsTheGeometry()
    {
        QFETCH(QRectF, rect);
        QFETCH(int, elements);
        const PanelOutlineShape shape;
        const QPainterPath path = shape.path(rect);
        QCOMPARE(path.elementCount(), elements);
        const Points expected = points(shape.geometry(rect));
        QCOMPARE(path.elementAt(0).type, QPainterPath::MoveToElement);
        QVERIFY(same(path.elementAt(0), expected[0]));
        QCOMPARE(path.elementAt(1).type, QPainterPath::CurveToElement);
        QVERIFY(same(path.elementAt(6), expected[6]));
        if (elements == 15) {
            QCOMPARE(path.elementAt(7).type, QPainterPath::LineToElement);
            QVERIFY(same(path.elementAt(7), expected[7]));
        }
        // Closed by the straight right edge back to the top-right corner.
        const auto last = path.elementAt(elements - 1);
        QCOMPARE(last.type, QPainterPath::LineToElement);
        QVERIFY(same(last, QPointF(rect.right(), rect.top())));
        QVERIFY(same(path.elementAt(elements - 2), QPointF(rect.right(), rect.bottom())));
        QCOMPARE(path.boundingRect(), rect);
    }

    // Animated frame by frame on the panel spring: only the shoulders move; the right
    // edge stays straight and full-height, and the depth grows steadily to the target.
    void animationMovesOnlyTheShoulders()
    {
        const QRectF rect(0, 0, 70, 400);
        PanelOutlineShape shape(0);
        const PanelOutlineShape from = shape, to(PanelOutlineShape::kPanelRatio);
        QVariantAnimation animation;
        animation.setStartValue(from.animatableData());
        animation.setEndValue(to.animatableData());
        motion::configureSpring(animation, motion::kPanelResponse);
        QVERIFY(animation.duration() > 0);
        qreal previous = -1;
        for (int t = 0; t <= animation.duration(); t += 16) {
            animation.setCurrentTime(t);
            shape.setAnimatableData(animation.currentValue().toDouble());
            const PanelOutlineShape::Geometry g = shape.geometry(rect);
            QVERIFY(g.depth >= previous);
            previous = g.depth;
            QCOMPARE(g.start, QPointF(70, 0));
            QCOMPARE(g.bottomOuter.end, QPointF(70, 400));
            const QPainterPath path = shape.path(rect);
            QCOMPARE(path.boundingRect().right(), 70.0);
            QCOMPARE(path.boundingRect().height(), 400.0);
            QVERIFY(same(path.elementAt(path.elementCount() - 1), QPointF(70, 0)));
        }
        animation.setCurrentTime(animation.duration());
        shape.setAnimatableData(animation.currentValue().toDouble());
        QCOMPARE(shape.geometry(rect), to.geometry(rect));
        // Interpolating shapes is interpolating their ratios.
        QCOMPARE(PanelOutlineShape::interpolated(from, to, 0.5).waveHeightRatio(), 0.488);
    }

    // Filled as a view in the foreground colour, light and dark: inside the tab, the
    // corners cut by the shoulders stay clear.
    void renders_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("light") << false << QColor("#242424");
        QTest::newRow("dark") << true << QColor("#EAEAE6");
    }
    void renders()
    {
        QFETCH(bool, dark);
        QFETCH(QColor, colour);
        Appearance::shared().setForced(dark ? Appearance::Forced::Dark : Appearance::Forced::Light);
        QCOMPARE(palette::color(PanelColor::panelForeground), colour);
        const PanelOutlineShape shape;
        const QImage image = uitest::renderPainting(QSize(70, 400), [&](QPainter& p) {
            shape.fill(p, QRectF(0, 0, 70, 400), palette::color(PanelColor::panelForeground));
        });
        uitest::save(image, QStringLiteral("outline_%1").arg(dark ? "dark" : "light"));
        auto filled = [&](int x, int y) { return uitest::near(uitest::pixel(image, x, y), colour, 4); };
        auto clear = [&](int x, int y) { return qAlpha(image.pixel(x, y)) == 0; };
        // Right edge, full height.
        QVERIFY(filled(69, 12));
        QVERIFY(filled(69, 200));
        QVERIFY(filled(69, 387));
        // Straight left edge between the shoulders.
        QVERIFY(filled(0, 70));
        QVERIFY(filled(0, 200));
        QVERIFY(filled(0, 329));
        // The shoulders: clear towards the left corners, filled towards the right.
        QVERIFY(clear(2, 2));
        QVERIFY(clear(25, 30));
        QVERIFY(filled(50, 38));
        QVERIFY(clear(2, 397));
        QVERIFY(clear(25, 369));
        QVERIFY(filled(50, 361));
        // The top and bottom halves mirror each other.
        for (int y = 0; y < 200; y += 7)
            for (int x = 0; x < 70; x += 5)
                QVERIFY(std::abs(qAlpha(image.pixel(x, y)) - qAlpha(image.pixel(x, 399 - y))) <= 2);
    }
};

VANTOREL_UI_TEST_MAIN(PanelOutlineShapeTest)
#include "test_panel_outline_shape.moc"
