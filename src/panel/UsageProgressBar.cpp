#include "UsageProgressBar.h"

#include "Appearance.h"
#include "PanelAccessibility.h"
#include "UsageRing.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

QPainterPath capsule(const QRectF& rect)
{
    QPainterPath path;
    const qreal radius = std::min(rect.width(), rect.height()) / 2;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

} // namespace

UsageProgressBar::UsageProgressBar(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    panelaccess::hide(this);
    connect(&m_motion, &GaugeMotion::changed, this, qOverload<>(&QWidget::update));
    connect(&Appearance::shared(), &Appearance::changed, this, qOverload<>(&QWidget::update));
}

void UsageProgressBar::setProgress(std::optional<double> progress)
{
    if (progress == m_progress)
        return;
    m_progress = progress;
    m_motion.setTarget(gauge::read(progress).fraction);
    update();
}

void UsageProgressBar::setAccent(const AdaptiveColor& accent)
{
    if (accent == m_accent)
        return;
    m_accent = accent;
    update();
}

QSize UsageProgressBar::sizeHint() const { return {100, int(kHeight)}; }
QSize UsageProgressBar::minimumSizeHint() const { return {0, int(kHeight)}; }

void UsageProgressBar::paint(QPainter& painter, const QRectF& bar, std::optional<double> progress, const QColor& accent,
                             bool dark, std::optional<double> shown)
{
    const gauge::Reading reading = gauge::read(progress);
    if (reading.look == gauge::Look::none)
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (reading.look == gauge::Look::untouched) {
        const qreal y = bar.top() + bar.height() / 2;
        painter.setPen(gauge::dottedPen(palette::color(PanelColor::gaugePlaceholder, dark)));
        painter.drawLine(QPointF(bar.left() + 1, y), QPointF(bar.left() + std::max(bar.width() - 1, 1.0), y));
        painter.restore();
        return;
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette::color(PanelColor::barTrack, dark));
    painter.drawPath(capsule(bar));

    const double fraction = std::clamp(shown.value_or(*reading.fraction), 0.0, 1.0);
    const QRectF fill(bar.left(), bar.top(), bar.width() * fraction, bar.height());
    if (fill.width() > 0) {
        QLinearGradient gradient(fill.topLeft(), fill.topRight());
        QColor leading = accent;
        leading.setAlphaF(float(accent.alphaF() * 0.76));
        gradient.setColorAt(0, leading);
        gradient.setColorAt(1, accent);
        painter.setBrush(gradient);
        painter.drawPath(capsule(fill));
    }
    painter.restore();
}

void UsageProgressBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const bool dark = Appearance::shared().isDark();
    const QRectF bar(0, (height() - kHeight) / 2, width(), kHeight);
    paint(painter, bar, m_progress, m_accent.resolve(dark), dark, m_motion.current());
}
