#pragma once

#include "PanelPalette.h"
#include "usage/UsageProvider.h"

#include <QString>

#include <optional>

// Figures and names the panel views share.
namespace usageformat {

// A used percentage rounded to the nearest integer, halves away from zero.
// None for NaN, infinities and values too large to round into an int.
std::optional<int> wholePercent(double percent);
// wholePercent followed by "%"; empty when there is no figure.
QString percentText(double percent);
// A limit is exhausted when its raw used percentage is 100 or more.
inline bool isExhausted(double usedPercent) { return usedPercent >= 100.0; }

// "Codex", "Claude", "Copilot", "Antigravity".
QString shortName(UsageProvider provider);
// "OpenAI", "Anthropic", "GitHub", "Google".
QString makerName(UsageProvider provider);
// The provider's accent colour role.
PanelColor accent(UsageProvider provider);

} // namespace usageformat
