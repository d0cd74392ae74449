#include "ProviderIcon.h"

#include "Appearance.h"
#include "PanelAccessibility.h"
#include "PanelPalette.h"
#include "PanelSymbols.h"

#include <QPainter>
#include <QTransform>

#include <cmath>

namespace {

constexpr qreal kPi = 3.14159265358979323846;
constexpr qreal kAntigravityWidening = 1.35;
// Marks are designed on a unit square but built on a square this many times larger,
// so joining their parts flattens no curve at a coarse scale.
constexpr qreal kGrid = 1000;

QPainterPath disk(qreal cx, qreal cy, qreal r)
{
    QPainterPath p;
    p.addEllipse(QPointF(cx, cy) * kGrid, r * kGrid, r * kGrid);
    return p;
}

// The outline of a unit-square centreline, on the grid.
QPainterPath stroked(const QPainterPath& centreline, qreal width)
{
    return panelsymbols::outline(QTransform::fromScale(kGrid, kGrid).map(centreline), width * kGrid);
}

QPointF polar(qreal radius, qreal degrees)
{
    const qreal a = degrees * kPi / 180.0;
    return {0.5 + radius * std::cos(a), 0.5 + radius * std::sin(a)};
}

// Each mark on the grid, y down, with its strokes already outlined.

// A hexagon ring around a prompt chevron.
QPainterPath codexMark()
{
    QPainterPath hexagon;
    for (int i = 0; i < 6; ++i) {
        const QPointF p = polar(0.42, 30 + i * 60);
        i == 0 ? hexagon.moveTo(p) : hexagon.lineTo(p);
    }
    hexagon.closeSubpath();
    QPainterPath prompt;
    prompt.moveTo(0.40, 0.37);
    prompt.lineTo(0.54, 0.5);
    prompt.lineTo(0.40, 0.63);
    return stroked(hexagon, 0.12).united(stroked(prompt, 0.11));
}

// A spark of eight rays, long and short by turns.
QPainterPath claudeMark()
{
    QPainterPath rays;
    for (int i = 0; i < 8; ++i) {
        const qreal angle = -90 + i * 45;
        rays.moveTo(polar(0.1, angle));
        rays.lineTo(polar(i % 2 == 0 ? 0.44 : 0.34, angle));
    }
    return stroked(rays, 0.13).united(disk(0.5, 0.5, 0.12));
}

// A rounded visor with two eyes.
QPainterPath copilotMark()
{
    QPainterPath head;
    head.addRoundedRect(QRectF(0.1, 0.22, 0.8, 0.6), 0.22, 0.22);
    return stroked(head, 0.11).united(disk(0.36, 0.52, 0.085)).united(disk(0.64, 0.52, 0.085));
}

// An arch over a floating dot.
QPainterPath antigravityMark()
{
    QPainterPath arch;
    arch.moveTo(0.1, 0.84);
    arch.lineTo(0.1, 0.56);
    arch.arcTo(QRectF(0.1, 0.16, 0.8, 0.8), 180, -180);
    arch.lineTo(0.9, 0.84);
    return stroked(arch, 0.14).united(disk(0.5, 0.62, 0.1));
}

// The marks' shapes are built once; only their placement changes.
const QPainterPath& unitMark(UsageProvider provider)
{
    static const QPainterPath marks[] = {codexMark(), claudeMark(), copilotMark(), antigravityMark()};
    static_assert(int(UsageProvider::codex) == 0 && int(UsageProvider::antigravity) == 3);
    return marks[int(provider)];
}

} // namespace

ProviderIcon::ProviderIcon(UsageProvider provider, qreal size, QWidget* parent)
    : QWidget(parent), m_provider(provider), m_size(size)
{
    setAttribute(Qt::WA_TranslucentBackground);
    panelaccess::hide(this);
    connect(&Appearance::shared(), &Appearance::changed, this, qOverload<>(&QWidget::update));
}

void ProviderIcon::setProvider(UsageProvider provider)
{
    if (provider == m_provider)
        return;
    m_provider = provider;
    updateGeometry();
    update();
}

void ProviderIcon::setIconSize(qreal size)
{
    if (size == m_size)
        return;
    m_size = size;
    updateGeometry();
    update();
}

QSize ProviderIcon::sizeHint() const
{
    const int side = int(std::ceil(frameSide(m_provider, m_size)));
    return {side, side};
}

qreal ProviderIcon::frameSide(UsageProvider provider, qreal size)
{
    return provider == UsageProvider::antigravity ? size * kAntigravityWidening : size;
}

QRectF ProviderIcon::frame(UsageProvider provider, qreal size, QPointF centre)
{
    const qreal side = frameSide(provider, size);
    return {centre.x() - side / 2, centre.y() - side / 2, side, side};
}

QPainterPath ProviderIcon::mark(UsageProvider provider, const QRectF& square)
{
    const qreal side = std::min(square.width(), square.height());
    QTransform map;
    map.translate(square.center().x() - side / 2, square.center().y() - side / 2);
    map.scale(side / kGrid, side / kGrid);
    return map.map(unitMark(provider));
}

void ProviderIcon::paint(QPainter& painter, const QRectF& view, UsageProvider provider, qreal size, bool dark)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette::color(PanelColor::panelForeground, dark));
    painter.drawPath(mark(provider, frame(provider, size, view.center())));
    painter.restore();
}

void ProviderIcon::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paint(painter, QRectF(rect()), m_provider, m_size, Appearance::shared().isDark());
}
