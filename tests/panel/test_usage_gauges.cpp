#include "panel/Appearance.h"
#include "panel/Motion.h"
#include "panel/PanelPalette.h"
#include "panel/UsageGauge.h"
#include "panel/UsageProgressBar.h"
#include "panel/UsageRing.h"
#include "uisupport/RenderHarness.h"

#include <QAccessible>
#include <QApplication>
#include <QPainter>
#include <QTest>

#include <cmath>
#include <limits>

Q_DECLARE_METATYPE(std::optional<double>)

namespace {

using Opt = std::optional<double>;
constexpr double kPi = 3.14159265358979323846;
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// A pure accent that no palette grey can be mistaken for.
const QColor kAccent(0x1E, 0x90, 0xFF);

// The ring of diameter 40 and line width 4, centred on a 60 x 60 canvas.
constexpr int kCanvas = 60;
constexpr qreal kRadius = 20;
constexpr qreal kLine = 4;

QImage ring(Opt progress, bool dark, Opt shown = std::nullopt)
{
    return uitest::renderPainting({kCanvas, kCanvas}, [&](QPainter& p) {
        UsageRing::paint(p, QRectF(10, 10, 40, 40), progress, kAccent, kLine, dark, shown);
    });
}

// The pixel on the ring's outline `fraction` of a turn clockwise from 12 o'clock.
QPoint onRing(double fraction, qreal radius = kRadius)
{
    const double a = 2 * kPi * fraction;
    return {int(std::floor(30 + radius * std::sin(a))), int(std::floor(30 - radius * std::cos(a)))};
}

QColor at(const QImage& image, QPoint p) { return uitest::pixel(image, p.x(), p.y()); }

QColor withAlpha(QColor c, qreal a)
{
    c.setAlphaF(float(c.alphaF() * a));
    return c;
}

// Runs of opaque pixels met walking once round the outline: a dotted stroke has many, a solid one one.
int runsAround(const QImage& image, qreal radius = kRadius)
{
    int runs = 0;
    bool inside = false;
    constexpr int kSteps = 720;
    bool first = false;
    for (int i = 0; i < kSteps; ++i) {
        const QPoint p = onRing(double(i) / kSteps, radius);
        const bool opaque = qAlpha(image.pixel(p)) > 40;
        if (i == 0)
            first = opaque;
        if (opaque && !inside)
            ++runs;
        inside = opaque;
    }
    if (first && inside && runs > 1)
        --runs; // the run that crosses 12 o'clock was counted twice
    return runs;
}

// Every look of both gauges on the panel background, four times enlarged, for the eye.
void saveSheet(bool dark)
{
    if (qEnvironmentVariableIsEmpty("VANTOREL_RENDER_DIR"))
        return;
    const QList<Opt> values {Opt(), Opt(0.0), Opt(0.0001), Opt(0.25), Opt(0.6), Opt(1.7)};
    const QImage sheet = uitest::renderPainting({int(values.size()) * 60, 80}, [&](QPainter& p) {
        p.fillRect(QRect(0, 0, int(values.size()) * 60, 80), palette::color(PanelColor::panelBackground, dark));
        for (qsizetype i = 0; i < values.size(); ++i) {
            UsageRing::paint(p, QRectF(i * 60 + 10, 10, 40, 40), values.at(i), kAccent, kLine, dark);
            UsageProgressBar::paint(p, QRectF(i * 60 + 5, 62, 50, UsageProgressBar::kHeight), values.at(i), kAccent, dark);
        }
    }, 4);
    uitest::save(sheet, QStringLiteral("gauges-sheet-") + (dark ? "dark" : "light"));
}

QImage bar(Opt progress, bool dark, qreal width = 100, Opt shown = std::nullopt)
{
    return uitest::renderPainting({int(std::ceil(width)) + 2, 9}, [&](QPainter& p) {
        UsageProgressBar::paint(p, QRectF(1, 1, width, UsageProgressBar::kHeight), progress, kAccent, dark, shown);
    });
}

} // namespace

class UsageGaugesTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        motion::setReduceMotion(false);
        Appearance::shared().setForced(Appearance::Forced::None);
    }

    void readingRule_data()
    {
        QTest::addColumn<Opt>("progress");
        QTest::addColumn<int>("look");
        QTest::addColumn<Opt>("fraction");
        QTest::newRow("absent") << Opt() << int(gauge::Look::none) << Opt();
        QTest::newRow("NaN") << Opt(kNaN) << int(gauge::Look::none) << Opt();
        QTest::newRow("+inf") << Opt(kInf) << int(gauge::Look::none) << Opt();
        QTest::newRow("-inf") << Opt(-kInf) << int(gauge::Look::none) << Opt();
        QTest::newRow("zero") << Opt(0.0) << int(gauge::Look::untouched) << Opt(0.0);
        QTest::newRow("negative") << Opt(-0.3) << int(gauge::Look::untouched) << Opt(0.0);
        QTest::newRow("sliver") << Opt(0.0001) << int(gauge::Look::inUse) << Opt(0.0001);
        QTest::newRow("half") << Opt(0.5) << int(gauge::Look::inUse) << Opt(0.5);
        QTest::newRow("over full clamps") << Opt(1.7) << int(gauge::Look::inUse) << Opt(1.0);
        QTest::newRow("huge clamps") << Opt(1e300) << int(gauge::Look::inUse) << Opt(1.0);
    }
    void readingRule()
    {
        QFETCH(Opt, progress);
        QFETCH(int, look);
        QFETCH(Opt, fraction);
        const gauge::Reading r = gauge::read(progress);
        QCOMPARE(int(r.look), look);
        QCOMPARE(r.fraction, fraction);
    }

    void ringWithoutFigureDrawsNothing_data()
    {
        QTest::addColumn<Opt>("progress");
        QTest::newRow("absent") << Opt();
        QTest::newRow("NaN") << Opt(kNaN);
        QTest::newRow("+inf") << Opt(kInf);
        QTest::newRow("-inf") << Opt(-kInf);
    }
    void ringWithoutFigureDrawsNothing()
    {
        QFETCH(Opt, progress);
        QCOMPARE(uitest::countOpaque(ring(progress, false), QRect(0, 0, kCanvas, kCanvas)), 0);
        QCOMPARE(uitest::countOpaque(bar(progress, false), QRect(0, 0, 102, 9)), 0);
    }

    // Untouched: a dotted circle of width 2 in the placeholder grey, whatever the line width; no arc.
    void ringUntouchedIsDotted_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<double>("progress");
        QTest::newRow("light, 0") << false << 0.0;
        QTest::newRow("dark, negative") << true << -0.4;
    }
    void ringUntouchedIsDotted()
    {
        QFETCH(bool, dark);
        QFETCH(double, progress);
        const QImage image = ring(progress, dark);
        uitest::save(image, QStringLiteral("ring-untouched-%1").arg(dark ? "dark" : "light"));
        const int runs = runsAround(image);
        // 1 point on and 4 off, with round caps, round a circle of 2 pi 20: about 25 dots.
        QVERIFY2(runs >= 20 && runs <= 30, qPrintable(QString::number(runs)));
        QCOMPARE(uitest::countNear(image, QRect(0, 0, kCanvas, kCanvas), kAccent, 40), 0);
        // Width 2, not 4: nothing two points off the outline.
        QCOMPARE(uitest::countOpaque(image, QRect(29, 10 + 3, 3, 3), 10), 0);
        // The darkest dot pixel is the placeholder grey.
        const QColor grey = palette::color(PanelColor::gaugePlaceholder, dark);
        int best = 0;
        for (int x = 0; x < kCanvas; ++x)
            for (int y = 0; y < 15; ++y)
                best = std::max(best, qAlpha(image.pixel(x, y)));
        QVERIFY2(std::abs(best - grey.alpha()) <= 6, qPrintable(QString::number(best)));
    }

    // In use: track all round, the arc from 12 o'clock clockwise, its gradient pale at the start.
    void ringInUseArc_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void ringInUseArc()
    {
        QFETCH(bool, dark);
        saveSheet(dark);
        const QColor track = palette::color(PanelColor::ringTrack, dark);
        const QImage quarter = ring(0.25, dark);
        uitest::save(quarter, QStringLiteral("ring-quarter-%1").arg(dark ? "dark" : "light"));
        // An eighth of a turn lies on the arc: accent at 0.45 + 0.55 * 0.25 over the track.
        QVERIFY2(uitest::near(at(quarter, onRing(0.125)), uitest::over(withAlpha(kAccent, 0.5875), track), 10),
                 qPrintable(at(quarter, onRing(0.125)).name(QColor::HexArgb)));
        // Counter-clockwise from 12 o'clock, and at 6 o'clock: only the track.
        for (double f : {0.875, 0.5, 0.625})
            QVERIFY2(uitest::near(at(quarter, onRing(f)), track, 4), qPrintable(QString::number(f)));
        QCOMPARE(uitest::countOpaque(quarter, QRect(25, 25, 10, 10)), 0);

        // A full ring: 0.725 of the accent at 3 o'clock, 0.91 at 9 o'clock, full at 6 o'clock.
        const QImage full = ring(1.7, dark);
        uitest::save(full, QStringLiteral("ring-full-%1").arg(dark ? "dark" : "light"));
        QVERIFY(uitest::near(at(full, onRing(0.25)), uitest::over(withAlpha(kAccent, 0.725), track), 10));
        QVERIFY(uitest::near(at(full, onRing(0.5)), uitest::over(kAccent, track), 10));
        QVERIFY(uitest::near(at(full, onRing(0.75)), uitest::over(withAlpha(kAccent, 0.91), track), 10));
        // Closed: nowhere round the outline is there a gap.
        QCOMPARE(runsAround(full), 1);
    }

    // A sliver still shows its round cap at 12 o'clock.
    void ringSliverAtTwelve()
    {
        const QImage image = ring(0.0001, false);
        const QColor top = at(image, onRing(0));
        const QColor trackOnly = palette::color(PanelColor::ringTrack, false);
        QVERIFY2(!uitest::near(top, trackOnly, 10) && top.blue() > top.red() + 40, qPrintable(top.name(QColor::HexArgb)));
        QVERIFY(uitest::near(at(image, onRing(0.25)), trackOnly, 4));
    }

    void barLooks_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void barLooks()
    {
        QFETCH(bool, dark);
        const QColor track = palette::color(PanelColor::barTrack, dark);
        const QColor grey = palette::color(PanelColor::gaugePlaceholder, dark);
        const QString suffix = dark ? QStringLiteral("dark") : QStringLiteral("light");

        const QImage half = bar(0.5, dark);
        uitest::save(half, QStringLiteral("bar-half-") + suffix);
        // The fill runs from the leading edge (0.76 of the accent) to its own end (the accent); then the track.
        QVERIFY(uitest::near(uitest::pixel(half, 1 + 25, 4), uitest::over(withAlpha(kAccent, 0.88), track), 10));
        QVERIFY(uitest::near(uitest::pixel(half, 1 + 47, 4), uitest::over(withAlpha(kAccent, 0.99), track), 12));
        QVERIFY(uitest::near(uitest::pixel(half, 1 + 75, 4), track, 4));
        QCOMPARE(uitest::countOpaque(half, QRect(0, 0, 102, 1)), 0); // 7 high, no more

        const QImage full = bar(1.7, dark);
        QVERIFY(uitest::near(uitest::pixel(full, 1 + 96, 4), uitest::over(kAccent, track), 12));

        const QImage untouched = bar(0.0, dark);
        uitest::save(untouched, QStringLiteral("bar-untouched-") + suffix);
        int runs = 0;
        bool inside = false;
        for (int x = 0; x < 102; ++x) {
            const bool opaque = qAlpha(untouched.pixel(x, 4)) > 40;
            runs += opaque && !inside;
            inside = opaque;
        }
        // From x = 1 to 99 in 5-point steps: 20 dots.
        QVERIFY2(runs >= 18 && runs <= 21, qPrintable(QString::number(runs)));
        QCOMPARE(uitest::countNear(untouched, QRect(0, 0, 102, 9), kAccent, 40), 0);
        int best = 0;
        for (int x = 0; x < 102; ++x)
            best = std::max(best, qAlpha(untouched.pixel(x, 4)));
        QVERIFY(std::abs(best - grey.alpha()) <= 6);
        QCOMPARE(uitest::countOpaque(untouched, QRect(0, 0, 102, 2), 10), 0); // width 2 about the middle

        const QImage sliver = bar(0.0001, dark);
        QVERIFY(uitest::near(uitest::pixel(sliver, 1 + 50, 4), track, 4));

        // Too narrow for a line: what is drawn stays at x = 1.
        const QImage narrow = bar(0.0, dark, 1.5);
        QCOMPARE(uitest::countOpaque(narrow, QRect(4, 0, 10, 9)), 0);
    }

    void barKeepsItsHeight()
    {
        UsageProgressBar bar;
        QCOMPARE(bar.sizeHint().height(), 7);
        QCOMPARE(bar.minimumSizeHint().height(), 7);
        QCOMPARE(bar.sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
        QCOMPARE(uitest::countOpaque(uitest::render(bar, {120, 7}), QRect(0, 0, 120, 7)), 0);
    }

    // The widgets resolve the three greys at paint time; the accent stays as given.
    void widgetsFollowTheAppearance()
    {
        UsageRing ring;
        ring.setAccent({kAccent, kAccent});
        ring.setLineWidth(4);
        ring.setProgress(0.25);
        UsageProgressBar bar;
        bar.setAccent({kAccent, kAccent});
        bar.setProgress(0.5);
        for (bool dark : {false, true}) {
            Appearance::shared().setForced(dark ? Appearance::Forced::Dark : Appearance::Forced::Light);
            const QImage r = uitest::render(ring, {44, 44});
            const QImage b = uitest::render(bar, {100, 7});
            const QColor ringTrack = palette::color(PanelColor::ringTrack, dark);
            // The widget ring is inscribed with its stroke inside: radius 20 about (22, 22).
            QVERIFY(uitest::near(uitest::pixel(r, 22, 42), ringTrack, 4));
            QVERIFY(uitest::near(uitest::pixel(b, 75, 3), palette::color(PanelColor::barTrack, dark), 4));
            QVERIFY(uitest::near(uitest::pixel(b, 25, 3),
                                 uitest::over(withAlpha(kAccent, 0.88), palette::color(PanelColor::barTrack, dark)), 10));
        }
    }

    void gaugesAreHiddenFromAccessibility()
    {
        UsageRing ring;
        UsageProgressBar bar;
        for (QWidget* w : {static_cast<QWidget*>(&ring), static_cast<QWidget*>(&bar)}) {
            QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
            QVERIFY(iface);
            QVERIFY(iface->state().invisible);
            QCOMPARE(iface->role(), QAccessible::NoRole);
            QVERIFY(iface->text(QAccessible::Name).isEmpty());
        }
    }

    // A change of the clamped fraction glides without overshoot; under Reduce Motion,
    // and from or to "no figure", it jumps.
    void motion_data()
    {
        QTest::addColumn<Opt>("from");
        QTest::addColumn<Opt>("to");
        QTest::addColumn<bool>("reduce");
        QTest::addColumn<bool>("glides");
        QTest::newRow("0.2 to 0.8 glides") << Opt(0.2) << Opt(0.8) << false << true;
        QTest::newRow("0.8 down to 0.2 glides") << Opt(0.8) << Opt(0.2) << false << true;
        QTest::newRow("untouched to in use grows from 0") << Opt(0.0) << Opt(0.6) << false << true;
        QTest::newRow("reduce motion jumps") << Opt(0.2) << Opt(0.8) << true << false;
        QTest::newRow("from no figure jumps") << Opt() << Opt(0.8) << false << false;
        QTest::newRow("from NaN jumps") << Opt(kNaN) << Opt(0.8) << false << false;
        QTest::newRow("to no figure at once") << Opt(0.4) << Opt() << false << false;
        QTest::newRow("same clamped value: nothing moves") << Opt(1.3) << Opt(1.7) << false << false;
        QTest::newRow("negative to zero: nothing moves") << Opt(-0.5) << Opt(0.0) << false << false;
    }
    void motion()
    {
        QFETCH(Opt, from);
        QFETCH(Opt, to);
        QFETCH(bool, reduce);
        QFETCH(bool, glides);
        motion::setReduceMotion(reduce);
        UsageRing ring;
        UsageProgressBar bar;
        ring.setProgress(from);
        bar.setProgress(from);
        QVERIFY(!ring.motion().isMoving() && !bar.motion().isMoving());
        ring.setProgress(to);
        bar.setProgress(to);
        const Opt target = gauge::read(to).fraction;
        for (GaugeMotion* m : {&ring.motion(), &bar.motion()}) {
            QCOMPARE(m->isMoving(), glides);
            if (!glides) {
                QCOMPARE(m->current(), target);
                continue;
            }
            QVariantAnimation& anim = m->animation();
            const double start = *gauge::read(from).fraction;
            QCOMPARE(*m->current(), start);
            QCOMPARE(anim.duration(), int(std::lround(motion::springSettleTime(motion::kGaugeResponse) * 1000)));
            double previous = start;
            const double direction = *target > start ? 1 : -1;
            for (int step = 1; step <= 20; ++step) {
                anim.setCurrentTime(anim.duration() * step / 20);
                const double now = *m->current();
                QVERIFY((now - previous) * direction >= -1e-9);
                QVERIFY((now - *target) * direction <= 1e-9); // never past the target
                previous = now;
            }
            QCOMPARE(*m->current(), *target);
        }
    }

    // The widget draws where the glide stands, not the target.
    void ringDrawsTheGlide()
    {
        UsageRing ring;
        ring.setAccent({kAccent, kAccent});
        ring.setLineWidth(4);
        ring.setProgress(0.2);
        ring.setProgress(0.8);
        ring.motion().animation().setCurrentTime(0);
        // Radius 20 about (22, 22) in the 44-point widget; 0.5 of a turn is 6 o'clock.
        const QColor track = palette::color(PanelColor::ringTrack, Appearance::shared().isDark());
        QVERIFY(uitest::near(uitest::pixel(uitest::render(ring, {44, 44}), 22, 42), track, 4));
        ring.motion().animation().setCurrentTime(ring.motion().animation().duration());
        QVERIFY(!uitest::near(uitest::pixel(uitest::render(ring, {44, 44}), 22, 42), track, 10));
    }
};

VANTOREL_UI_TEST_MAIN(UsageGaugesTest)
#include "test_usage_gauges.moc"
