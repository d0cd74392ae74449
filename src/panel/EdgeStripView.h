#pragma once

#include "usage/ProviderUsage.h"
#include "usage/UsageProvider.h"

#include <QAbstractButton>
#include <QList>
#include <QPainterPath>
#include <QString>

#include <optional>

class QPainter;
class UsageAccounts;

// One account of the strip: its provider's accent filled from the bottom by
// the account's highest used percent.
struct EdgeStripSegment {
    QString id;                       // the profile's id
    UsageProvider provider = UsageProvider::codex;
    std::optional<double> fill;       // 0...1; none when there is nothing to show
    bool isSpent = false;             // exactly when fill is 1

    bool operator==(const EdgeStripSegment&) const = default;

    // The segment of one account.
    static EdgeStripSegment make(const QString& id, const ProviderUsage& usage);
    // One segment per visible profile, Claude Code, Codex, Copilot, Antigravity.
    static QList<EdgeStripSegment> segments(const UsageAccounts& accounts);
};

namespace edgestrip {

constexpr qreal kMinimumBar = 3;
constexpr qreal kTrackOpacity = 0.34;
constexpr qreal kHatchSpacing = 3.5;
constexpr qreal kHatchOpacity = 0.78;
constexpr qreal kHatchLineWidth = 1.5;

// Parallel lines at 45 degrees, falling from top left to bottom right,
// `spacing` apart across the lines, covering `rect`.
QPainterPath diagonalHatch(const QRectF& rect, qreal spacing);

// Height of the filled bar of a segment `height` high; none without a fill.
std::optional<qreal> barHeight(const EdgeStripSegment& segment, qreal height);

// Where segment `index` lies in a strip `width` wide.
QRectF segmentRect(int index, qreal width);

// Draws one segment into `rect`, clipped to its capsule with antialiasing.
void paintSegment(QPainter& painter, const QRectF& rect, const EdgeStripSegment& segment, bool dark);

} // namespace edgestrip

// The collapsed panel: one capsule per account, the whole area one button
// ("Открыть Vantorel") whose click is the panel's toggle.
class EdgeStripView final : public QAbstractButton {
    Q_OBJECT
public:
    explicit EdgeStripView(QWidget* parent = nullptr);

    const QList<EdgeStripSegment>& segments() const { return m_segments; }
    // Repaints only when the segments changed.
    void setSegments(QList<EdgeStripSegment> segments);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    QList<EdgeStripSegment> m_segments;
};
