#include "panel/Appearance.h"
#include "panel/PanelActionStyle.h"
#include "panel/PanelPalette.h"
#include "uisupport/RenderHarness.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QTest>

#include <cmath>

namespace {
QColor withAlpha(const char* hex, int alpha)
{
    QColor c(QString::fromLatin1(hex));
    c.setAlpha(alpha);
    return c;
}

// A filled square, so a probe can find where the symbol went and in which colour.
void squareSymbol(QPainter& painter, const QRectF& box, const QColor& colour) { painter.fillRect(box, colour); }

int distance(const QColor& a, const QColor& b)
{
    return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
}

// Pixels of `rect` nearer in colour to `ink` than to `fill`, each at the button's alpha.
int inkPixels(const QImage& image, const QRect& rect, const QColor& ink, const QColor& fill)
{
    int count = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const QColor c = uitest::pixel(image, x, y);
            if (distance(c, ink) < distance(c, fill) && std::abs(c.alpha() - fill.alpha()) <= 3)
                ++count;
        }
    return count;
}
} // namespace

class PanelActionStyleTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { Appearance::shared().setForced(Appearance::Forced::None); }

    void opacityByState_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("pressed");
        QTest::addColumn<double>("opacity");
        QTest::newRow("enabled") << true << false << 1.0;
        QTest::newRow("pressed") << true << true << 0.75;
        QTest::newRow("disabled") << false << false << 0.55;
        QTest::newRow("disabled while pressed") << false << true << 0.55;
    }
    void opacityByState()
    {
        QFETCH(bool, enabled);
        QFETCH(bool, pressed);
        QFETCH(double, opacity);
        QCOMPARE(PanelActionStyle::look(enabled, pressed, false).opacity, opacity);
    }

    void labelFontAndPadding()
    {
        const QFont font = PanelActionStyle::font();
        QCOMPARE(font.pixelSize(), 10);
        QCOMPARE(font.weight(), QFont::Medium);
        const QFontMetricsF metrics(font);
        const QString text = QStringLiteral("Обновить лимиты");
        const QSizeF plain = PanelActionStyle::size(text, false);
        QCOMPARE(plain.width(), std::ceil(metrics.horizontalAdvance(text)) + 24);
        QCOMPARE(plain.height(), std::ceil(metrics.height()) + 16);
        // The symbol takes a square of the font's size and the spacing before the text.
        QCOMPARE(PanelActionStyle::size(text, true).width(), std::ceil(metrics.horizontalAdvance(text) + 14) + 24);
    }

    // Light and dark, each state: the fill in the padding, the label's ink and
    // the symbol, all at the button's opacity as one layer.
    void renders_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("pressed");
        QTest::addColumn<QString>("background");
        QTest::addColumn<QString>("foreground");
        QTest::addColumn<int>("alpha");
        QTest::newRow("light") << false << true << false << "#E8E8E4" << "#242424" << 255;
        QTest::newRow("light pressed") << false << true << true << "#E8E8E4" << "#242424" << 191;
        QTest::newRow("light disabled") << false << false << false << "#E8E8E4" << "#242424" << 140;
        QTest::newRow("dark") << true << true << false << "#343530" << "#EAEAE6" << 255;
        QTest::newRow("dark disabled pressed") << true << false << true << "#343530" << "#EAEAE6" << 140;
    }
    void renders()
    {
        QFETCH(bool, dark);
        QFETCH(bool, enabled);
        QFETCH(bool, pressed);
        QFETCH(QString, background);
        QFETCH(QString, foreground);
        QFETCH(int, alpha);
        Appearance::shared().setForced(dark ? Appearance::Forced::Dark : Appearance::Forced::Light);
        PanelActionButton button(QStringLiteral("Обновить лимиты"));
        button.setSymbol(squareSymbol);
        button.setEnabled(enabled);
        button.setDown(pressed);
        const QSize size = button.sizeHint();
        const QImage image = uitest::render(button, size);
        uitest::save(image, QStringLiteral("action_button_%1").arg(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_')));

        const QColor fill = withAlpha(background.toLatin1(), alpha);
        const QColor ink = withAlpha(foreground.toLatin1(), alpha);
        const int midY = size.height() / 2;
        // Padding on the left and right, and the top and bottom edges at the middle.
        QVERIFY2(uitest::near(uitest::pixel(image, 5, midY), fill, 3), qPrintable(uitest::pixel(image, 5, midY).name(QColor::HexArgb)));
        QVERIFY(uitest::near(uitest::pixel(image, size.width() - 5, midY), fill, 3));
        QVERIFY(uitest::near(uitest::pixel(image, size.width() / 2, 0), fill, 3));
        QVERIFY(uitest::near(uitest::pixel(image, size.width() / 2, size.height() - 1), fill, 3));
        // Rounded corners: the very corner is left out, a point 10 in along the edge is filled.
        QVERIFY(qAlpha(image.pixel(0, 0)) < 40);
        QVERIFY(qAlpha(image.pixel(size.width() - 1, size.height() - 1)) < 40);
        QVERIFY(uitest::near(uitest::pixel(image, 10, 1), fill, 8));
        // The symbol's square starts 12 in and is the label's colour.
        QVERIFY2(uitest::near(uitest::pixel(image, 12 + 5, midY), ink, 3), qPrintable(uitest::pixel(image, 17, midY).name(QColor::HexArgb)));
        QVERIFY(uitest::near(uitest::pixel(image, 10, midY), fill, 3));
        // The text: ink inside the label area, none in the vertical padding.
        const QRect textArea(12 + 14, 8, size.width() - 24 - 14, size.height() - 16);
        QVERIFY(inkPixels(image, textArea, ink, fill) > 40);
        QCOMPARE(inkPixels(image, QRect(0, 0, size.width(), 6), ink, fill), 0);
    }

    // A wider button keeps its label centred.
    void labelCentredInAWiderButton()
    {
        Appearance::shared().setForced(Appearance::Forced::Light);
        PanelActionButton button(QString{});
        button.setSymbol(squareSymbol);
        const QImage image = uitest::render(button, QSize(100, 30));
        const QColor ink("#242424");
        QVERIFY(uitest::near(uitest::pixel(image, 50, 15), ink, 3));
        QVERIFY(uitest::near(uitest::pixel(image, 40, 15), QColor("#E8E8E4"), 3));
        QVERIFY(uitest::near(uitest::pixel(image, 60, 15), QColor("#E8E8E4"), 3));
        QCOMPARE(button.sizeHint(), QSize(10 + 24, button.sizeHint().height()));
    }

    // Colours follow the appearance at paint time: one button, two renderings.
    void followsTheAppearanceWithoutRebuilding()
    {
        PanelActionButton button(QStringLiteral("Готово"));
        Appearance::shared().setForced(Appearance::Forced::Light);
        const QImage light = uitest::render(button, button.sizeHint());
        Appearance::shared().setForced(Appearance::Forced::Dark);
        const QImage dark = uitest::render(button, button.sizeHint());
        QVERIFY(uitest::near(uitest::pixel(light, 4, light.height() / 2), QColor("#E8E8E4"), 3));
        QVERIFY(uitest::near(uitest::pixel(dark, 4, dark.height() / 2), QColor("#343530"), 3));
        QCOMPARE(button.accessibleName().isEmpty() ? button.text() : button.accessibleName(), QStringLiteral("Готово"));
    }
};

VANTOREL_UI_TEST_MAIN(PanelActionStyleTest)
#include "test_panel_action_style.moc"
