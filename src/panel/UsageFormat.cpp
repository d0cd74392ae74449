#include "UsageFormat.h"

#include <cmath>
#include <limits>

namespace usageformat {

std::optional<int> wholePercent(double percent)
{
    if (!std::isfinite(percent))
        return std::nullopt;
    const double rounded = std::round(percent); // halves away from zero
    if (rounded > double(std::numeric_limits<int>::max()) || rounded < double(std::numeric_limits<int>::min()))
        return std::nullopt;
    return int(rounded);
}

QString percentText(double percent)
{
    const auto whole = wholePercent(percent);
    return whole ? QString::number(*whole) + QLatin1Char('%') : QString();
}

QString shortName(UsageProvider provider)
{
    switch (provider) {
    case UsageProvider::codex: return QStringLiteral("Codex");
    case UsageProvider::claude: return QStringLiteral("Claude");
    case UsageProvider::copilot: return QStringLiteral("Copilot");
    case UsageProvider::antigravity: return QStringLiteral("Antigravity");
    }
    return {};
}

QString makerName(UsageProvider provider)
{
    switch (provider) {
    case UsageProvider::codex: return QStringLiteral("OpenAI");
    case UsageProvider::claude: return QStringLiteral("Anthropic");
    case UsageProvider::copilot: return QStringLiteral("GitHub");
    case UsageProvider::antigravity: return QStringLiteral("Google");
    }
    return {};
}

PanelColor accent(UsageProvider provider)
{
    switch (provider) {
    case UsageProvider::codex: return PanelColor::codexAccent;
    case UsageProvider::claude: return PanelColor::claudeAccent;
    case UsageProvider::copilot: return PanelColor::copilotAccent;
    case UsageProvider::antigravity: return PanelColor::antigravityAccent;
    }
    return PanelColor::panelForeground;
}

} // namespace usageformat
