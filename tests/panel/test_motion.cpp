#include "panel/Motion.h"
#include "uisupport/RenderHarness.h"

#include <QApplication>
#include <QTest>
#include <QVariantAnimation>

#include <cmath>

class MotionTest : public QObject {
    Q_OBJECT
private slots:
    void easeInOutCurve_data()
    {
        QTest::addColumn<double>("t");
        QTest::addColumn<double>("expected");
        QTest::newRow("start") << 0.0 << 0.0;
        QTest::newRow("symmetric midpoint") << 0.5 << 0.5;
        QTest::newRow("end") << 1.0 << 1.0;
        // Slow start, slow end.
        QTest::newRow("quarter") << 0.25 << 0.129;
        QTest::newRow("three quarters") << 0.75 << 0.871;
        QTest::newRow("NaN holds at start") << std::nan("") << 0.0;
    }
    void easeInOutCurve()
    {
        QFETCH(double, t);
        QFETCH(double, expected);
        QVERIFY2(std::abs(motion::easeInOut(t) - expected) < 0.002, qPrintable(QString::number(motion::easeInOut(t))));
    }

    // A critically damped spring rises without overshoot and is settled at its settle time.
    void springIsMonotoneAndSettles()
    {
        const double response = motion::kGaugeResponse;
        double previous = 0;
        for (int i = 1; i <= 100; ++i) {
            const double x = motion::spring(motion::springSettleTime(response) * i / 100.0, response);
            QVERIFY(x >= previous);
            QVERIFY(x <= 1.0);
            previous = x;
        }
        QVERIFY(previous > 0.998);
        QCOMPARE(motion::springCurve().valueForProgress(1.0), 1.0);
        QCOMPARE(motion::springCurve().valueForProgress(0.0), 0.0);
    }

    // Frames are driven by setting the animation's time, never by waiting.
    void animationDrivenFrameByFrame()
    {
        QVariantAnimation animation;
        animation.setStartValue(0.0);
        animation.setEndValue(100.0);
        motion::configureEase(animation, 0.28);
        QCOMPARE(animation.duration(), 280);
        animation.setCurrentTime(140);
        QVERIFY(std::abs(animation.currentValue().toDouble() - 50.0) < 0.5);

        motion::setReduceMotion(true);
        motion::configureSpring(animation, motion::kPanelResponse);
        QCOMPARE(animation.duration(), 0);
        motion::setReduceMotion(false);
    }
};

VANTOREL_UI_TEST_MAIN(MotionTest)
#include "test_motion.moc"
