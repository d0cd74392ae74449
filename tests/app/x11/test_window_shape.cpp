// The panel and its popover on a desktop painted one colour, first with no
// compositing manager (openbox alone), then with xcompmgr, then with none
// again: outside their outlines the desktop shows, never black.

#include "PanelDesktop.h"
#include "panel/PanelPopover.h"
#include "platform/X11Compositor.h"
#include "providers/codex/CodexUsageFixtures.h"
#include "uisupport/RenderHarness.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTest>

using namespace x11test;

namespace {

const QColor kDesktop(0x3c, 0x8a, 0x5a);

QImage grabScreen()
{
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
}

QString describe(const QColor& c)
{
    return c.name(QColor::HexRgb);
}

// A window on the screen and the points of it that lie outside its outline,
// in window coordinates.
struct Sample {
    QString name;
    QWidget* window = nullptr;
    QList<QPoint> outside;
};

// What the desktop shows of `window`, checked against what lies beneath it
// (`beneath`, a grab of the screen without it). Without a compositing manager
// the window is shaped: every pixel outside its shape shows what lies beneath,
// the outline's points among them. With one it is whole and translucent: the
// outline's points show what lies beneath, and every pixel of its antialiased
// edge shows the window's own pixel over it.
void checkShown(const Sample& s, const QImage& beneath, bool composited, QStringList& log)
{
    QWidget& window = *s.window;
    const QPoint origin = window.geometry().topLeft();
    const QImage screen = grabScreen();
    uitest::save(screen.copy(window.geometry().adjusted(-12, -12, 12, 12)),
                 QStringLiteral("shape-%1-%2").arg(s.name, composited ? "composited" : "shaped"));
    for (const QPoint& p : s.outside) {
        const QColor shown = screen.pixelColor(origin + p);
        const QColor under = beneath.pixelColor(origin + p);
        log << QStringLiteral("%1 %2 (%3,%4): %5, beneath %6")
                   .arg(s.name, composited ? "composited" : "shaped")
                   .arg(p.x())
                   .arg(p.y())
                   .arg(describe(shown), describe(under));
        QVERIFY2(uitest::near(shown, under, 2), qPrintable(log.last()));
    }
    if (!composited) {
        const QRegion shape = window.mask();
        QVERIFY2(!shape.isEmpty(), qPrintable(s.name));
        for (const QPoint& p : s.outside)
            QVERIFY(!shape.contains(p));
        int outsideShape = 0;
        for (int y = 0; y < window.height(); ++y)
            for (int x = 0; x < window.width(); ++x) {
                if (shape.contains(QPoint(x, y)))
                    continue;
                ++outsideShape;
                const QPoint at = origin + QPoint(x, y);
                QVERIFY2(uitest::near(screen.pixelColor(at), beneath.pixelColor(at), 2),
                         qPrintable(QStringLiteral("%1 (%2,%3): %4").arg(s.name).arg(x).arg(y).arg(
                             describe(screen.pixelColor(at)))));
            }
        QVERIFY(outsideShape > 0);
        return;
    }
    QVERIFY(window.mask().isEmpty());
    const QImage own = uitest::render(window);
    int edge = 0;
    for (int y = 0; y < own.height(); ++y)
        for (int x = 0; x < own.width(); ++x) {
            const QColor mine = uitest::pixel(own, x, y);
            if (mine.alpha() < 40 || mine.alpha() > 215)
                continue;
            const QPoint at = origin + QPoint(x, y);
            const QColor under = beneath.pixelColor(at);
            const QColor expected = uitest::over(mine, under);
            if (uitest::near(expected, under, 8))
                continue; // a blend that looks like the desktop tells nothing
            ++edge;
            QVERIFY2(uitest::near(screen.pixelColor(at), expected, 4),
                     qPrintable(QStringLiteral("%1 edge (%2,%3): %4, expected %5")
                                    .arg(s.name).arg(x).arg(y)
                                    .arg(describe(screen.pixelColor(at)), describe(expected))));
        }
    log << QStringLiteral("%1 composited: %2 antialiased edge pixels blend with the desktop").arg(s.name).arg(edge);
    QVERIFY2(edge > 0, qPrintable(s.name));
}

// The points just inside the corners of a window of `size`, outside a rounded outline.
QList<QPoint> corners(QSize size, int inset = 1)
{
    return {QPoint(inset, inset), QPoint(size.width() - 1 - inset, inset), QPoint(inset, size.height() - 1 - inset),
            QPoint(size.width() - 1 - inset, size.height() - 1 - inset)};
}

} // namespace

class WindowShapeTest : public QObject {
    Q_OBJECT

    // The application's panel of a Claude Code profile and a spent Codex
    // profile with reset credits, whose card offers the confirmation popover.
    struct Desktop : PanelDesktop {
        Desktop()
        {
            h.outcomes.insert("Codex", [this](const ProviderProfile&) {
                const Timestamp now = h.scheduler.now();
                return Result<ProviderUsage>::success(fixtures::exhaustedCodex("acct", now, now.adding(3600)));
            });
            h.accounts->start();
            h.settle();
        }
        ~Desktop() { h.accounts->stop(); }
        EdgePanelController& panel() const { return onlyPanel(); }
        QWidget& window() const { return panel().panel(); }
    };

