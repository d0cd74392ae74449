#pragma once

#include <QColor>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>

class QPainter;

// The outline of the panel in its rings mode and the hit area of the ring
// column: a tab flush with the right edge of its rectangle, with a straight
// left edge that meets the top-right and bottom-right corners in S-shaped
// shoulders. The shoulders' depth is the ratio times the width, at most half
// the height; the ratio is the shape's animatable value.
class PanelOutlineShape {
public:
    // The ratio of the panel's outline.
    static constexpr qreal kPanelRatio = 0.976;

    struct Curve {
        QPointF control1;
        QPointF control2;
        QPointF end;
        bool operator==(const Curve&) const = default;
    };

    // The outline's points: from the top-right corner through the top shoulder,
    // down the left edge, through the bottom shoulder to the bottom-right
    // corner; the path closes along the right edge.
    struct Geometry {
        qreal depth = 0;
        QPointF start;
        Curve topOuter;
        Curve topInner;
        QPointF leftEdgeEnd;
        Curve bottomInner;
        Curve bottomOuter;
        bool operator==(const Geometry&) const = default;
    };

    explicit PanelOutlineShape(qreal waveHeightRatio = kPanelRatio) : m_ratio(waveHeightRatio) {}

    qreal waveHeightRatio() const { return m_ratio; }
    void setWaveHeightRatio(qreal ratio) { m_ratio = ratio; }
    // What an animation interpolates: the ratio itself.
    qreal animatableData() const { return m_ratio; }
    void setAnimatableData(qreal value) { m_ratio = value; }

    // The shape `progress` of the way from `from` to `to`.
    static PanelOutlineShape interpolated(const PanelOutlineShape& from, const PanelOutlineShape& to, qreal progress);

    // Shoulder depth in `rect`: min(ratio x width, half the height); a negative
    // or non-finite ratio counts as 0, so the outline never leaves its rectangle.
    static qreal shoulderDepth(const QRectF& rect, qreal ratio);
    static Geometry geometry(const QRectF& rect, qreal ratio);

    Geometry geometry(const QRectF& rect) const { return geometry(rect, m_ratio); }
    // The closed outline in `rect`.
    QPainterPath path(const QRectF& rect) const;
    // The shape drawn as a view: filled with `colour`, antialiased.
    void fill(QPainter& painter, const QRectF& rect, const QColor& colour) const;

private:
    qreal m_ratio;
};
