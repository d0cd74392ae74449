#include "UsageRing.h"

#include "Appearance.h"
#include "PanelAccessibility.h"

#include <QConicalGradient>
#include <QPainter>
#include <QPainterPath>

namespace gauge {

QPen dottedPen(const QColor& colour)
{
    QPen pen(colour, 2.0, Qt::CustomDashLine, Qt::RoundCap, Qt::MiterJoin);
    pen.setMiterLimit(10);
    // Qt counts dashes in pen widths: 1 point on and 4 off at width 2.
    pen.setDashPattern({0.5, 2.0});
    pen.setDashOffset(0);
    return pen;
}

} // namespace gauge

UsageRing::UsageRing(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    panelaccess::hide(this);
    connect(&m_motion, &GaugeMotion::changed, this, qOverload<>(&QWidget::update));
    connect(&Appearance::shared(), &Appearance::changed, this, qOverload<>(&QWidget::update));
}

void UsageRing::setProgress(std::optional<double> progress)
{
    if (progress == m_progress)
        return;
    m_progress = progress;
    m_motion.setTarget(gauge::read(progress).fraction);
    update();
}

void UsageRing::setAccent(const AdaptiveColor& accent)
{
    if (accent == m_accent)
        return;
    m_accent = accent;
    update();
}

void UsageRing::setLineWidth(qreal lineWidth)
{
    if (lineWidth == m_lineWidth)
        return;
    m_lineWidth = lineWidth;
    update();
}

void UsageRing::paint(QPainter& painter, const QRectF& frame, std::optional<double> progress, const QColor& accent,
                      qreal lineWidth, bool dark, std::optional<double> shown)
{
    const gauge::Reading reading = gauge::read(progress);
    if (reading.look == gauge::Look::none)
        return;
    const qreal side = std::min(frame.width(), frame.height());
    const QRectF circle(frame.center().x() - side / 2, frame.center().y() - side / 2, side, side);

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    if (reading.look == gauge::Look::untouched) {
        painter.setPen(gauge::dottedPen(palette::color(PanelColor::gaugePlaceholder, dark)));
        painter.drawEllipse(circle);
        painter.restore();
        return;
    }

    painter.setPen(QPen(palette::color(PanelColor::ringTrack, dark), lineWidth, Qt::SolidLine, Qt::RoundCap));
    painter.drawEllipse(circle);

    const double fraction = std::clamp(shown.value_or(*reading.fraction), 0.0, 1.0);
    // Qt's conical gradient runs counter-clockwise from its angle; the arc runs clockwise
    // from 12 o'clock, so the stops are mirrored.
    QConicalGradient gradient(circle.center(), 90);
    gradient.setColorAt(0.0, palette::withOpacity(accent, 0.82));
    gradient.setColorAt(0.5, accent);
    gradient.setColorAt(1.0, palette::withOpacity(accent, 0.45));
    QPainterPath arc;
    if (fraction >= 1.0) {
        arc.addEllipse(circle);
    } else {
        arc.arcMoveTo(circle, 90);
        arc.arcTo(circle, 90, -360.0 * fraction);
    }
    painter.setPen(QPen(QBrush(gradient), lineWidth, Qt::SolidLine, Qt::RoundCap));
    painter.drawPath(arc);
    painter.restore();
}

void UsageRing::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const bool dark = Appearance::shared().isDark();
    // The whole stroke stays inside the widget.
    const qreal inset = std::max(m_lineWidth, 2.0) / 2;
    paint(painter, QRectF(rect()).adjusted(inset, inset, -inset, -inset), m_progress, m_accent.resolve(dark), m_lineWidth,
          dark, m_motion.current());
}
