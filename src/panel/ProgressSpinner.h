#pragma once

#include <QVariantAnimation>
#include <QWidget>

// An indeterminate progress indicator: twelve spokes fading around a circle,
// turning one spoke at a time. It turns only while it is shown. Hidden from
// accessibility; the view around it speaks for it.
class ProgressSpinner final : public QWidget {
    Q_OBJECT
public:
    // Control sizes, as side lengths in points.
    enum class Size { mini, small };
    static constexpr int kSpokes = 12;
    // One turn takes this long.
    static constexpr int kTurnMilliseconds = 1000;

    explicit ProgressSpinner(Size size = Size::small, QWidget* parent = nullptr);

    static qreal side(Size size) { return size == Size::mini ? 10 : 16; }

    // The spoke drawn darkest, 0 ... kSpokes - 1.
    int phase() const { return m_phase; }
    bool isSpinning() const { return m_animation.state() == QAbstractAnimation::Running; }
    // The animation, for tests that drive it by hand.
    QVariantAnimation& animation() { return m_animation; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    Size m_size;
    int m_phase = 0;
    QVariantAnimation m_animation;
};
