// Renders the usage badges and the limit bars of 8 profiles 1,000 times into an
// offscreen image, the model worked out afresh each frame, and prints the time per
// frame, then the time of the models alone.
#include "panel/ProviderUsageBadge.h"
#include "panel/UsageProgressBar.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>

#include <cstdio>

namespace {

constexpr int kFrames = 1000;
constexpr int kRowHeight = 60;
constexpr int kWidth = 300;

UsageWindow window(const QString& id, double used)
{
    UsageWindow w;
    w.id = id;
    w.title = id;
    w.usedPercent = used;
    w.resetsAt = Timestamp::fromSinceReference(800'000'000);
    return w;
}

QList<ProviderUsage> profiles()
{
    QList<ProviderUsage> out;
    const UsageProvider providers[] = {UsageProvider::claude, UsageProvider::codex, UsageProvider::copilot, UsageProvider::antigravity};
    for (int i = 0; i < 8; ++i) {
        ProviderUsage u = ProviderUsage::placeholder(providers[i % 4]);
        u.isLoading = false;
        switch (u.provider) {
        case UsageProvider::claude:
            u.windows = {window("five_hour", 12.5 + i), window("seven_day", 64), window("model-fable", 100)};
            break;
        case UsageProvider::codex: u.windows = {window("codex-primary", 35 + i), window("codex-secondary", 0)}; break;
        case UsageProvider::copilot: u.windows = {window("premium", 82), window("chat", 40), window("completions", 7)}; break;
        case UsageProvider::antigravity:
            u.windows = {window("gemini-pro-5h", 20), window("gemini-pro-weekly", 55), window("3p-claude-5h", 130)};
            break;
        }
        out.append(u);
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QList<ProviderUsage> usages = profiles();
    QImage canvas(kWidth, kRowHeight * int(usages.size()), QImage::Format_ARGB32_Premultiplied);

    QElapsedTimer timer;
    timer.start();
    for (int frame = 0; frame < kFrames; ++frame) {
        canvas.fill(Qt::transparent);
        QPainter painter(&canvas);
        const bool dark = frame % 2 == 1;
        for (qsizetype row = 0; row < usages.size(); ++row) {
            const ProviderUsage& u = usages.at(row);
            const qreal top = row * kRowHeight;
            const BadgeLayout layout = ProviderUsageBadge::layout(u);
            ProviderUsageBadge::paint(painter, QRectF(4, top + 4, layout.side, layout.side), layout, dark);
            for (qsizetype w = 0; w < u.windows.size(); ++w) {
                const double used = u.windows.at(w).usedPercent;
                UsageProgressBar::paint(painter, QRectF(70, top + 8 + w * 14, 220, UsageProgressBar::kHeight), used / 100,
                                        palette::usageColor(used).resolve(dark), dark);
            }
        }
    }
    const double ms = timer.nsecsElapsed() / 1e6;
    std::printf("badges and bars of 8 profiles, %d frames offscreen: %.3f ms per frame (%.1f us per profile)\n", kFrames,
                ms / kFrames, ms * 1000 / kFrames / 8);
    timer.restart();
    for (int frame = 0; frame < kFrames; ++frame)
        for (const ProviderUsage& u : usages)
            (void)ProviderUsageBadge::layout(u);
    std::printf("the badge models alone: %.3f ms per frame\n", timer.nsecsElapsed() / 1e6 / kFrames);
    return 0;
}
