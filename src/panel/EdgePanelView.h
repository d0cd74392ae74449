#pragma once

#include "DashboardView.h"
#include "app/EdgePanelState.h"

#include <QPainterPath>
#include <QRectF>
#include <QVariantAnimation>
#include <QWidget>

#include <functional>

class AccountsObserver;
class CollapsedEdgeController;
class EdgeStripView;
class PanelLayerEffect;
class UsageAccounts;
class WindowShape;

// The frame every presentation of the panel gets, for a window of a given size.
struct EdgePanelFrame {
    // Where the content and its background lie: the whole window, except the
    // strip's 4-point bar against the right edge.
    QRectF content;
    // The clip, in window coordinates: the strip a capsule, the ring column
    // the notched tab, the cards a rectangle with 28-point corners.
    QPainterPath outline;
    bool tinted = false;   // the background's two glows (every mode but the strip)
    bool bordered = false; // the 1-point panelOutline stroke (cards only)

    static constexpr qreal kStripWidth = 4;
    static constexpr qreal kCardsCornerRadius = 28;

    static EdgePanelFrame of(EdgePanelMode mode, QSizeF window);
};

// Where a presentation stands in its transition in or out: `progress` 0 is
// fully out, 1 fully in. The strip fades; the ring column fades and scales
// from 0.94 about its trailing edge; the cards fade and move in from the
// trailing edge by their width.
struct EdgePanelTransition {
    qreal opacity = 1;
    qreal scale = 1;
    qreal offsetX = 0;

    static constexpr qreal kRingsScale = 0.94;

    static EdgePanelTransition at(EdgePanelMode mode, qreal progress, qreal width);
};

// The root view of an edge panel window: the strip, the ring column or the
// dashboard by the panel state's mode, on the panel's background, clipped to
// the mode's outline with antialiasing and, for the cards, bordered. Without a
// compositing manager its window is shaped to the outline. A mode
// change swaps the frame at once and the content with its transition, along
// the panel's spring when the change is animated. Taps that open, expand or
// collapse the panel call `onToggle`; the view never changes the mode.
class EdgePanelView final : public QWidget {
    Q_OBJECT
public:
    struct Actions {
        std::function<void()> openSettings; // the dashboard's settings buttons
        std::function<void()> quit;         // the dashboard's "Завершить"; none: the application quits
    };

    EdgePanelView(UsageAccounts& store, EdgePanelState& state, std::function<void()> onToggle, Actions actions = {},
                  QWidget* parent = nullptr);
    ~EdgePanelView() override;

    // The mode whose frame is drawn (the state's, once its change was handled).
    EdgePanelMode mode() const { return m_mode; }
    const EdgePanelFrame& frame() const { return m_frame; }

    // The presentations, built when first shown.
    EdgeStripView* strip() const { return m_strip; }
    CollapsedEdgeController* ringColumn() const { return m_rings; }
    DashboardView* dashboard() const { return m_dashboard; }
    // The one shown for `mode`, building it when needed.
    QWidget* content(EdgePanelMode mode);

    // The running transition between two presentations, for tests that drive it by hand.
    QVariantAnimation& transition() { return m_transition; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void modeChanged(EdgePanelMode mode);
    void layoutFrame();
    void setProgress(qreal progress);
    void finishTransition();
    void updateStrip();

    UsageAccounts& m_store;
    EdgePanelState& m_state;
    std::function<void()> m_onToggle;
    Actions m_actions;
    EdgePanelMode m_mode;
    EdgePanelFrame m_frame;

    QWidget* m_host;            // background and content, masked by the outline
    PanelLayerEffect* m_clip;
    QWidget* m_border;          // the cards' stroke over the content
    WindowShape* m_shape;
    EdgeStripView* m_strip = nullptr;
    CollapsedEdgeController* m_rings = nullptr;
    DashboardView* m_dashboard = nullptr;
    AccountsObserver* m_observer = nullptr;

    QWidget* m_outgoing = nullptr;
    EdgePanelMode m_outgoingMode = EdgePanelMode::strip;
    QVariantAnimation m_transition;
};
