#include "PressFeedback.h"

#include "Motion.h"

#include <QAbstractButton>

PressFeedback::PressFeedback(QAbstractButton* button, double response) : QObject(button), m_response(response)
{
    connect(button, &QAbstractButton::pressed, this, [this] { setPressed(true); });
    connect(button, &QAbstractButton::released, this, [this] { setPressed(false); });
    connect(&m_animation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { apply(value.toReal()); });
}

void PressFeedback::setPressed(bool pressed)
{
    const qreal target = pressed ? 1.0 : 0.0;
    m_animation.stop();
    motion::configureSpring(m_animation, m_response);
    if (m_animation.duration() <= 0) {
        apply(target);
        return;
    }
    m_animation.setStartValue(m_amount);
    m_animation.setEndValue(target);
    m_animation.start();
}

void PressFeedback::apply(qreal amount)
{
    if (amount == m_amount)
        return;
    m_amount = amount;
    emit changed(amount);
}
