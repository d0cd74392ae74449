#include "ProviderUsageBadge.h"

#include "Appearance.h"
#include "PanelAccessibility.h"
#include "ProviderIcon.h"
#include "UsageFormat.h"
#include "UsageGauge.h"
#include "UsageRing.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

double clampedShare(double usedPercent)
{
    if (std::isnan(usedPercent))
        return usedPercent;
    return std::min(std::max(usedPercent / 100.0, 0.0), 1.0);
}

} // namespace

ProviderUsageBadge::ProviderUsageBadge(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    // Before anything creates the element, so it is the one that carries the value.
    panelaccess::setValue(this, QString());
    connect(&Appearance::shared(), &Appearance::changed, this, qOverload<>(&QWidget::update));
    setUsage(ProviderUsage::placeholder(UsageProvider::codex));
}

ProviderUsageBadge::~ProviderUsageBadge() = default;

BadgeLayout ProviderUsageBadge::layout(const ProviderUsage& usage, const ProviderLimitRing::ResetFormatter& resetText)
{
    BadgeLayout out;
    out.provider = usage.provider;
    const bool large = usage.provider == UsageProvider::claude || usage.windows.size() >= 2;
    out.side = large ? 52 : 44;
    out.iconSize = large ? 18 : 22;
    for (const ProviderLimitRing& ring : ProviderLimitRing::rings(usage)) {
        const qreal step = 23.0 / std::max(ring.count - 1, 1);
        BadgeRing r;
        r.id = ring.id();
        r.progress = clampedShare(ring.window.usedPercent);
        r.accent = palette::usageColor(ring.window.usedPercent);
        r.lineWidth = ring.count == 1 ? 4.0 : std::min(0.6 * step, 3.0);
        r.diameter = ring.count == 1 ? 40.0 : 49.0 - ring.position * std::min(step, 10.0);
        out.rings.append(r);
    }
    out.accessibleName = QStringLiteral("Лимиты ") + usageformat::shortName(usage.provider);
    out.summary = ProviderLimitRing::accessibilitySummary(usage, resetText);
    return out;
}

void ProviderUsageBadge::paint(QPainter& painter, const QRectF& view, const BadgeLayout& layout, bool dark,
                               const QHash<QString, double>& shown)
{
    const QPointF centre = view.center();
    for (const BadgeRing& ring : layout.rings) {
        const QRectF frame(centre.x() - ring.diameter / 2, centre.y() - ring.diameter / 2, ring.diameter, ring.diameter);
        const auto it = shown.constFind(ring.id);
        UsageRing::paint(painter, frame, ring.progress, ring.accent.resolve(dark), ring.lineWidth, dark,
                         it == shown.constEnd() ? std::nullopt : std::optional<double>(*it));
    }
    ProviderIcon::paint(painter, view, layout.provider, layout.iconSize, dark);
}

void ProviderUsageBadge::setUsage(const ProviderUsage& usage)
{
    BadgeLayout next = layout(usage);
    if (next == m_layout)
        return;
    const bool resized = next.side != m_layout.side;
    m_layout = std::move(next);

    QHash<QString, GaugeMotion*> kept;
    for (const BadgeRing& ring : m_layout.rings) {
        GaugeMotion* motion = m_motions.take(ring.id);
        if (!motion) {
            motion = new GaugeMotion(this);
            connect(motion, &GaugeMotion::changed, this, qOverload<>(&QWidget::update));
        }
        motion->setTarget(gauge::read(ring.progress).fraction);
        kept.insert(ring.id, motion);
    }
    qDeleteAll(m_motions);
    m_motions = std::move(kept);

    panelaccess::setValue(this, m_layout.summary);
    setAccessibleName(m_layout.accessibleName);
    setToolTip(m_layout.summary);
    if (resized)
        updateGeometry();
    update();
}

GaugeMotion* ProviderUsageBadge::ringMotion(const QString& id) const
{
    return m_motions.value(id, nullptr);
}

QSize ProviderUsageBadge::sizeHint() const
{
    const int side = int(std::ceil(m_layout.side));
    return {side, side};
}

void ProviderUsageBadge::paintEvent(QPaintEvent*)
{
    QHash<QString, double> shown;
    for (auto it = m_motions.cbegin(); it != m_motions.cend(); ++it)
        if (const auto current = it.value()->current())
            shown.insert(it.key(), *current);
    QPainter painter(this);
    paint(painter, QRectF(rect()), m_layout, Appearance::shared().isDark(), shown);
}
