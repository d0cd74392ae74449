#pragma once

#include "PanelPalette.h"
#include "UsageGauge.h"

#include <QRectF>
#include <QWidget>

#include <optional>

class QPainter;

// A circular gauge of one used fraction: dotted circle when untouched, else a
// track with an arc from 12 o'clock clockwise, filled by an angular gradient of
// the accent. Hidden from accessibility; the view around it speaks for it. The
// widget keeps the whole stroke inside its rect.
class UsageRing final : public QWidget {
    Q_OBJECT
public:
    explicit UsageRing(QWidget* parent = nullptr);

    // Used fraction, 1.0 = 100 %; absent when there is no figure.
    void setProgress(std::optional<double> progress);
    std::optional<double> progress() const { return m_progress; }
    void setAccent(const AdaptiveColor& accent);
    void setLineWidth(qreal lineWidth);
    qreal lineWidth() const { return m_lineWidth; }

    GaugeMotion& motion() { return m_motion; }

    // Draws the ring inscribed in `frame` for the raw `progress`, its arc at `shown`
    // (the animated clamped fraction; the clamped `progress` when not given). Colours
    // resolve against `dark`.
    static void paint(QPainter& painter, const QRectF& frame, std::optional<double> progress, const QColor& accent,
                      qreal lineWidth, bool dark, std::optional<double> shown = std::nullopt);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<double> m_progress;
    AdaptiveColor m_accent;
    qreal m_lineWidth = 3;
    GaugeMotion m_motion;
};

namespace gauge {
// The untouched look's stroke: 2 points, round caps, 1 point on and 4 off.
QPen dottedPen(const QColor& colour);
} // namespace gauge
