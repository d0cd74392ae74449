#include "panel/Appearance.h"
#include "panel/PanelPalette.h"
#include "panel/ProgressSpinner.h"
#include "uisupport/RenderHarness.h"

#include <QApplication>
#include <QTest>

#include <cmath>
#include <numbers>

class ProgressSpinnerTest : public QObject {
    Q_OBJECT
private slots:
    // It turns only while shown; each twelfth of a turn moves the darkest spoke on by one, clockwise.
    void turnsOneSpokeAtATimeWhileShown()
    {
        QWidget window;
        auto* spinner = new ProgressSpinner(ProgressSpinner::Size::small, &window);
        QCOMPARE(spinner->size(), QSize(16, 16));
        QCOMPARE(ProgressSpinner(ProgressSpinner::Size::mini).size(), QSize(10, 10));
        QVERIFY(!spinner->isSpinning());
        window.show();
        QVERIFY(spinner->isSpinning());

        Appearance::shared().setForced(Appearance::Forced::Light);
        auto alphaOfSpoke = [&](const QImage& image, int spoke) {
            const double angle = 2 * std::numbers::pi * spoke / ProgressSpinner::kSpokes;
            const QPointF p = QPointF(8, 8) + QPointF(std::sin(angle), -std::cos(angle)) * 5.6;
            return uitest::pixel(image, int(p.x() * 4), int(p.y() * 4)).alpha();
        };
        for (int step : {0, 1, 5, 11}) {
            spinner->animation().setCurrentTime(step * ProgressSpinner::kTurnMilliseconds / ProgressSpinner::kSpokes + 1);
            QCOMPARE(spinner->phase(), step);
            const QImage image = uitest::render(*spinner, {}, 4);
            const int darkest = alphaOfSpoke(image, step);
            QVERIFY2(darkest > 200, qPrintable(QString::number(darkest)));
            QVERIFY(alphaOfSpoke(image, (step + 1) % 12) < darkest / 2);
            QVERIFY(alphaOfSpoke(image, (step + 11) % 12) < darkest);
            QVERIFY(uitest::near(uitest::pixel(image, int(8 * 4), int(8 * 4)), QColor(0, 0, 0, 0)));
            if (step == 0)
                uitest::save(image, QStringLiteral("spinner-light"));
        }
        window.hide();
        QVERIFY(!spinner->isSpinning());
        Appearance::shared().setForced(Appearance::Forced::None);
    }
};

VANTOREL_UI_TEST_MAIN(ProgressSpinnerTest)
#include "test_progress_spinner.moc"
