#include "accounts/AccountsHarness.h"
#include "panel/Appearance.h"
#include "panel/EdgeRowLayout.h"
#include "panel/EdgeStripView.h"
#include "panel/PanelPalette.h"
#include "uisupport/RenderHarness.h"

#include <QApplication>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <limits>

namespace {

using testsupport::limitWindow;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

ProviderUsage usageWith(UsageProvider provider, QList<double> percents)
{
    ProviderUsage u = ProviderUsage::placeholder(provider);
    u.isLoading = false;
    int n = 0;
    for (double p : percents)
        u.windows.append(limitWindow(QStringLiteral("w%1").arg(n++), p));
    return u;
}

} // namespace

class EdgeStripTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { Appearance::shared().setForced(Appearance::Forced::None); }

    void segmentFromUsage_data()
    {
        QTest::addColumn<QList<double>>("percents");
        QTest::addColumn<std::optional<double>>("fill");
        QTest::addColumn<bool>("spent");
        QTest::addColumn<std::optional<qreal>>("bar"); // in an 88-pt segment

        using F = std::optional<double>;
        using B = std::optional<qreal>;
        QTest::newRow("no windows") << QList<double> {} << F() << false << B();
        QTest::newRow("zero: a 3-pt bar") << QList<double> {0} << F(0.0) << false << B(3.0);
        QTest::newRow("negative: a 3-pt bar") << QList<double> {-20} << F(0.0) << false << B(3.0);
        QTest::newRow("half") << QList<double> {50, 10} << F(0.5) << false << B(44.0);
        QTest::newRow("just under full") << QList<double> {99.99} << F(0.9999) << false << B(88 * 0.9999);
        QTest::newRow("full") << QList<double> {40, 100} << F(1.0) << true << B(88.0);
        QTest::newRow("over full") << QList<double> {130} << F(1.0) << true << B(88.0);
        QTest::newRow("infinite: no value") << QList<double> {kInf} << F() << false << B();
        QTest::newRow("not a number: no value") << QList<double> {kNaN} << F() << false << B();
        // The highest percent ignores a NaN wherever it stands.
        QTest::newRow("NaN first") << QList<double> {kNaN, 40} << F(0.4) << false << B(88 * 0.4);
        QTest::newRow("NaN last") << QList<double> {40, kNaN} << F(0.4) << false << B(88 * 0.4);
        QTest::newRow("infinity beside a value") << QList<double> {kInf, 100, -kInf} << F(1.0) << true << B(88.0);
    }
    void segmentFromUsage()
    {
        QFETCH(QList<double>, percents);
        QFETCH(std::optional<double>, fill);
        QFETCH(bool, spent);
        QFETCH(std::optional<qreal>, bar);

        const EdgeStripSegment s = EdgeStripSegment::make("p1", usageWith(UsageProvider::copilot, percents));
        QCOMPARE(s.id, QStringLiteral("p1"));
        QCOMPARE(s.provider, UsageProvider::copilot);
        QCOMPARE(s.fill.has_value(), fill.has_value());
        if (fill)
            QVERIFY(qFuzzyCompare(*s.fill, *fill));
        QCOMPARE(s.isSpent, spent);
        const auto h = edgestrip::barHeight(s, 88);
        QCOMPARE(h.has_value(), bar.has_value());
        if (bar)
            QVERIFY(qFuzzyCompare(*h, *bar));
    }

    void segmentEquality()
    {
        const EdgeStripSegment a {"x", UsageProvider::codex, std::nullopt, false};
        QCOMPARE(a, (EdgeStripSegment {"x", UsageProvider::codex, std::nullopt, false}));
        QVERIFY(!(a == EdgeStripSegment {"x", UsageProvider::codex, 0.0, false}));
        QVERIFY(!(a == EdgeStripSegment {"y", UsageProvider::codex, std::nullopt, false}));
        QVERIFY(!(a == EdgeStripSegment {"x", UsageProvider::claude, std::nullopt, false}));
    }

    // Visible profiles in provider order, whatever the list order; each with its own usage.
    void segmentsFollowTheVisibleProfilesInProviderOrder()
    {
        Harness h;
        h.saveList({h.profile(UsageProvider::antigravity, ".gemini/antigravity-cli", "g", true),
                    h.profile(UsageProvider::codex, ".codex", "x", true),
                    h.profile(UsageProvider::copilot, ".copilot", "p", true),
                    h.profile(UsageProvider::claude, ".claude-h", "hidden", false),
                    h.profile(UsageProvider::claude, ".claude", "c", true)});
        h.outcomes.insert("x", [&h](const ProviderProfile&) {
            ProviderUsage u = h.cleanUsage(UsageProvider::codex);
            u.windows = {limitWindow("codex-primary", 120)};
            return Result<ProviderUsage>::success(u);
        });
        UsageAccounts& accounts = h.make();
        QVERIFY(EdgeStripSegment::segments(accounts).size() == 4);
        // Before the first read every usage is a loading placeholder: nothing to show.
        for (const EdgeStripSegment& s : EdgeStripSegment::segments(accounts))
            QVERIFY(!s.fill);

        accounts.start();
        h.settle();
        const QList<EdgeStripSegment> segments = EdgeStripSegment::segments(accounts);
        QCOMPARE(segments, (QList<EdgeStripSegment> {
                               {h.named("c").id(), UsageProvider::claude, 0.1, false},
                               {h.named("x").id(), UsageProvider::codex, 1.0, true},
                               {h.named("p").id(), UsageProvider::copilot, 0.1, false},
                               {h.named("g").id(), UsageProvider::antigravity, 0.1, false},
                           }));
        accounts.setVisible(false, h.named("x").id());
        QCOMPARE(EdgeStripSegment::segments(accounts).size(), 3);
        accounts.stop();
    }

    void hatchLinesFallAt45DegreesAndCoverTheRect()
    {
        const QRectF rect(0, 0, 4, 88);
        const QPainterPath path = edgestrip::diagonalHatch(rect, 3.5);
        const qreal step = 3.5 * std::sqrt(2.0);
        QCOMPARE(path.elementCount(), 2 * int(std::ceil((4 + 88) / step)));
        for (int i = 0; i < path.elementCount(); i += 2) {
            const auto from = path.elementAt(i);
            const auto to = path.elementAt(i + 1);
            QVERIFY(from.isMoveTo() && to.isLineTo());
            QCOMPARE(from.y, 0.0);
            QCOMPARE(to.y, 88.0);
            QCOMPARE(to.x - from.x, 88.0);
            QVERIFY(qFuzzyCompare(from.x, -88 + (i / 2) * step));
        }
        QVERIFY(path.elementAt(path.elementCount() - 2).x < rect.right());
        QVERIFY(edgestrip::diagonalHatch(QRectF(), 3.5).isEmpty());
    }

    // Track, bar and hatch as drawn, light and dark: probes in a 4 x 88 segment at 8x.
    void segmentsAsDrawn_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void segmentsAsDrawn()
    {
        QFETCH(bool, dark);
        Appearance::shared().setForced(dark ? Appearance::Forced::Dark : Appearance::Forced::Light);
        const qreal scale = 8;
        const QColor background = palette::color(PanelColor::panelBackground, dark);

        EdgeStripView strip;
        strip.setSegments({EdgeStripSegment {"a", UsageProvider::claude, std::nullopt, false},
                           EdgeStripSegment {"b", UsageProvider::codex, 0.5, false},
                           EdgeStripSegment {"c", UsageProvider::copilot, 0.0, false},
                           EdgeStripSegment {"d", UsageProvider::antigravity, 1.0, true}});
        const QSize size(4, int(edgerows::neededHeight(4)));
        QCOMPARE(strip.sizeHint(), size);
        // The panel draws the background; the strip only its segments.
        const QImage bare = uitest::render(strip, size, scale);
        QCOMPARE(uitest::countOpaque(bare, QRect(0, 0, bare.width(), int(edgerows::kTopInset * scale) - 1)), 0);
        QImage image(bare.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(background);
        {
            QPainter p(&image);
            p.drawImage(0, 0, bare);
        }
        uitest::save(image, QStringLiteral("edge-strip-%1").arg(dark ? "dark" : "light"));

        auto at = [&](int segment, qreal fromBottom) {
            const QRectF r = edgestrip::segmentRect(segment, 4);
            return uitest::pixel(image, int(2 * scale), int((r.bottom() - fromBottom) * scale));
        };
        auto accent = [&](PanelColor role) { return palette::color(role, dark); };
        auto track = [&](PanelColor role) { return uitest::over(accent(role), background, edgestrip::kTrackOpacity); };

        // No value: the track alone.
        QVERIFY(uitest::near(at(0, 44), track(PanelColor::claudeAccent)));
        QVERIFY(uitest::near(at(0, 1), track(PanelColor::claudeAccent)));
        // Half: the bar to 44 pt, the track above.
        QVERIFY(uitest::near(at(1, 43), accent(PanelColor::codexAccent)));
        QVERIFY(uitest::near(at(1, 45), track(PanelColor::codexAccent)));
        // Zero: a 3-pt bar.
        QVERIFY(uitest::near(at(2, 2.5), accent(PanelColor::copilotAccent)));
        QVERIFY(uitest::near(at(2, 3.5), track(PanelColor::copilotAccent)));
        // Spent: accent crossed by background-coloured hatch lines, inside a 1-pt accent border.
        const QRectF spent = edgestrip::segmentRect(3, 4);
        const QRect middle = QRect(int(1.5 * scale), int((spent.top() + 20) * scale), int(scale), int(40 * scale));
        const QColor hatch = uitest::over(background, accent(PanelColor::antigravityAccent), edgestrip::kHatchOpacity);
        QVERIFY(uitest::countNear(image, middle, hatch, 10) > middle.width() * middle.height() / 8);
        QVERIFY(uitest::countNear(image, middle, accent(PanelColor::antigravityAccent), 10) > middle.width() * middle.height() / 8);
        const int border = uitest::countNear(image, QRect(0, middle.top(), int(scale) - 2, middle.height()),
                                             accent(PanelColor::antigravityAccent), 10);
        QCOMPARE(border, (int(scale) - 2) * middle.height());
        // The capsule's rounded ends stay clear at the corners, antialiased at the edge.
        const QColor corner = uitest::pixel(image, 0, int(spent.top() * scale));
        QVERIFY(uitest::near(corner, background));
        const QColor edge = uitest::pixel(image, int(0.5 * scale), int((spent.top() + 0.4) * scale));
        QVERIFY(!uitest::near(edge, background, 2) || !uitest::near(edge, accent(PanelColor::antigravityAccent), 2));
    }

    // One button over the whole area, gaps and the empty part below the segments included.
    void wholeAreaTogglesThePanel()
    {
        EdgeStripView strip;
        QCOMPARE(strip.accessibleName(), QStringLiteral("Открыть Vantorel"));
        strip.resize(16, 600);
        QSignalSpy clicks(&strip, &QAbstractButton::clicked);
        QTest::mouseClick(&strip, Qt::LeftButton, {}, QPoint(8, 10));
        strip.setSegments({EdgeStripSegment {"a", UsageProvider::claude, 0.2, false}});
        QTest::mouseClick(&strip, Qt::LeftButton, {}, QPoint(2, int(edgerows::kTopInset + 40)));
        QTest::mouseClick(&strip, Qt::LeftButton, {}, QPoint(2, int(edgestrip::segmentRect(1, 4).top()) - 4));
        QTest::mouseClick(&strip, Qt::LeftButton, {}, QPoint(15, 590));
        QCOMPARE(clicks.count(), 4);
    }
};

VANTOREL_UI_TEST_MAIN(EdgeStripTest)
#include "test_edge_strip.moc"
