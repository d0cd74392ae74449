#pragma once

#include "PanelPalette.h"
#include "UsageGauge.h"

#include <QRectF>
#include <QWidget>

#include <optional>

class QPainter;

// A horizontal gauge of one used fraction, 7 points high and as wide as its
// parent lets it be: a dotted line when untouched, else a capsule track with a
// capsule fill from the leading edge. Hidden from accessibility.
class UsageProgressBar final : public QWidget {
    Q_OBJECT
public:
    static constexpr qreal kHeight = 7;

    explicit UsageProgressBar(QWidget* parent = nullptr);

    void setProgress(std::optional<double> progress);
    std::optional<double> progress() const { return m_progress; }
    void setAccent(const AdaptiveColor& accent);

    GaugeMotion& motion() { return m_motion; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Draws the bar into `bar` (its full width and 7-point height) for the raw `progress`,
    // the fill at `shown` (the animated clamped fraction; the clamped `progress` when not given).
    static void paint(QPainter& painter, const QRectF& bar, std::optional<double> progress, const QColor& accent, bool dark,
                      std::optional<double> shown = std::nullopt);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<double> m_progress;
    AdaptiveColor m_accent;
    GaugeMotion m_motion;
};
