#include "PanelSymbols.h"

#include <QPainter>
#include <QPainterPathStroker>
#include <QTransform>

#include <cmath>

namespace {

// Symbols are drawn on a unit square (y down) and mapped into the target square,
// where strokes are outlined and the parts joined, so no boolean operation runs on
// a path flattened at unit scale.
class Builder {
public:
    Builder(const QRectF& rect, QFont::Weight weight, bool mirrored = false)
    {
        m_side = std::min(rect.width(), rect.height());
        const QPointF origin(rect.center().x() - m_side / 2, rect.center().y() - m_side / 2);
        m_map.translate(origin.x(), origin.y());
        m_map.scale(m_side, m_side);
        if (mirrored) {
            m_map.translate(1, 0);
            m_map.scale(-1, 1);
        }
        // Stroke width as a share of the side: regular 0.085, bold about 0.12.
        m_stroke = 0.085 * (1.0 + (int(weight) - int(QFont::Normal)) / 700.0);
    }

    qreal stroke() const { return m_stroke; }

    void strokePath(const QPainterPath& unit, qreal widthScale = 1.0)
    {
        add(panelsymbols::outline(m_map.map(unit), m_stroke * m_side * widthScale));
    }
    void fillPath(const QPainterPath& unit) { add(m_map.map(unit)); }
    // Fills `unit` less `hole`.
    void fillPath(const QPainterPath& unit, const QPainterPath& hole) { add(m_map.map(unit).subtracted(m_map.map(hole))); }
    void cut(const QPainterPath& unit) { m_shape = m_shape.subtracted(m_map.map(unit)); }

    QPainterPath shape() const { return m_shape; }

private:
    void add(const QPainterPath& part)
    {
        m_shape = m_shape.isEmpty() ? part.simplified() : m_shape.united(part);
    }

    QTransform m_map;
    qreal m_side = 0;
    qreal m_stroke = 0.085;
    QPainterPath m_shape;
};

QPainterPath polyline(std::initializer_list<QPointF> points, bool closed = false)
{
    QPainterPath path;
    bool first = true;
    for (const QPointF& p : points) {
        if (first)
            path.moveTo(p);
        else
            path.lineTo(p);
        first = false;
    }
    if (closed)
        path.closeSubpath();
    return path;
}

QPainterPath circle(qreal cx, qreal cy, qreal r)
{
    QPainterPath path;
    path.addEllipse(QPointF(cx, cy), r, r);
    return path;
}

// An open circle travelling clockwise and ending at 12 o'clock in an arrowhead pointing right.
void circularArrow(Builder& b, QPointF centre, qreal radius)
{
    const QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    QPainterPath arc;
    arc.arcMoveTo(box, 90);
    arc.arcTo(box, 90, 300);
    b.strokePath(arc);
    const qreal top = centre.y() - radius;
    const qreal x = centre.x() - 0.03;
    const QPainterPath head = polyline({{x + 0.19, top}, {x, top - 0.15}, {x, top + 0.15}}, true);
    b.fillPath(head);
    b.strokePath(head, 0.5);
}

// A filled disk at the lower right with room cut around it; its glyph is knocked out.
void badge(Builder& b, QPointF centre, qreal radius, const QPainterPath& glyph)
{
    b.cut(circle(centre.x(), centre.y(), radius + b.stroke() * 0.9));
    b.fillPath(circle(centre.x(), centre.y(), radius), glyph);
}


void personCropCircle(Builder& b)
{
    b.strokePath(circle(0.5, 0.5, 0.42));
    b.strokePath(circle(0.5, 0.39, 0.12));
    QPainterPath shoulders;
    shoulders.moveTo(0.23, 0.82);
    shoulders.cubicTo(0.28, 0.65, 0.38, 0.61, 0.5, 0.61);
    shoulders.cubicTo(0.62, 0.61, 0.72, 0.65, 0.77, 0.82);
    b.strokePath(shoulders);
}

QPainterPath plusGlyph(QPointF c, qreal arm, qreal width)
{
    QPainterPath lines = polyline({{c.x() - arm, c.y()}, {c.x() + arm, c.y()}});
    lines.addPath(polyline({{c.x(), c.y() - arm}, {c.x(), c.y() + arm}}));
    return panelsymbols::outline(lines, width);
}

QPainterPath checkGlyph(QPointF c, qreal arm, qreal width)
{
    return panelsymbols::outline(polyline({{c.x() - arm, c.y()}, {c.x() - arm * 0.3, c.y() + arm * 0.7}, {c.x() + arm, c.y() - arm * 0.7}}),
                      width);
}

void exclamation(Builder& b, qreal top, qreal bottom, qreal dotY)
{
    b.strokePath(polyline({{0.5, top}, {0.5, bottom}}), 1.1);
    b.fillPath(circle(0.5, dotY, b.stroke() * 0.7));
}

QPainterPath gearOutline()
{
    constexpr int kTeeth = 8;
    constexpr qreal kOuter = 0.44, kRoot = 0.345;
    constexpr qreal kPi = 3.14159265358979323846;
    QPainterPath path;
    auto at = [](qreal radius, qreal degrees) {
        const qreal a = degrees * kPi / 180.0;
        return QPointF(0.5 + radius * std::cos(a), 0.5 + radius * std::sin(a));
    };
    for (int i = 0; i < kTeeth; ++i) {
        const qreal mid = i * 360.0 / kTeeth;
        const QPointF points[] = {at(kRoot, mid - 13), at(kOuter, mid - 8), at(kOuter, mid + 8), at(kRoot, mid + 13)};
        for (int k = 0; k < 4; ++k) {
            if (i == 0 && k == 0)
                path.moveTo(points[k]);
            else
                path.lineTo(points[k]);
        }
    }
    path.closeSubpath();
    return path;
}

QPainterPath infinityCurve()
{
    constexpr int kSteps = 96;
    constexpr qreal kPi = 3.14159265358979323846;
    QPainterPath path;
    for (int i = 0; i <= kSteps; ++i) {
        const qreal t = 2 * kPi * i / kSteps;
        const qreal d = 1 + std::sin(t) * std::sin(t);
        const QPointF p(0.5 + 0.4 * std::cos(t) / d, 0.5 + 0.52 * std::sin(t) * std::cos(t) / d);
        if (i == 0)
            path.moveTo(p);
        else
            path.lineTo(p);
    }
    path.closeSubpath();
    return path;
}

} // namespace

