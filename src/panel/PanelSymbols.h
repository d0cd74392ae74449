#pragma once

#include <QColor>
#include <QFont>
#include <QPainterPath>
#include <QRectF>

class QPainter;

// The small symbols the panel and the settings window draw, each our own
// QPainterPath. Named after the system symbols they stand for.
enum class PanelSymbol {
    arrowClockwise,                 // "arrow.clockwise"
    arrowCounterclockwise,          // "arrow.counterclockwise"
    clockArrowCirclepath,           // "clock.arrow.circlepath"
    chevronLeft,                    // "chevron.left"
    chevronRight,                   // "chevron.right"
    chevronDown,                    // a disclosure group's open indicator
    clock,                          // "clock"
    infinity,                       // "infinity"
    exclamationmarkCircle,          // "exclamationmark.circle"
    exclamationmarkTriangle,        // "exclamationmark.triangle"
    gearshape,                      // "gearshape"
    personCropCircleBadgePlus,      // "person.crop.circle.badge.plus"
    personCropCircleBadgeCheckmark, // "person.crop.circle.badge.checkmark"
    folderBadgePlus,                // "folder.badge.plus"
};

namespace panelsymbols {

// The side of the square a symbol takes beside text of `points` (its font's pixel size).
qreal side(qreal points);

// The symbol's filled outline, scaled into the square centred in `rect`. `weight`
// thickens its strokes as a font weight thickens letters.
QPainterPath path(PanelSymbol symbol, const QRectF& rect, QFont::Weight weight = QFont::Normal);

// The filled outline of `centreline` stroked `width` wide with round caps and joins.
QPainterPath outline(const QPainterPath& centreline, qreal width);

// Fills the symbol's path in `colour`.
void paint(QPainter& painter, PanelSymbol symbol, const QRectF& rect, const QColor& colour,
           QFont::Weight weight = QFont::Normal);

} // namespace panelsymbols
