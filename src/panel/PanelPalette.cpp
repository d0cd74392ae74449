#include "PanelPalette.h"

#include "Appearance.h"

#include <QApplication>

#include <cmath>

namespace {

QColor rgb(QRgb value, qreal alpha = 1.0)
{
    QColor c = QColor::fromRgb(value);
    c.setAlphaF(float(alpha));
    return c;
}

// The light values with an alpha are #242424 at that alpha; the dark ones white.
QColor ink(qreal alpha) { return rgb(0x242424, alpha); }
QColor white(qreal alpha) { return rgb(0xFFFFFF, alpha); }

struct Stop {
    double percent;
    QRgb light;
    QRgb dark;
};

constexpr Stop kStops[] = {
    {0, 0x397F60, 0x69BC99},
    {50, 0x8A711E, 0xD7BF67},
    {80, 0xAC6224, 0xE4A763},
    {100, 0xB54241, 0xEF7E77},
};

QColor interpolate(double p, bool dark)
{
    int lower = p <= 50 ? 0 : (p <= 80 ? 1 : 2);
    const Stop& a = kStops[lower];
    const Stop& b = kStops[lower + 1];
    const double t = (p - a.percent) / (b.percent - a.percent);
    const QColor c0 = QColor::fromRgb(dark ? a.dark : a.light);
    const QColor c1 = QColor::fromRgb(dark ? b.dark : b.light);
    auto mix = [t](float x0, float x1) { return float(x0 + (x1 - x0) * t); };
    QColor out;
    out.setRgbF(mix(c0.redF(), c1.redF()), mix(c0.greenF(), c1.greenF()), mix(c0.blueF(), c1.blueF()), 1.0f);
    return out;
}

} // namespace

QColor AdaptiveColor::resolved() const
{
    return resolve(Appearance::shared().isDark());
}

namespace palette {

AdaptiveColor systemOrange()
{
    return {rgb(0xFF9500), rgb(0xFF9F0A)};
}

AdaptiveColor adaptive(PanelColor role)
{
    switch (role) {
    case PanelColor::panelBackground: return {rgb(0xF7F7F5), rgb(0x171817)};
    case PanelColor::panelPrimaryText:
    case PanelColor::panelForeground:
    case PanelColor::actionButtonForeground: return {rgb(0x242424), rgb(0xEAEAE6)};
    case PanelColor::panelSecondaryText:
    case PanelColor::panelTertiaryText: return {rgb(0x696964), rgb(0xABABA5)};
    case PanelColor::panelWarning: return {rgb(0xB45309), systemOrange().dark};
    case PanelColor::cardBackground: return {rgb(0xFDFDFB), rgb(0x20211F)};
    case PanelColor::cardBorder: return {ink(0.13), white(0.08)};
    case PanelColor::cardInsetFill: return {ink(0.045), white(0.035)};
    case PanelColor::ringTrack: return {ink(0.13), white(0.10)};
    case PanelColor::gaugePlaceholder: return {ink(0.30), white(0.22)};
    case PanelColor::barTrack: return {ink(0.13), white(0.08)};
    case PanelColor::panelOutline: return {ink(0.13), white(0.12)};
    case PanelColor::footerBackground: return {QColor(Qt::transparent), rgb(0x000000, 0.24)};
    case PanelColor::panelTopGlow:
    case PanelColor::panelBottomGlow: return {QColor(Qt::transparent), QColor(Qt::transparent)};
    case PanelColor::actionButtonBackground: return {rgb(0xE8E8E4), rgb(0x343530)};
    case PanelColor::codexAccent: return {rgb(0x0F766E), rgb(0x33EBC7)};
    case PanelColor::claudeAccent: return {rgb(0xC2410C), rgb(0xFF6329)};
    case PanelColor::copilotAccent: return {rgb(0x7C3AED), rgb(0xAD85FF)};
    case PanelColor::antigravityAccent: return {rgb(0x2563EB), rgb(0x5CA6FF)};
    }
    return {};
}

QColor color(PanelColor role)
{
    return adaptive(role).resolved();
}

QColor color(PanelColor role, bool dark)
{
    return adaptive(role).resolve(dark);
}

QColor withOpacity(QColor colour, qreal opacity)
{
    colour.setAlphaF(float(colour.alphaF() * opacity));
    return colour;
}

AdaptiveColor usageColor(double percent)
{
    double p = std::isfinite(percent) ? percent : 100.0;
    p = std::clamp(p, 0.0, 100.0);
    return {interpolate(p, false), interpolate(p, true)};
}

} // namespace palette

namespace fonts {

namespace {
struct StyleSpec {
    qreal points;
    QFont::Weight weight;
};

// Sizes and weights of the desktop text styles the panel uses.
StyleSpec spec(TextStyle style)
{
    switch (style) {
    case TextStyle::largeTitle: return {26, QFont::Normal};
    case TextStyle::title: return {22, QFont::Normal};
    case TextStyle::title2: return {17, QFont::Normal};
    case TextStyle::title3: return {15, QFont::Normal};
    case TextStyle::headline: return {13, QFont::Bold};
    case TextStyle::body: return {13, QFont::Normal};
    case TextStyle::callout: return {12, QFont::Normal};
    case TextStyle::subheadline: return {11, QFont::Normal};
    case TextStyle::footnote: return {10, QFont::Normal};
    case TextStyle::caption: return {10, QFont::Normal};
    case TextStyle::caption2: return {10, QFont::Normal};
    }
    return {13, QFont::Normal};
}
} // namespace

qreal pointSize(TextStyle style) { return spec(style).points; }
QFont::Weight weight(TextStyle style) { return spec(style).weight; }

QFont system(qreal points, QFont::Weight weight)
{
    QFont font = QApplication::font();
    font.setPixelSize(std::max(1, int(std::lround(points))));
    font.setWeight(weight);
    return font;
}

QFont style(TextStyle style, std::optional<QFont::Weight> weight)
{
    const StyleSpec s = spec(style);
    return system(s.points, weight.value_or(s.weight));
}

} // namespace fonts
