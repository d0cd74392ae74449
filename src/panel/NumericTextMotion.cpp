#include "NumericTextMotion.h"

#include "Motion.h"

#include <QPainter>

NumericTextMotion::NumericTextMotion(QObject* parent) : QObject(parent)
{
    m_animation.setStartValue(0.0);
    m_animation.setEndValue(1.0);
    connect(&m_animation, &QVariantAnimation::valueChanged, this, &NumericTextMotion::changed);
    connect(&m_animation, &QVariantAnimation::finished, this, [this] {
        m_previous.clear();
        emit changed();
    });
}

void NumericTextMotion::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_previous = m_text;
    m_text = text;
    m_animation.stop();
    motion::configureSpring(m_animation, motion::kGaugeResponse);
    if (m_previous.isEmpty() || text.isEmpty() || m_animation.duration() == 0) {
        m_previous.clear();
        emit changed();
        return;
    }
    m_animation.start();
}

double NumericTextMotion::progress() const
{
    if (m_animation.state() != QAbstractAnimation::Running)
        return 1.0;
    return m_animation.currentValue().toDouble();
}

void NumericTextMotion::paint(QPainter& painter, const QRectF& rect, int flags) const
{
    const double t = progress();
    painter.save();
    painter.setClipRect(rect);
    const QColor pen = painter.pen().color();
    if (t < 1.0 && !m_previous.isEmpty()) {
        // The old figure leaves upwards while the new one comes in from below.
        QColor old = pen;
        old.setAlphaF(float(pen.alphaF() * (1.0 - t)));
        painter.setPen(old);
        painter.drawText(rect.translated(0, -t * rect.height()), flags, m_previous);
        QColor now = pen;
        now.setAlphaF(float(pen.alphaF() * t));
        painter.setPen(now);
        painter.drawText(rect.translated(0, (1.0 - t) * rect.height()), flags, m_text);
    } else {
        painter.drawText(rect, flags, m_text);
    }
    painter.restore();
}
