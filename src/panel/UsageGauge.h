#pragma once

#include <QObject>
#include <QVariantAnimation>

#include <optional>

// What the ring and the bar share: one rule for reading a used fraction, and the
// spring that carries a change of the clamped fraction.
namespace gauge {

enum class Look {
    none,      // no figure: nothing is drawn
    untouched, // at most 0: the dotted look
    inUse,     // above 0: track and arc or fill
};

struct Reading {
    Look look = Look::none;
    // The clamped fraction (0 ... 1); none when there is no figure.
    std::optional<double> fraction;
    bool operator==(const Reading&) const = default;
};

// Absent or not finite: no figure. Otherwise clamped to 0 ... 1; the look comes from the raw value.
Reading read(std::optional<double> progress);

} // namespace gauge

// The fraction a gauge shows while it moves towards its clamped target. A change of the
// target glides with the gauge spring; it jumps under Reduce Motion, and whenever
// there was no figure before or is none now.
class GaugeMotion final : public QObject {
    Q_OBJECT
public:
    explicit GaugeMotion(QObject* parent = nullptr);

    // Sets the target; only a change of the clamped fraction moves anything.
    void setTarget(std::optional<double> fraction);
    std::optional<double> target() const { return m_target; }
    // The fraction to draw now; none when there is no figure.
    std::optional<double> current() const;
    bool isMoving() const { return m_animation.state() == QAbstractAnimation::Running; }
    // The running animation, so tests can step it frame by frame.
    QVariantAnimation& animation() { return m_animation; }

signals:
    void changed();

private:
    std::optional<double> m_target;
    QVariantAnimation m_animation;
};
