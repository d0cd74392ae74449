#include "UsageGauge.h"

#include "Motion.h"

#include <algorithm>
#include <cmath>

namespace gauge {

Reading read(std::optional<double> progress)
{
    if (!progress || !std::isfinite(*progress))
        return {};
    const double p = *progress;
    return {p > 0 ? Look::inUse : Look::untouched, std::clamp(p, 0.0, 1.0)};
}

} // namespace gauge

GaugeMotion::GaugeMotion(QObject* parent) : QObject(parent)
{
    connect(&m_animation, &QVariantAnimation::valueChanged, this, &GaugeMotion::changed);
}

void GaugeMotion::setTarget(std::optional<double> fraction)
{
    if (fraction == m_target)
        return;
    const std::optional<double> from = current();
    m_target = fraction;
    m_animation.stop();
    if (from && fraction && !motion::reduceMotion()) {
        motion::configureSpring(m_animation, motion::kGaugeResponse);
        m_animation.setStartValue(*from);
        m_animation.setEndValue(*fraction);
        m_animation.start();
    }
    emit changed();
}

std::optional<double> GaugeMotion::current() const
{
    if (!m_target)
        return std::nullopt;
    if (m_animation.state() == QAbstractAnimation::Running)
        return m_animation.currentValue().toDouble();
    return m_target;
}
