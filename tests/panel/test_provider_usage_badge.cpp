#include "panel/Appearance.h"
#include "panel/Motion.h"
#include "panel/PanelPalette.h"
#include "panel/ProviderIcon.h"
#include "panel/ProviderUsageBadge.h"
#include "panel/UsageGauge.h"
#include "support/TestSupport.h"
#include "uisupport/RenderHarness.h"

#include <QAccessible>
#include <QApplication>
#include <QPainter>
#include <QTest>

#include <cmath>
#include <limits>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Windows named by id with a used percentage: "id=percent".
ProviderUsage usage(UsageProvider provider, const QStringList& windows)
{
    ProviderUsage u = ProviderUsage::placeholder(provider);
    u.isLoading = false;
    for (const QString& spec : windows) {
        const QStringList parts = spec.split(QLatin1Char('='));
        u.windows.append(testsupport::limitWindow(parts.at(0), parts.value(1, QStringLiteral("10")).toDouble()));
    }
    return u;
}

QStringList ids(const QString& prefix, int n, const QString& used = QStringLiteral("10"))
{
    QStringList out;
    for (int i = 0; i < n; ++i)
        out << QStringLiteral("%1%2=%3").arg(prefix).arg(i).arg(used);
    return out;
}

QList<double> rounded(const QList<double>& values)
{
    QList<double> out;
    for (double v : values)
        out << std::round(v * 100) / 100;
    return out;
}

QImage badgeImage(const ProviderUsage& u, bool dark)
{
    const BadgeLayout layout = ProviderUsageBadge::layout(u);
    const int side = int(layout.side);
    return uitest::renderPainting({side, side}, [&](QPainter& p) {
        ProviderUsageBadge::paint(p, QRectF(0, 0, side, side), layout, dark);
    });
}

// The pixel `fraction` of a turn clockwise from 12 o'clock on the circle of `diameter` about the badge centre.
QColor onRing(const QImage& image, qreal diameter, double fraction)
{
    const double c = image.width() / 2.0, r = diameter / 2, a = 2 * kPi * fraction;
    return uitest::pixel(image, int(std::floor(c + r * std::sin(a))), int(std::floor(c - r * std::cos(a))));
}

QColor faded(QColor c, qreal a)
{
    c.setAlphaF(float(c.alphaF() * a));
    return c;
}

} // namespace

class ProviderUsageBadgeTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        motion::setReduceMotion(false);
        Appearance::shared().setForced(Appearance::Forced::None);
    }

    // The worked values: badge side, icon size, and each ring's diameter and line width.
    void layout_data()
    {
        QTest::addColumn<int>("provider");
        QTest::addColumn<QStringList>("windows");
        QTest::addColumn<double>("side");
        QTest::addColumn<double>("icon");
        QTest::addColumn<QList<double>>("diameters");
        QTest::addColumn<QList<double>>("lineWidths");
        const int codex = int(UsageProvider::codex), claude = int(UsageProvider::claude);
        QTest::newRow("two rings") << codex << ids("c", 2) << 52.0 << 18.0 << QList<double> {49, 39} << QList<double> {3, 3};
        QTest::newRow("claude, all three")
            << claude << QStringList {"five_hour", "seven_day", "model-fable"} << 52.0 << 18.0 << QList<double> {49, 39, 29}
            << QList<double> {3, 3, 3};
        QTest::newRow("claude, only the weekly") << claude << QStringList {"seven_day"} << 52.0 << 18.0 << QList<double> {39}
                                                 << QList<double> {3};
        QTest::newRow("claude, none") << claude << QStringList() << 52.0 << 18.0 << QList<double>() << QList<double>();
        QTest::newRow("four rings") << int(UsageProvider::copilot) << ids("q", 4) << 52.0 << 18.0
                                    << QList<double> {49, 41.33, 33.67, 26} << QList<double> {3, 3, 3, 3};
        QTest::newRow("six rings") << codex << ids("c", 6) << 52.0 << 18.0 << QList<double> {49, 44.4, 39.8, 35.2, 30.6, 26}
                                   << QList<double> {2.76, 2.76, 2.76, 2.76, 2.76, 2.76};
        QTest::newRow("one ring") << codex << ids("c", 1) << 44.0 << 22.0 << QList<double> {40} << QList<double> {4};
        QTest::newRow("no windows: the logo alone") << codex << QStringList() << 44.0 << 22.0 << QList<double>()
                                                    << QList<double>();
        QTest::newRow("antigravity, one window in each of two sections")
            << int(UsageProvider::antigravity) << QStringList {"gemini-pro-5h", "3p-claude-5h"} << 52.0 << 18.0
            << QList<double> {49, 39} << QList<double> {3, 3};
    }
    void layout()
    {
        QFETCH(int, provider);
        QFETCH(QStringList, windows);
        QFETCH(double, side);
        QFETCH(double, icon);
        QFETCH(QList<double>, diameters);
        QFETCH(QList<double>, lineWidths);
        const BadgeLayout l = ProviderUsageBadge::layout(usage(UsageProvider(provider), windows));
        QCOMPARE(l.side, side);
        QCOMPARE(l.iconSize, icon);
        QList<double> d, w;
        for (const BadgeRing& r : l.rings) {
            d << r.diameter;
            w << r.lineWidth;
        }
        QCOMPARE(rounded(d), diameters);
        QCOMPARE(rounded(w), lineWidths);
    }

    void ringFigures_data()
    {
        QTest::addColumn<double>("used");
        QTest::addColumn<double>("progress");
        QTest::newRow("half") << 50.0 << 0.5;
        QTest::newRow("over full") << 130.0 << 1.0;
        QTest::newRow("below zero") << -5.0 << 0.0;
        QTest::newRow("NaN stays NaN") << std::numeric_limits<double>::quiet_NaN() << std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("infinite is full") << std::numeric_limits<double>::infinity() << 1.0;
    }
    void ringFigures()
    {
        QFETCH(double, used);
        QFETCH(double, progress);
        ProviderUsage u = usage(UsageProvider::codex, {"a"});
        u.windows[0].usedPercent = used;
        const BadgeRing r = ProviderUsageBadge::layout(u).rings.at(0);
        QCOMPARE(r.id, QStringLiteral("a"));
        if (std::isnan(progress))
            QVERIFY(std::isnan(r.progress));
        else
            QCOMPARE(r.progress, progress);
        QCOMPARE(r.accent, palette::usageColor(used));
    }

    // One element named after the provider; the rings are its value and tooltip.
    void accessibility()
    {
        ProviderUsage u = usage(UsageProvider::claude, {"seven_day=40"});
        u.isStale = true;
        ProviderUsageBadge badge;
        badge.setUsage(u);
        const QString summary = ProviderLimitRing::accessibilitySummary(u);
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&badge);
        QVERIFY(iface);
        QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Лимиты Claude"));
        QCOMPARE(iface->text(QAccessible::Value), summary);
        QCOMPARE(iface->role(), QAccessible::Graphic);
        QCOMPARE(iface->childCount(), 0);
        QCOMPARE(badge.toolTip(), summary);
        QCOMPARE(badge.sizeHint(), QSize(52, 52));

        badge.setUsage(usage(UsageProvider::codex, {}));
        QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Лимиты Codex"));
        QVERIFY(iface->text(QAccessible::Value).isEmpty());
        QVERIFY(badge.toolTip().isEmpty());
        QCOMPARE(badge.sizeHint(), QSize(44, 44));
    }

    void rendering_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void rendering()
    {
        QFETCH(bool, dark);
        const QColor track = palette::color(PanelColor::ringTrack, dark);
        const QString suffix = dark ? QStringLiteral("dark") : QStringLiteral("light");

        // Outer ring at 30 %, inner at 130 % (closed).
        const QImage two = badgeImage(usage(UsageProvider::codex, {"a=30", "b=130"}), dark);
        uitest::save(two, QStringLiteral("badge-codex-") + suffix);
        const QColor low = palette::usageColor(30).resolve(dark), full = palette::usageColor(130).resolve(dark);
        QVERIFY2(uitest::near(onRing(two, 49, 0.2), uitest::over(faded(low, 0.45 + 0.55 * 0.4), track), 12),
                 qPrintable(onRing(two, 49, 0.2).name(QColor::HexArgb)));
        QVERIFY(uitest::near(onRing(two, 49, 0.6), track, 4));
        QVERIFY(uitest::near(onRing(two, 39, 0.5), uitest::over(full, track), 12));
        QVERIFY(uitest::near(onRing(two, 39, 0.75), uitest::over(faded(full, 0.91), track), 12));
        // The mark in the middle, in the foreground of the appearance.
        const QRectF mark = ProviderIcon::frame(UsageProvider::codex, 18, {26, 26});
        const QColor ink = palette::color(PanelColor::panelForeground, dark);
        QVERIFY(uitest::countNear(two, mark.toRect(), ink, 3) > 30);
        QCOMPARE(uitest::countNear(two, mark.toRect(), palette::color(PanelColor::panelForeground, !dark), 3), 0);

        // One window at 0 %: the dotted circle, width 2 although the ring's line width is 4.
        const QImage untouched = badgeImage(usage(UsageProvider::codex, {"a=0"}), dark);
        uitest::save(untouched, QStringLiteral("badge-untouched-") + suffix);
        int runs = 0;
        bool inside = false;
        for (int i = 0; i < 720; ++i) {
            const bool opaque = onRing(untouched, 40, i / 720.0).alpha() > 40;
            runs += opaque && !inside;
            inside = opaque;
        }
        QVERIFY2(runs >= 20 && runs <= 31, qPrintable(QString::number(runs)));
        QCOMPARE(uitest::countOpaque(untouched, QRect(21, 22 - 20 - 3, 10, 2), 10), 0); // 1.5 to 2.5 points outside the outline

        // Claude's lone weekly ring sits at its own place, 39 points across; nothing at 49.
        const QImage weekly = badgeImage(usage(UsageProvider::claude, {"seven_day=50"}), dark);
        QVERIFY(uitest::near(onRing(weekly, 39, 0.75), track, 4));
        QCOMPARE(onRing(weekly, 49, 0.75).alpha(), 0);
    }

    // Rings glide by window id: a ring that stays moves from where it stood, a new one appears at once.
    void ringsAnimateByIdentity()
    {
        ProviderUsageBadge badge;
        badge.setUsage(usage(UsageProvider::codex, {"a=20"}));
        QVERIFY(badge.ringMotion("a") && !badge.ringMotion("a")->isMoving());
        badge.setUsage(usage(UsageProvider::codex, {"b=50", "a=80"}));
        GaugeMotion* a = badge.ringMotion("a");
        GaugeMotion* b = badge.ringMotion("b");
        QVERIFY(a && b);
        QVERIFY(a->isMoving());
        QCOMPARE(*a->current(), 0.2);
        QVERIFY(!b->isMoving());
        QCOMPARE(*b->current(), 0.5);
        a->animation().setCurrentTime(a->animation().duration());
        QCOMPARE(*a->current(), 0.8);
        badge.setUsage(usage(UsageProvider::codex, {"b=50"}));
        QVERIFY(!badge.ringMotion("a"));
        QCOMPARE(badge.ringMotion("b"), b);

        motion::setReduceMotion(true);
        badge.setUsage(usage(UsageProvider::codex, {"b=90"}));
        QVERIFY(!b->isMoving());
        QCOMPARE(*b->current(), 0.9);
    }

    void gallery()
    {
        if (qEnvironmentVariableIsEmpty("VANTOREL_RENDER_DIR"))
            QSKIP("pictures only when VANTOREL_RENDER_DIR is set");
        const QList<ProviderUsage> usages {
            usage(UsageProvider::codex, {"codex-primary=35", "codex-secondary=82"}),
            usage(UsageProvider::claude, {"five_hour=0", "seven_day=64", "model-fable=100"}),
            usage(UsageProvider::claude, {"seven_day=12"}),
            usage(UsageProvider::copilot, {"a=10", "b=45", "c=70", "d=95"}),
            usage(UsageProvider::antigravity, {"gemini-pro-5h=20", "3p-claude-5h=55"}),
            usage(UsageProvider::codex, {"one=130"}),
            usage(UsageProvider::codex, {}),
            usage(UsageProvider::copilot, ids("q", 6, QStringLiteral("50"))),
        };
        for (bool dark : {false, true}) {
            const QImage sheet = uitest::renderPainting({int(usages.size()) * 60, 60}, [&](QPainter& p) {
                p.fillRect(QRect(0, 0, int(usages.size()) * 60, 60), palette::color(PanelColor::cardBackground, dark));
                for (qsizetype i = 0; i < usages.size(); ++i)
                    ProviderUsageBadge::paint(p, QRectF(i * 60 + 4, 4, 52, 52), ProviderUsageBadge::layout(usages.at(i)), dark);
            }, 4);
            uitest::save(sheet, QStringLiteral("badges-") + (dark ? "dark" : "light"));
        }
    }
};

VANTOREL_UI_TEST_MAIN(ProviderUsageBadgeTest)
#include "test_provider_usage_badge.moc"
