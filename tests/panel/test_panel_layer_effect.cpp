#include "panel/PanelLayerEffect.h"
#include "uisupport/RenderHarness.h"

#include <QApplication>
#include <QPainter>
#include <QTest>
#include <QWidget>

namespace {

// A plain square of one colour.
class Solid final : public QWidget {
public:
    Solid(QColor colour, QWidget* parent) : QWidget(parent), m_colour(colour) {}

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), m_colour); }

private:
    QColor m_colour;
};

using Probes = QList<QPair<QPoint, QColor>>;

} // namespace

Q_DECLARE_METATYPE(Probes)

class PanelLayerEffectTest : public QObject {
    Q_OBJECT
private slots:
    // The effect works on a host whose child paints everything: what reaches
    // the image is the child's paint, transformed.
    void drawsTheHostAndItsChildrenAsOneLayer_data()
    {
        QTest::addColumn<bool>("clip");
        QTest::addColumn<qreal>("opacity");
        QTest::addColumn<qreal>("scale");
        QTest::addColumn<qreal>("offset");
        QTest::addColumn<qreal>("brightness");
        QTest::addColumn<Probes>("probes");

        const QColor grey(100, 100, 100);
        const QColor none(0, 0, 0, 0);
        QTest::newRow("untouched") << false << 1.0 << 1.0 << 0.0 << 0.0
                                   << Probes {{{0, 0}, grey}, {{99, 99}, grey}};
        // A circle of radius 50: the corners go, the centre stays.
        QTest::newRow("clip") << true << 1.0 << 1.0 << 0.0 << 0.0
                              << Probes {{{1, 1}, none}, {{98, 98}, none}, {{50, 50}, grey}, {{50, 2}, grey}};
        QTest::newRow("opacity") << false << 0.5 << 1.0 << 0.0 << 0.0
                                 << Probes {{{50, 50}, QColor(100, 100, 100, 128)}};
        // Scaled about the middle of the right edge: the right edge stays, 6 points go on the left.
        QTest::newRow("scale at the trailing edge") << false << 1.0 << 0.94 << 0.0 << 0.0
                                                    << Probes {{{2, 50}, none}, {{99, 50}, grey}, {{50, 1}, none},
                                                               {{50, 50}, grey}};
        QTest::newRow("moved in from the trailing edge") << false << 1.0 << 1.0 << 20.0 << 0.0
                                                         << Probes {{{10, 50}, none}, {{25, 50}, grey}};
        // 0.06 of white is 15 of 255 on every channel.
        QTest::newRow("brightness") << false << 1.0 << 1.0 << 0.0 << 0.06
                                    << Probes {{{50, 50}, QColor(115, 115, 115)}};
    }

    void drawsTheHostAndItsChildrenAsOneLayer()
    {
        QFETCH(bool, clip);
        QFETCH(qreal, opacity);
        QFETCH(qreal, scale);
        QFETCH(qreal, offset);
        QFETCH(qreal, brightness);
        QFETCH(Probes, probes);

        QWidget outer;
        outer.resize(100, 100);
        auto* host = new QWidget(&outer);
        host->setGeometry(0, 0, 100, 100);
        (new Solid(QColor(100, 100, 100), host))->setGeometry(0, 0, 100, 100);
        auto* effect = new PanelLayerEffect;
        if (clip) {
            QPainterPath circle;
            circle.addEllipse(QRectF(0, 0, 100, 100));
            effect->setClipPath(circle);
        }
        effect->setOpacity(opacity);
        effect->setScale(scale, QPointF(100, 50));
        effect->setBrightness(brightness);
        effect->setOffsetX(offset);
        host->setGraphicsEffect(effect);

        const QImage image = uitest::render(outer);
        for (const auto& [point, colour] : probes)
            QVERIFY2(uitest::near(uitest::pixel(image, point.x(), point.y()), colour, 3),
                     qPrintable(QStringLiteral("(%1, %2) is %3").arg(point.x()).arg(point.y())
                                    .arg(uitest::pixel(image, point.x(), point.y()).name(QColor::HexArgb))));
        if (clip) {
            // The edge is antialiased: some pixels are neither empty nor full.
            int partial = 0;
            for (int x = 0; x < 100; ++x) {
                const int alpha = qAlpha(image.pixel(x, 10));
                if (alpha > 0 && alpha < 255)
                    ++partial;
            }
            QVERIFY(partial >= 2);
        }
    }

    // The panel nests layers: a pressed button inside a clipped panel keeps both.
    void nestedLayersCompose()
    {
        QWidget outer;
        outer.resize(100, 100);
        auto* host = new QWidget(&outer);
        host->setGeometry(0, 0, 100, 100);
        auto* child = new Solid(QColor(100, 100, 100), host);
        child->setGeometry(0, 0, 100, 100);
        auto* clip = new PanelLayerEffect;
        QPainterPath circle;
        circle.addEllipse(QRectF(0, 0, 100, 100));
        clip->setClipPath(circle);
        host->setGraphicsEffect(clip);
        auto* press = new PanelLayerEffect;
        press->setBrightness(0.06);
        child->setGraphicsEffect(press);

        const QImage image = uitest::render(outer);
        QCOMPARE(qAlpha(image.pixel(1, 1)), 0);
        QVERIFY(uitest::near(uitest::pixel(image, 50, 50), QColor(115, 115, 115), 2));
    }
};

VANTOREL_UI_TEST_MAIN(PanelLayerEffectTest)
#include "test_panel_layer_effect.moc"
