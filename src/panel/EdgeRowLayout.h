#pragma once

// Geometry shared by the strip, the ring column and the panel window: one row
// per visible profile, 88 pt high and 16 pt apart, starting 76 pt below the top,
// then 46 pt to the chevron, the 22-pt chevron and 82 pt below it.
namespace edgerows {

constexpr double kRowHeight = 88;
constexpr double kRowSpacing = 16;
constexpr double kTopInset = 76;
constexpr double kChevronSpacing = 46;
constexpr double kChevronHeight = 22;
constexpr double kBottomInset = 82;
// Height of the strip and the ring column when no profile is visible.
constexpr double kEmptyHeight = 270;

// Height the strip and the ring column need for `profiles` rows:
// 88 n + 16 (n - 1) + 76 + 46 + 22 + 82 for n >= 1, 270 for none.
constexpr double neededHeight(int profiles)
{
    if (profiles <= 0)
        return kEmptyHeight;
    return kRowHeight * profiles + kRowSpacing * (profiles - 1) + kTopInset + kChevronSpacing + kChevronHeight
        + kBottomInset;
}

// Height of the rows alone (the ring column's list content).
constexpr double rowsHeight(int profiles)
{
    return profiles <= 0 ? 0 : kRowHeight * profiles + kRowSpacing * (profiles - 1);
}

} // namespace edgerows
