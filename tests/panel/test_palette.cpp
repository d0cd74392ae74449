#include "panel/Appearance.h"
#include "panel/PanelPalette.h"
#include "uisupport/RenderHarness.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include <limits>

namespace {
QColor hex(const char* value) { return QColor(QString::fromLatin1(value)); }

QColor midpoint(const char* a, const char* b)
{
    const QColor x = hex(a), y = hex(b);
    QColor m;
    m.setRgbF((x.redF() + y.redF()) / 2, (x.greenF() + y.greenF()) / 2, (x.blueF() + y.blueF()) / 2);
    return m;
}
} // namespace

class PaletteTest : public QObject {
    Q_OBJECT
private slots:
    void usageColorScale_data()
    {
        QTest::addColumn<double>("percent");
        QTest::addColumn<QColor>("light");
        QTest::addColumn<QColor>("dark");
        const double inf = std::numeric_limits<double>::infinity();
        QTest::newRow("0") << 0.0 << hex("#397F60") << hex("#69BC99");
        QTest::newRow("25 midpoint") << 25.0 << midpoint("#397F60", "#8A711E") << midpoint("#69BC99", "#D7BF67");
        QTest::newRow("50 exact stop") << 50.0 << hex("#8A711E") << hex("#D7BF67");
        QTest::newRow("80 exact stop") << 80.0 << hex("#AC6224") << hex("#E4A763");
        QTest::newRow("90 midpoint") << 90.0 << midpoint("#AC6224", "#B54241") << midpoint("#E4A763", "#EF7E77");
        QTest::newRow("100") << 100.0 << hex("#B54241") << hex("#EF7E77");
        QTest::newRow("below 0 clamps") << -5.0 << hex("#397F60") << hex("#69BC99");
        QTest::newRow("above 100 clamps") << 130.0 << hex("#B54241") << hex("#EF7E77");
        QTest::newRow("NaN is 100") << std::numeric_limits<double>::quiet_NaN() << hex("#B54241") << hex("#EF7E77");
        QTest::newRow("+inf is 100") << inf << hex("#B54241") << hex("#EF7E77");
        QTest::newRow("-inf is 100, not 0") << -inf << hex("#B54241") << hex("#EF7E77");
    }
    void usageColorScale()
    {
        QFETCH(double, percent);
        QFETCH(QColor, light);
        QFETCH(QColor, dark);
        const AdaptiveColor c = palette::usageColor(percent);
        QVERIFY2(uitest::near(c.light, light, 1), qPrintable(c.light.name()));
        QVERIFY2(uitest::near(c.dark, dark, 1), qPrintable(c.dark.name()));
    }

    void namedColours_data()
    {
        QTest::addColumn<int>("role");
        QTest::addColumn<QColor>("light");
        QTest::addColumn<QColor>("dark");
        auto alpha = [](const char* value, double a) { QColor c = hex(value); c.setAlphaF(float(a)); return c; };
        QTest::newRow("background") << int(PanelColor::panelBackground) << hex("#F7F7F5") << hex("#171817");
        QTest::newRow("warning") << int(PanelColor::panelWarning) << hex("#B45309") << palette::systemOrange().dark;
        QTest::newRow("card border") << int(PanelColor::cardBorder) << alpha("#242424", 0.13) << alpha("#FFFFFF", 0.08);
        QTest::newRow("footer clear in light") << int(PanelColor::footerBackground) << QColor(Qt::transparent)
                                               << alpha("#000000", 0.24);
        QTest::newRow("claude accent") << int(PanelColor::claudeAccent) << hex("#C2410C") << hex("#FF6329");
        QTest::newRow("button label is primary text") << int(PanelColor::actionButtonForeground) << hex("#242424")
                                                      << hex("#EAEAE6");
    }
    void namedColours()
    {
        QFETCH(int, role);
        QFETCH(QColor, light);
        QFETCH(QColor, dark);
        QCOMPARE(palette::color(PanelColor(role), false).rgba(), light.rgba());
        QCOMPARE(palette::color(PanelColor(role), true).rgba(), dark.rgba());
    }

    // The forced scheme wins and each flip is announced once.
    void forcedAppearanceResolvesAtPaintTime()
    {
        Appearance appearance(false);
        QSignalSpy spy(&appearance, &Appearance::changed);
        appearance.setForced(Appearance::Forced::Dark);
        QVERIFY(appearance.isDark());
        appearance.setForced(Appearance::Forced::Dark);
        appearance.setForced(Appearance::Forced::Light);
        QVERIFY(!appearance.isDark());
        QCOMPARE(spy.count(), 2);

        Appearance::shared().setForced(Appearance::Forced::Dark);
        QCOMPARE(palette::color(PanelColor::panelBackground), hex("#171817"));
        Appearance::shared().setForced(Appearance::Forced::Light);
        QCOMPARE(palette::color(PanelColor::panelBackground), hex("#F7F7F5"));
    }
};

VANTOREL_UI_TEST_MAIN(PaletteTest)
#include "test_palette.moc"
