#include "ProgressSpinner.h"

#include "Appearance.h"
#include "PanelPalette.h"

#include <QPainter>

#include <cmath>
#include <numbers>

ProgressSpinner::ProgressSpinner(Size size, QWidget* parent)
    : QWidget(parent)
    , m_size(size)
{
    const int s = int(std::ceil(side(size)));
    setFixedSize(s, s);
    m_animation.setStartValue(0);
    m_animation.setEndValue(kSpokes);
    m_animation.setDuration(kTurnMilliseconds);
    m_animation.setLoopCount(-1);
    connect(&m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        const int phase = std::clamp(value.toInt(), 0, kSpokes) % kSpokes;
        if (phase == m_phase)
            return;
        m_phase = phase;
        update();
    });
}

QSize ProgressSpinner::sizeHint() const
{
    const int s = int(std::ceil(side(m_size)));
    return {s, s};
}

void ProgressSpinner::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_animation.start();
}

void ProgressSpinner::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_animation.stop();
}

void ProgressSpinner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = std::min(width(), height());
    const QPointF centre(width() / 2.0, height() / 2.0);
    const qreal outer = s / 2;
    const qreal inner = outer * 0.45;
    const qreal thickness = std::max<qreal>(1.0, s * 0.09);
    const QColor base = palette::color(PanelColor::panelSecondaryText, Appearance::shared().isDark());
    for (int i = 0; i < kSpokes; ++i) {
        // Spoke 0 points up; the darkest is `m_phase`, the others fade behind it clockwise.
        const int age = (m_phase - i + kSpokes) % kSpokes;
        QColor colour = base;
        colour.setAlphaF(float(1.0 - 0.75 * age / (kSpokes - 1)));
        const double angle = 2 * std::numbers::pi * i / kSpokes;
        const QPointF dir(std::sin(angle), -std::cos(angle));
        painter.setPen(QPen(colour, thickness, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(centre + dir * inner, centre + dir * (outer - thickness / 2));
    }
}