    // Shows `mode` and waits until the server has the window there.
    static bool showMode(Desktop& d, EdgePanelMode mode)
    {
        d.panel().setMode(mode);
        QWidget& window = d.window();
        const QRect frame = window.geometry();
        const bool ok = QTest::qWaitFor([&] { return isMapped(window) && placement(window).frame == frame; }, 10000);
        if (!ok)
            qWarning() << "placement" << placement(window).frame << frame << isMapped(window)
                       << xdotool({QStringLiteral("getwindowgeometry"), QString::number(window.winId())});
        return ok;
    }

    // Every presentation with a shape of its own, shown and checked in turn.
    void checkEveryWindow(Desktop& d, bool composited)
    {
        QWidget& window = d.window();
        QStringList& log = m_log;

        QVERIFY(showMode(d, EdgePanelMode::strip));
        QTest::qWait(50); // the server draws what was exposed
        const QSize strip = window.size();
        checkShown({"strip", &window, {QPoint(2, strip.height() / 2), QPoint(8, 20)}}, m_desktop, composited, log);
        if (QTest::currentTestFailed())
            return;

        QVERIFY(showMode(d, EdgePanelMode::rings));
        QTest::qWait(50);
        const QSize rings = window.size();
        // The two concave ears above and below the tab.
        checkShown({"rings", &window, {QPoint(2, 2), QPoint(2, rings.height() - 3)}}, m_desktop, composited, log);
        if (QTest::currentTestFailed())
            return;

        QVERIFY(showMode(d, EdgePanelMode::cards));
        QTest::qWait(50);
        checkShown({"cards", &window, corners(window.size())}, m_desktop, composited, log);
        if (QTest::currentTestFailed())
            return;

        // The confirmation popover, beside the card's reset control.
        const QString profile = d.h.named("Codex").id();
        auto* offer = window.findChild<QAbstractButton*>("reset.card." + profile);
        QVERIFY(offer && offer->isVisible());
        const QImage beneath = grabScreen();
        QTest::mouseClick(offer, Qt::LeftButton);
        QList<PanelPopover*> open;
        QVERIFY(QTest::qWaitFor([&] {
            open = PanelPopover::openPopovers(&window);
            return open.size() == 1 && isMapped(*open.first());
        }, 10000));
        PanelPopover& popover = *open.first();
        QTest::qWait(50);
        const int w = popover.width(), h = popover.height();
        constexpr int kArrow = 8;
        // The body's four corners and the strip beside it above and below the arrow.
        checkShown({"popover", &popover,
                    {QPoint(1, 1), QPoint(w - kArrow - 2, 1), QPoint(1, h - 2), QPoint(w - kArrow - 2, h - 2),
                     QPoint(w - 3, 3), QPoint(w - 3, h - 4)}},
                   beneath, composited, log);
        popover.close();
        QVERIFY(QTest::qWaitFor([&] { return !popover.isVisible(); }, 10000));
    }

    QImage m_desktop;
    QStringList m_log;

private slots:
    void initTestCase()
    {
        QVERIFY(prepare());
        QCOMPARE(run("hsetroot", {"-solid", kDesktop.name()}), QString());
        QVERIFY(QTest::qWaitFor([&] { return grabScreen().pixelColor(700, 450) == kDesktop; }, 10000));
        m_desktop = grabScreen();
    }

    void cleanupTestCase() { qInfo().noquote() << m_log.join('\n'); }

    // The windows take their shape from the start, lose it while xcompmgr
    // runs and take it again once it ended.
    void followsTheCompositor()
    {
        Desktop d;
        d.coordinator->show();
        QWidget& window = d.window();
        QVERIFY(QTest::qWaitFor([&] { return isMapped(window); }, 10000));
        QVERIFY(!X11Compositor::shared().composites(window.winId()));
        checkEveryWindow(d, false);
        if (QTest::currentTestFailed())
            return;

        QProcess compositor;
        compositor.start("xcompmgr", {});
        QVERIFY(compositor.waitForStarted());
        QVERIFY(QTest::qWaitFor([&] { return X11Compositor::shared().composites(window.winId()); }, 10000));
        QVERIFY(QTest::qWaitFor([&] { return window.mask().isEmpty(); }, 10000));
        QTest::qWait(200); // the compositing manager's first frames
        checkEveryWindow(d, true);
        if (QTest::currentTestFailed())
            return;

        compositor.terminate();
        QVERIFY(compositor.waitForFinished(10000));
        QVERIFY(QTest::qWaitFor([&] { return !X11Compositor::shared().composites(window.winId()); }, 10000));
        QVERIFY(QTest::qWaitFor([&] { return !window.mask().isEmpty(); }, 10000));
        checkEveryWindow(d, false);
    }
};

VANTOREL_UI_TEST_MAIN(WindowShapeTest)
#include "test_window_shape.moc"
