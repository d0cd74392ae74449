#include "PanelAccountsFixture.h"

#include "panel/Appearance.h"
#include "panel/EdgePanelView.h"
#include "panel/EdgeRowLayout.h"
#include "panel/PanelPopover.h"
#include "panel/WindowShape.h"
#include "uisupport/RenderHarness.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTest>

namespace {

QPainterPath rectPath(const QRectF& rect)
{
    QPainterPath path;
    path.addRect(rect);
    return path;
}

// Logical pixels of `widget` drawn fully opaque at `scale`, and those that
// `shape` keeps, where the two differ.
QStringList mismatches(QWidget& widget, const QRegion& shape, qreal scale)
{
    const QImage image = uitest::render(widget, {}, scale);
    const int s = int(scale);
    QStringList out;
    for (int y = 0; y < widget.height(); ++y)
        for (int x = 0; x < widget.width(); ++x) {
            bool opaque = true;
            for (int dy = 0; dy < s; ++dy)
                for (int dx = 0; dx < s; ++dx)
                    opaque = opaque && qAlpha(image.pixel(x * s + dx, y * s + dy)) == 255;
            if (opaque != shape.contains(QPoint(x, y)))
                out << QStringLiteral("(%1,%2) %3").arg(x).arg(y).arg(opaque ? "opaque, cut off" : "see-through, kept");
        }
    return out;
}

} // namespace

class WindowShapeTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); }

    void coveredPixels_data()
    {
        QTest::addColumn<QPainterPath>("outline");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QRegion>("covered");
        QTest::newRow("whole pixels") << rectPath(QRectF(2, 3, 5, 4)) << QSize(10, 10) << QRegion(2, 3, 5, 4);
        QTest::newRow("half pixels at every edge")
            << rectPath(QRectF(0.5, 0.5, 4, 4)) << QSize(10, 10) << QRegion(1, 1, 3, 3);
        QTest::newRow("kept to the area") << rectPath(QRectF(-5, -5, 20, 20)) << QSize(10, 10) << QRegion(0, 0, 10, 10);
        QTest::newRow("thinner than a pixel") << rectPath(QRectF(1.2, 1, 0.6, 5)) << QSize(10, 10) << QRegion();
        QTest::newRow("no outline") << QPainterPath() << QSize(10, 10) << QRegion();
        QTest::newRow("no area") << rectPath(QRectF(0, 0, 5, 5)) << QSize(0, 10) << QRegion();
        QPainterPath two = rectPath(QRectF(0, 0, 2, 2));
        two.addRect(QRectF(6, 6, 2, 2));
        QTest::newRow("two parts") << two << QSize(10, 10) << (QRegion(0, 0, 2, 2) + QRegion(6, 6, 2, 2));
        QPainterPath ring = rectPath(QRectF(0, 0, 6, 6));
        ring.addRect(QRectF(2, 2, 2, 2)); // odd-even fill: a hole in the middle
        QTest::newRow("a hole") << ring << QSize(6, 6) << (QRegion(0, 0, 6, 6) - QRegion(2, 2, 2, 2));
    }

    void coveredPixels()
    {
        QFETCH(QPainterPath, outline);
        QFETCH(QSize, size);
        QFETCH(QRegion, covered);
        for (const qreal scale : {1.0, 2.0}) {
            const QRegion region = WindowShape::coveredPixels(outline, size, scale);
            QVERIFY2(region.xored(covered).isEmpty(), qPrintable(QStringLiteral("at %1: %2 rectangles, %3 expected")
                                                                     .arg(scale).arg(region.rectCount()).arg(covered.rectCount())));
        }
    }

    // The shape each presentation gives its window keeps exactly the pixels it
    // draws opaque: the ring column's ears, the cards' and the popover's
    // corners and the popover's arrow strip stay out, and nothing drawn opaque
    // is cut off. At scale 2 a point counts as opaque when all its pixels are.
    void shapeKeepsTheOpaquePixels_data()
    {
        QTest::addColumn<QString>("presentation");
        QTest::addColumn<qreal>("scale");
        for (const char* name : {"strip", "rings", "cards", "popover"})
            for (qreal scale : {1.0, 2.0})
                QTest::newRow(qPrintable(QStringLiteral("%1 at %2").arg(name).arg(scale)))
                    << QString::fromLatin1(name) << scale;
    }

    void shapeKeepsTheOpaquePixels()
    {
        QFETCH(QString, presentation);
        QFETCH(qreal, scale);
        PanelAccounts f;
        f.addEveryState();
        UsageAccounts& accounts = f.start();
        EdgePanelState state;
        const EdgePanelMode mode = presentation == "strip" ? EdgePanelMode::strip
            : presentation == "rings"                      ? EdgePanelMode::rings
                                                           : EdgePanelMode::cards;
        state.setMode(mode);
        const int height = int(edgerows::neededHeight(int(f.list.size())));
        const QSize size = mode == EdgePanelMode::strip ? QSize(16, height)
            : mode == EdgePanelMode::rings              ? QSize(70, height)
                                                        : QSize(300, 570);
        Appearance::shared().setForced(Appearance::Forced::Light);
        EdgePanelView view(accounts, state, [] {});
        view.resize(size);
        view.show();
        f.settle();

        QWidget* window = &view;
        if (presentation == "popover") {
            const QString id = f.list.first().id(); // the spent Codex profile with reset credits
            auto* offer = view.findChild<QAbstractButton*>("reset.card." + id);
            QVERIFY(offer && offer->isVisible());
            QTest::mouseClick(offer, Qt::LeftButton);
            const QList<PanelPopover*> open = PanelPopover::openPopovers(&view);
            QCOMPARE(open.size(), 1);
            window = open.first();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        }
        const QList<WindowShape*> shapes = window->findChildren<WindowShape*>();
        QCOMPARE(shapes.size(), 1);
        const WindowShape& shape = *shapes.first();
        const QRegion kept = WindowShape::coveredPixels(shape.outline(), window->size(), scale);
        QVERIFY(!kept.isEmpty());
        const QStringList wrong = mismatches(*window, kept, scale);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.mid(0, 12).join("; ")));

        const int w = window->width(), h = window->height();
        QList<QPoint> outside;
        if (presentation == "strip")
            outside = {QPoint(2, h / 2)};
        else if (presentation == "rings")
            outside = {QPoint(2, 2), QPoint(2, h - 3)};
        else
            outside = {QPoint(1, 1), QPoint(1, h - 2), QPoint(w - 10, 1), QPoint(w - 10, h - 2)};
        if (presentation == "popover")
            outside << QPoint(w - 3, 3) << QPoint(w - 3, h - 4);
        for (const QPoint& p : outside)
            QVERIFY2(!kept.contains(p), qPrintable(QStringLiteral("(%1,%2)").arg(p.x()).arg(p.y())));
        Appearance::shared().setForced(Appearance::Forced::None);
    }
};

VANTOREL_UI_TEST_MAIN(WindowShapeTest)
#include "test_window_shape.moc"
