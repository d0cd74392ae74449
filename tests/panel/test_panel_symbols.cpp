#include "panel/Appearance.h"
#include "panel/PanelPalette.h"
#include "panel/PanelSymbols.h"
#include "panel/ProviderIcon.h"
#include "uisupport/RenderHarness.h"

#include <QAccessible>
#include <QApplication>
#include <QPainter>
#include <QTest>

namespace {

struct NamedSymbol {
    PanelSymbol symbol;
    const char* name;
};

const NamedSymbol kSymbols[] = {
    {PanelSymbol::arrowClockwise, "arrow.clockwise"},
    {PanelSymbol::arrowCounterclockwise, "arrow.counterclockwise"},
    {PanelSymbol::clockArrowCirclepath, "clock.arrow.circlepath"},
    {PanelSymbol::chevronLeft, "chevron.left"},
    {PanelSymbol::chevronRight, "chevron.right"},
    {PanelSymbol::chevronDown, "chevron.down"},
    {PanelSymbol::clock, "clock"},
    {PanelSymbol::infinity, "infinity"},
    {PanelSymbol::exclamationmarkCircle, "exclamationmark.circle"},
    {PanelSymbol::exclamationmarkTriangle, "exclamationmark.triangle"},
    {PanelSymbol::gearshape, "gearshape"},
    {PanelSymbol::personCropCircleBadgePlus, "person.crop.circle.badge.plus"},
    {PanelSymbol::personCropCircleBadgeCheckmark, "person.crop.circle.badge.checkmark"},
    {PanelSymbol::folderBadgePlus, "folder.badge.plus"},
};

constexpr int kSide = 48;

QImage symbolImage(PanelSymbol symbol, QFont::Weight weight = QFont::Normal, const QColor& colour = Qt::black)
{
    return uitest::renderPainting({kSide, kSide}, [&](QPainter& p) {
        panelsymbols::paint(p, symbol, QRectF(0, 0, kSide, kSide), colour, weight);
    });
}

QImage mirrored(const QImage& image) { return image.mirrored(true, false); }

// Pixels whose coverage differs clearly between two renderings.
int differing(const QImage& a, const QImage& b)
{
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            n += std::abs(qAlpha(a.pixel(x, y)) - qAlpha(b.pixel(x, y))) > 128;
    return n;
}

QImage iconImage(UsageProvider provider, qreal size, bool dark, QSize canvas = {40, 40})
{
    return uitest::renderPainting(canvas, [&](QPainter& p) {
        ProviderIcon::paint(p, QRectF(QPointF(0, 0), QSizeF(canvas)), provider, size, dark);
    });
}

QRect opaqueBounds(const QImage& image)
{
    QRect r;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 60)
                r = r.united(QRect(x, y, 1, 1));
    return r;
}

} // namespace