namespace panelsymbols {

qreal side(qreal points) { return points; }

QPainterPath outline(const QPainterPath& centreline, qreal width)
{
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(centreline);
}

QPainterPath path(PanelSymbol symbol, const QRectF& rect, QFont::Weight weight)
{
    const bool mirrored = symbol == PanelSymbol::arrowCounterclockwise || symbol == PanelSymbol::clockArrowCirclepath;
    Builder b(rect, weight, mirrored);
    switch (symbol) {
    case PanelSymbol::arrowClockwise:
    case PanelSymbol::arrowCounterclockwise:
        circularArrow(b, {0.5, 0.55}, 0.36);
        break;
    case PanelSymbol::clockArrowCirclepath:
        circularArrow(b, {0.5, 0.55}, 0.36);
        b.strokePath(polyline({{0.5, 0.36}, {0.5, 0.56}, {0.63, 0.65}}), 0.85);
        break;
    case PanelSymbol::chevronLeft:
        b.strokePath(polyline({{0.64, 0.14}, {0.34, 0.5}, {0.64, 0.86}}), 1.15);
        break;
    case PanelSymbol::chevronRight:
        b.strokePath(polyline({{0.36, 0.14}, {0.66, 0.5}, {0.36, 0.86}}), 1.15);
        break;
    case PanelSymbol::chevronDown:
        b.strokePath(polyline({{0.14, 0.36}, {0.5, 0.66}, {0.86, 0.36}}), 1.15);
        break;
    case PanelSymbol::clock:
        b.strokePath(circle(0.5, 0.5, 0.42));
        b.strokePath(polyline({{0.5, 0.24}, {0.5, 0.5}, {0.69, 0.61}}));
        break;
    case PanelSymbol::infinity:
        b.strokePath(infinityCurve());
        break;
    case PanelSymbol::exclamationmarkCircle:
        b.strokePath(circle(0.5, 0.5, 0.42));
        exclamation(b, 0.27, 0.54, 0.71);
        break;
    case PanelSymbol::exclamationmarkTriangle:
        b.strokePath(polyline({{0.5, 0.12}, {0.93, 0.87}, {0.07, 0.87}}, true));
        exclamation(b, 0.41, 0.62, 0.75);
        break;
    case PanelSymbol::gearshape:
        b.strokePath(gearOutline());
        b.strokePath(circle(0.5, 0.5, 0.13));
        break;
    case PanelSymbol::personCropCircleBadgePlus:
        personCropCircle(b);
        badge(b, {0.79, 0.79}, 0.21, plusGlyph({0.79, 0.79}, 0.1, 0.07));
        break;
    case PanelSymbol::personCropCircleBadgeCheckmark:
        personCropCircle(b);
        badge(b, {0.79, 0.79}, 0.21, checkGlyph({0.79, 0.79}, 0.1, 0.07));
        break;
    case PanelSymbol::folderBadgePlus:
        b.strokePath(polyline({{0.08, 0.80}, {0.08, 0.20}, {0.38, 0.20}, {0.46, 0.29}, {0.92, 0.29}, {0.92, 0.80}}, true));
        b.strokePath(polyline({{0.08, 0.38}, {0.92, 0.38}}), 0.8);
        badge(b, {0.80, 0.78}, 0.21, plusGlyph({0.80, 0.78}, 0.1, 0.07));
        break;
    }
    return b.shape();
}

void paint(QPainter& painter, PanelSymbol symbol, const QRectF& rect, const QColor& colour, QFont::Weight weight)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawPath(path(symbol, rect, weight));
    painter.restore();
}

} // namespace panelsymbols
