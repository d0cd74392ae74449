#pragma once

#include "NumericTextMotion.h"
#include "ProviderCardModel.h"

#include <QWidget>

class ProviderUsageBadge;

// The top row of a card: the usage badge, provider and profile names, maker
// and plan, and the highest used percent. One accessibility element.
class ProviderHeaderView final : public QWidget {
    Q_OBJECT
public:
    static constexpr qreal kSpacing = 12;
    static constexpr qreal kLineSpacing = 2;
    static constexpr qreal kMinimumGap = 8;

    explicit ProviderHeaderView(QWidget* parent = nullptr);

    void apply(const ProviderHeaderModel& model);
    const ProviderHeaderModel& model() const { return m_model; }
    ProviderUsageBadge* badge() const { return m_badge; }
    NumericTextMotion& peakMotion() { return *m_peak; }

    // Where the percent is drawn in a header `width` wide; empty without one.
    QRectF peakRect(int width) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Lines;
    Lines lines(int width) const;
    qreal badgeSide() const;

    ProviderHeaderModel m_model;
    bool m_applied = false;
    ProviderUsageBadge* m_badge;
    NumericTextMotion* m_peak;
};