class PanelSymbolsTest : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { Appearance::shared().setForced(Appearance::Forced::None); }

    // Each symbol fills a fair part of its square, stays inside it, follows its rect and
    // differs from every other symbol.
    void everySymbolIsItsOwnShape()
    {
        QList<QImage> images;
        for (const NamedSymbol& s : kSymbols) {
            const QImage image = symbolImage(s.symbol);
            const int ink = uitest::countOpaque(image, image.rect(), 60);
            QVERIFY2(ink > kSide * kSide / 25 && ink < kSide * kSide * 2 / 3, s.name);
            const QRectF bounds = panelsymbols::path(s.symbol, QRectF(0, 0, kSide, kSide)).boundingRect();
            QVERIFY2(QRectF(-0.5, -0.5, kSide + 1, kSide + 1).contains(bounds), s.name);
            // Moved and scaled with its rect, kept square in a wide one.
            const QRectF moved = panelsymbols::path(s.symbol, QRectF(100, 10, 2 * kSide, kSide)).boundingRect();
            QVERIFY2(std::abs(moved.center().x() - (100 + kSide)) < 0.5 + bounds.width() / 2
                         && std::abs(moved.width() - bounds.width()) < 0.5,
                     s.name);
            for (qsizetype i = 0; i < images.size(); ++i)
                QVERIFY2(differing(images.at(i), image) > 20,
                         qPrintable(QString::fromLatin1(s.name) + QStringLiteral(" looks like ") + QString::fromLatin1(kSymbols[i].name)));
            images.append(image);
        }
    }

    // The clockwise and counter-clockwise arrows, and the two chevrons, are mirror images.
    void mirroredPairs()
    {
        QCOMPARE(differing(mirrored(symbolImage(PanelSymbol::arrowClockwise)), symbolImage(PanelSymbol::arrowCounterclockwise)), 0);
        QCOMPARE(differing(mirrored(symbolImage(PanelSymbol::chevronLeft)), symbolImage(PanelSymbol::chevronRight)), 0);
        // The clockwise arrow's head sits on top, right of the centre line, pointing into the gap.
        const QImage cw = symbolImage(PanelSymbol::arrowClockwise);
        QVERIFY(uitest::countOpaque(cw, QRect(26, 0, 10, 10), 60) > uitest::countOpaque(cw, QRect(12, 0, 10, 10), 60));
        // The gap: the upper right between 12 and 2 o'clock is empty.
        QCOMPARE(uitest::countOpaque(cw, QRect(38, 10, 4, 4), 60), 0);
    }

    // A heavier weight draws thicker strokes.
    void weightThickens()
    {
        for (const NamedSymbol& s : kSymbols) {
            const int regular = uitest::countOpaque(symbolImage(s.symbol, QFont::Normal), QRect(0, 0, kSide, kSide), 60);
            const int bold = uitest::countOpaque(symbolImage(s.symbol, QFont::Bold), QRect(0, 0, kSide, kSide), 60);
            QVERIFY2(bold > regular, s.name);
        }
    }

    // Badged symbols keep a clear ring round the badge and a knocked-out glyph in it.
    void badgesAreCutOut()
    {
        for (PanelSymbol symbol : {PanelSymbol::personCropCircleBadgePlus, PanelSymbol::personCropCircleBadgeCheckmark,
                                   PanelSymbol::folderBadgePlus}) {
            const QPainterPath path = panelsymbols::path(symbol, QRectF(0, 0, 100, 100));
            const QPointF badgeCentre = symbol == PanelSymbol::folderBadgePlus ? QPointF(80, 78) : QPointF(79, 79);
            QVERIFY(!path.contains(badgeCentre));                       // the glyph is cut from the disk
            QVERIFY(path.contains(badgeCentre + QPointF(14, -10)));      // the disk
            QVERIFY(!path.contains(badgeCentre + QPointF(-23.5, -2)));   // the clear ring round it
        }
    }

    void gallery()
    {
        if (qEnvironmentVariableIsEmpty("VANTOREL_RENDER_DIR"))
            QSKIP("pictures only when VANTOREL_RENDER_DIR is set");
        for (bool dark : {false, true}) {
            const int n = int(std::size(kSymbols));
            const QImage sheet = uitest::renderPainting({n * 24, 80}, [&](QPainter& p) {
                p.fillRect(QRect(0, 0, n * 24, 80), palette::color(PanelColor::panelBackground, dark));
                const QColor ink = palette::color(PanelColor::panelForeground, dark);
                for (int i = 0; i < n; ++i) {
                    panelsymbols::paint(p, kSymbols[i].symbol, QRectF(i * 24 + 4, 4, 16, 16), ink);
                    panelsymbols::paint(p, kSymbols[i].symbol, QRectF(i * 24 + 5.5, 28, 13, 13), ink, QFont::Bold);
                }
                for (int i = 0; i < 4; ++i)
                    ProviderIcon::paint(p, QRectF(i * 40 + 6, 48, 30, 30), kAllUsageProviders[i], 22, dark);
            }, 4);
            uitest::save(sheet, QStringLiteral("symbols-") + (dark ? "dark" : "light"));
        }
    }

    // The mark fits a square of `size`; Antigravity's is 1.35 times as wide.
    void iconFrame_data()
    {
        QTest::addColumn<int>("provider");
        QTest::addColumn<double>("size");
        QTest::addColumn<double>("side");
        QTest::newRow("codex 18") << int(UsageProvider::codex) << 18.0 << 18.0;
        QTest::newRow("claude 22") << int(UsageProvider::claude) << 22.0 << 22.0;
        QTest::newRow("copilot 18") << int(UsageProvider::copilot) << 18.0 << 18.0;
        QTest::newRow("antigravity 18") << int(UsageProvider::antigravity) << 18.0 << 24.3;
        QTest::newRow("antigravity 22") << int(UsageProvider::antigravity) << 22.0 << 29.7;
    }
    void iconFrame()
    {
        QFETCH(int, provider);
        QFETCH(double, size);
        QFETCH(double, side);
        const UsageProvider p = UsageProvider(provider);
        QVERIFY(qFuzzyCompare(ProviderIcon::frameSide(p, size), side));
        QCOMPARE(ProviderIcon::frame(p, size, {50, 50}), QRectF(50 - side / 2, 50 - side / 2, side, side));
        // Drawn, the mark spans most of that square and never leaves it.
        const QImage image = iconImage(p, size, false, {60, 60});
        const QRect bounds = opaqueBounds(image);
        const QRectF square = ProviderIcon::frame(p, size, {30, 30}).adjusted(-1, -1, 1, 1);
        QVERIFY2(square.contains(QRectF(bounds)), qPrintable(QStringLiteral("%1,%2 %3x%4").arg(bounds.x()).arg(bounds.y()).arg(bounds.width()).arg(bounds.height())));
        QVERIFY(std::max(bounds.width(), bounds.height()) >= side * 0.75);
        ProviderIcon icon(p, size);
        QCOMPARE(icon.sizeHint(), QSize(int(std::ceil(side)), int(std::ceil(side))));
    }

    // The mark takes the panel foreground of the appearance; the four marks differ.
    void iconColourAndShapes()
    {
        QList<QImage> marks;
        for (UsageProvider p : kAllUsageProviders) {
            for (bool dark : {false, true}) {
                const QImage image = iconImage(p, 22, dark);
                const QColor ink = palette::color(PanelColor::panelForeground, dark);
                QVERIFY2(uitest::countNear(image, image.rect(), ink, 2) > 40, qPrintable(rawValue(p)));
                QCOMPARE(uitest::countNear(image, image.rect(), palette::color(PanelColor::panelForeground, !dark), 2), 0);
                if (!dark)
                    marks.append(image);
            }
        }
        for (int i = 0; i < marks.size(); ++i)
            for (int j = i + 1; j < marks.size(); ++j)
                QVERIFY(differing(marks.at(i), marks.at(j)) > 40);

        ProviderIcon widget(UsageProvider::claude, 22);
        Appearance::shared().setForced(Appearance::Forced::Dark);
        const QImage dark = uitest::render(widget, {22, 22});
        QVERIFY(uitest::countNear(dark, dark.rect(), palette::color(PanelColor::panelForeground, true), 2) > 40);
    }

    void iconIsHiddenFromAccessibility()
    {
        ProviderIcon icon(UsageProvider::codex, 18);
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&icon);
        QVERIFY(iface && iface->state().invisible);
        QVERIFY(iface->text(QAccessible::Name).isEmpty());
    }
};

VANTOREL_UI_TEST_MAIN(PanelSymbolsTest)
#include "test_panel_symbols.moc"
