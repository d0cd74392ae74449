#pragma once

#include <QColor>
#include <QFont>

// The panel's named colours. Each has a light and a dark value and resolves at
// paint time from the appearance in force, so nothing caches a resolved colour.
enum class PanelColor {
    panelBackground,
    panelPrimaryText,
    panelSecondaryText,
    panelTertiaryText,
    panelForeground,
    panelWarning,
    cardBackground,
    cardBorder,
    cardInsetFill,
    ringTrack,
    gaugePlaceholder,
    barTrack,
    panelOutline,
    footerBackground,
    panelTopGlow,
    panelBottomGlow,
    actionButtonBackground,
    actionButtonForeground,
    codexAccent,
    claudeAccent,
    copilotAccent,
    antigravityAccent,
};

struct AdaptiveColor {
    QColor light;
    QColor dark;

    QColor resolve(bool darkAppearance) const { return darkAppearance ? dark : light; }
    // Resolves against the application's appearance.
    QColor resolved() const;
    bool operator==(const AdaptiveColor&) const = default;
};

namespace palette {

AdaptiveColor adaptive(PanelColor role);

// `role` resolved against the application's appearance, now.
QColor color(PanelColor role);
QColor color(PanelColor role, bool dark);

// `colour` with its alpha scaled by `opacity`.
QColor withOpacity(QColor colour, qreal opacity);

// A used percentage on the four-stop scale (0, 50, 80, 100 %). Not finite counts as 100.
AdaptiveColor usageColor(double percent);

// The system orange, pinned for both appearances.
AdaptiveColor systemOrange();

} // namespace palette

// Text styles of the panel, sizes in points (one point is one device-independent pixel).
enum class TextStyle { largeTitle, title, title2, title3, headline, body, callout, subheadline, footnote, caption, caption2 };

namespace fonts {

// The style's font, at its own weight unless `weight` is given.
QFont style(TextStyle style, std::optional<QFont::Weight> weight = std::nullopt);
// The system font at `points` and `weight`.
QFont system(qreal points, QFont::Weight weight = QFont::Normal);
// Point size and weight of a style.
qreal pointSize(TextStyle style);
QFont::Weight weight(TextStyle style);

} // namespace fonts
