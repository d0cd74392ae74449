#include "panel/UsageFormat.h"
#include "uisupport/RenderHarness.h"

#include <QApplication>
#include <QTest>

#include <limits>

class UsageFormatTest : public QObject {
    Q_OBJECT
private slots:
    void wholePercent_data()
    {
        QTest::addColumn<double>("percent");
        QTest::addColumn<QString>("text");
        QTest::newRow("integral") << 42.0 << "42%";
        QTest::newRow("half rounds up") << 42.5 << "43%";
        QTest::newRow("below half") << 42.49 << "42%";
        QTest::newRow("negative half away from zero") << -0.5 << "-1%";
        QTest::newRow("over 100 kept") << 130.2 << "130%";
        QTest::newRow("NaN has no figure") << std::numeric_limits<double>::quiet_NaN() << "";
        QTest::newRow("infinity has no figure") << std::numeric_limits<double>::infinity() << "";
        QTest::newRow("huge has no figure") << 1e300 << "";
        QTest::newRow("just past int has no figure") << 2147483648.0 << "";
    }
    void wholePercent()
    {
        QFETCH(double, percent);
        QFETCH(QString, text);
        QCOMPARE(usageformat::percentText(percent), text);
        QCOMPARE(usageformat::wholePercent(percent).has_value(), !text.isEmpty());
    }
};

VANTOREL_UI_TEST_MAIN(UsageFormatTest)
#include "test_usage_format.moc"
