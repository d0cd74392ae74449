#pragma once

#include <QObject>
#include <QVariantAnimation>

class QAbstractButton;

// The pressed state of a button as an amount that springs between 0 (released)
// and 1 (pressed) with the given response, or jumps under Reduce Motion. The
// button's styles read `amount()` when they paint; `changed` asks them to.
class PressFeedback final : public QObject {
    Q_OBJECT
public:
    PressFeedback(QAbstractButton* button, double response);

    qreal amount() const { return m_amount; }
    // Moves towards pressed or released (what the button's signals do).
    void setPressed(bool pressed);
    // The spring, for tests that drive it by hand.
    QVariantAnimation& animation() { return m_animation; }

signals:
    void changed(qreal amount);

private:
    void apply(qreal amount);

    double m_response;
    qreal m_amount = 0;
    QVariantAnimation m_animation;
};
