#pragma once

#include <QtGlobal>

// Rows of the strip and the ring column, and the panel height they need: the
// strip, the ring column and the panel window lay out by the same numbers.
namespace panelrows {

constexpr qreal kRowHeight = 88;
constexpr qreal kRowSpacing = 16;
constexpr qreal kTopInset = 76;
// Below the last row: the gap, the chevron and the bottom inset.
constexpr qreal kChevronGap = 46;
constexpr qreal kChevronHeight = 22;
constexpr qreal kBottomInset = 82;
// Height of a panel with no visible profile.
constexpr qreal kEmptyHeight = 270;

// Top of row `index` (0 is the first).
constexpr qreal rowTop(int index) { return kTopInset + index * (kRowHeight + kRowSpacing); }

// Height that shows `rows` rows whole.
constexpr qreal neededHeight(int rows)
{
    if (rows <= 0)
        return kEmptyHeight;
    return rows * kRowHeight + (rows - 1) * kRowSpacing + kTopInset + kChevronGap + kChevronHeight + kBottomInset;
}

} // namespace panelrows
