#pragma once

#include <QRect>
#include <QWidget>

class QScrollArea;

// Makes `scroll` frameless and see-through, with no scroll bars: the panel
// background shows through and scrolling is by wheel.
void stylePanelScrollArea(QScrollArea* scroll);

// A new scroll area styled so, for the panel's lists.
QScrollArea* makePanelScrollArea(QWidget* parent);

namespace scrollindicator {

constexpr int kThickness = 3;
constexpr int kInset = 2;
constexpr int kMinimumLength = 16;

// Where the thumb of a vertical indicator lies on a scroll area of `area`,
// scrolled to `value` of `0...maximum` with `page` points in view. Empty when
// nothing scrolls.
QRect thumb(QSize area, int value, int maximum, int page);

} // namespace scrollindicator

// The thin vertical indicator of a panel scroll area: a capsule in the panel's
// secondary text colour over the right edge, shown while the content scrolls.
// It follows the area's vertical scroll bar and lets the mouse through.
class PanelScrollIndicator final : public QWidget {
    Q_OBJECT
public:
    explicit PanelScrollIndicator(QScrollArea* scroll);

    // The thumb in the scroll area's coordinates; invalid while hidden.
    QRect thumb() const;

    static constexpr qreal kOpacity = 0.5;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void place();

    QScrollArea* m_scroll;
};
