#pragma once

#include "PanelPalette.h"
#include "ProviderLimitRing.h"
#include "usage/ProviderUsage.h"

#include <QHash>
#include <QList>
#include <QRectF>
#include <QString>
#include <QWidget>

#include <optional>

class GaugeMotion;
class QPainter;

// Where and how one limit ring of a badge is drawn.
struct BadgeRing {
    QString id;        // the ring's window id
    double progress;   // used share clamped to 0 ... 1; NaN stays NaN (no figure)
    AdaptiveColor accent;
    qreal lineWidth;
    qreal diameter;
    bool operator==(const BadgeRing&) const = default;
};

// Everything a badge shows, from the usage alone.
struct BadgeLayout {
    UsageProvider provider = UsageProvider::codex;
    qreal side = 44;      // the badge's square
    qreal iconSize = 22;
    QList<BadgeRing> rings; // outermost first
    QString accessibleName; // "Лимиты " + short name
    QString summary;        // spoken value and tooltip
    bool operator==(const BadgeLayout&) const = default;
};

// The provider's mark inside one concentric ring per limit window, each filled
// to the window's used share. One accessibility element: its name, and the
// rings read out as its value and tooltip. Rings glide to new values, keyed by
// their window id.
class ProviderUsageBadge final : public QWidget {
    Q_OBJECT
public:
    explicit ProviderUsageBadge(QWidget* parent = nullptr);
    ~ProviderUsageBadge() override;

    static BadgeLayout layout(const ProviderUsage& usage,
                              const ProviderLimitRing::ResetFormatter& resetText = ProviderLimitRing::defaultResetText);

    // Draws `layout` centred in `view`; `shown` gives a ring's animated fraction by id.
    static void paint(QPainter& painter, const QRectF& view, const BadgeLayout& layout, bool dark,
                      const QHash<QString, double>& shown = {});

    void setUsage(const ProviderUsage& usage);
    const BadgeLayout& currentLayout() const { return m_layout; }
    // The motion of the ring with window id `id`, if the badge has that ring.
    GaugeMotion* ringMotion(const QString& id) const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    BadgeLayout m_layout;
    QHash<QString, GaugeMotion*> m_motions;
};
