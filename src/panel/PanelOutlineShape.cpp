#include "PanelOutlineShape.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

PanelOutlineShape PanelOutlineShape::interpolated(const PanelOutlineShape& from, const PanelOutlineShape& to,
                                                  qreal progress)
{
    return PanelOutlineShape(from.m_ratio + (to.m_ratio - from.m_ratio) * progress);
}

qreal PanelOutlineShape::shoulderDepth(const QRectF& rect, qreal ratio)
{
    const qreal depth = std::min(ratio * rect.width(), 0.5 * rect.height());
    return std::isfinite(depth) && depth > 0 ? depth : 0;
}

PanelOutlineShape::Geometry PanelOutlineShape::geometry(const QRectF& rect, qreal ratio)
{
    const qreal minX = rect.left(), maxX = rect.right(), minY = rect.top(), maxY = rect.bottom();
    const qreal w = rect.width();
    const qreal d = shoulderDepth(rect, ratio);
    Geometry g;
    g.depth = d;
    g.start = {maxX, minY};
    g.topOuter = {{maxX, minY}, {minX + 0.907 * w, minY + 0.518 * d}, {minX + 0.548 * w, minY + 0.524 * d}};
    g.topInner = {{minX + 0.083454 * w, minY + 0.531764 * d}, {minX, minY + 0.91 * d}, {minX, minY + d}};
    g.leftEdgeEnd = {minX, maxY - d};
    // The top shoulder mirrored about the horizontal centre line, run the other way.
    g.bottomInner = {{minX, maxY - 0.91 * d}, {minX + 0.083454 * w, maxY - 0.531764 * d},
                     {minX + 0.548 * w, maxY - 0.524 * d}};
    g.bottomOuter = {{minX + 0.907 * w, maxY - 0.518 * d}, {maxX, maxY}, {maxX, maxY}};
    return g;
}

QPainterPath PanelOutlineShape::path(const QRectF& rect) const
{
    const Geometry g = geometry(rect);
    QPainterPath path;
    path.moveTo(g.start);
    for (const Curve* c : {&g.topOuter, &g.topInner})
        path.cubicTo(c->control1, c->control2, c->end);
    path.lineTo(g.leftEdgeEnd);
    for (const Curve* c : {&g.bottomInner, &g.bottomOuter})
        path.cubicTo(c->control1, c->control2, c->end);
    path.closeSubpath();
    return path;
}

void PanelOutlineShape::fill(QPainter& painter, const QRectF& rect, const QColor& colour) const
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(path(rect), colour);
    painter.restore();
}
