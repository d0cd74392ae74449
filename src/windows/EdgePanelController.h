#pragma once

#include "EdgePanelPresenting.h"
#include "panel/EdgePanelState.h"
#include "panel/EdgePanelView.h"

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QRectF>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class CoalescedCall;
class QScreen;
class QVariantAnimation;
class UsageAccounts;

// The panel's window: frameless, floating above other windows, never taking the
// keyboard focus, shown without activating, with a transparent background. Its
// one child fills it.
class EdgePanel final : public QWidget {
    Q_OBJECT
public:
    static inline const QString kIdentifier = QStringLiteral("Vantorel.EdgePanel");

    explicit EdgePanel(const QRect& frame);

    // The child that fills the window (the content view).
    void setContent(QWidget* content);
    QWidget* content() const { return m_content; }

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* m_content = nullptr;
};

// The panel's content view: reports the pointer entering and leaving it, and
// keeps its one child (the root view) filling it without ever resizing the window.
class HoverTrackingView final : public QWidget {
    Q_OBJECT
public:
    explicit HoverTrackingView(QWidget* parent = nullptr);

    std::function<void(bool inside)> onHover;

    void setRootView(QWidget* view);
    QWidget* rootView() const { return m_rootView; }

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* m_rootView = nullptr;
};

// Owns one edge panel: the window glued to the right edge of one screen's
// visible area, vertically centred, and the mode it shows. Decides the mode
// from the pointer and the toggle, lays the window out for the mode and the
// number of visible profiles, animates changes and follows the profile count
// and screen changes. Main thread only.
class EdgePanelController final : public QObject, public EdgePanelPresenting {
    Q_OBJECT
public:
    using FrameProvider = std::function<std::optional<QRect>()>;
    using FlagProvider = std::function<bool()>;
    using PointProvider = std::function<QPoint()>;
    using ScreenProvider = std::function<QScreen*()>;
    // Builds the root view from the registry, the state and the toggle action.
    using RootViewFactory =
        std::function<QWidget*(UsageAccounts& store, EdgePanelState& state, std::function<void()> toggle)>;

    // Every empty provider takes the system's answer.
    struct Options {
        // False: nothing is ever animated and Reduce Motion is never consulted.
        bool animationsEnabled = true;
        // The visible frame of the panel's screen (its answer, also none, is
        // final); empty: the screen the window is on.
        FrameProvider visibleFrameProvider;
        // Whether the window shows on screen; empty: whether it is exposed.
        FlagProvider isOnScreenProvider;
        // Empty: motion::reduceMotion().
        FlagProvider reduceMotionProvider;
        // Global pointer position; empty: QCursor::pos().
        PointProvider pointerLocationProvider;
        // The screen the window belongs to (each X screen has coordinates of its
        // own, so a frame alone does not say where a window goes); empty or none:
        // wherever the window is.
        ScreenProvider screenProvider;
        // The root view; empty: an EdgePanelView with `viewActions`.
        RootViewFactory makeRootView;
        EdgePanelView::Actions viewActions;
        // The selection cue played before each toggle; empty: FeedbackController's.
        std::function<void()> playSelection;
    };

    static constexpr double kFrameSeconds = 0.28;

    // Builds the hidden window for the strip of the current profile count.
    EdgePanelController(UsageAccounts& store, Options options);
    explicit EdgePanelController(UsageAccounts& store);
    ~EdgePanelController() override;

    // The panel's frame in `mode` for `count` visible profiles inside `visibleFrame`.
    static QRectF layoutFrame(EdgePanelMode mode, int count, const QRectF& visibleFrame);
    // The integral window rectangle of a layout frame.
    static QRect windowRect(const QRectF& frame);

    EdgePanelState& state() { return m_state; }
    EdgePanel& panel() const { return *m_panel; }
    int accountCount() const { return m_accountCount; }
    bool isClosed() const { return m_isClosed; }
    // The running frame animation, none when the window is not moving.
    QVariantAnimation* frameAnimation() const;

    std::optional<QRect> screenVisibleFrame() const;
    // Moves the window to the frame of the current mode and profile count.
    void applyFrame(bool animated);
    void setMode(EdgePanelMode mode);
    // The pointer entered (true) or left (false) the panel.
    void handleHover(bool inside);
    void toggle();
    // Follows the number of visible profiles.
    void observeAccounts();
    void screenParametersDidChange();
    void popoverDidClose();

    void show() override;
    void updateFrame() override;
    void close() override;

private:
    bool animationAllowed() const;
    bool reduceMotion() const;
    QPoint pointerLocation() const;
    bool pointerOverPanelOrChild() const;
    bool isOnScreen() const;
    void setWindowFrame(const QRect& frame);

    EdgePanelState m_state;
    UsageAccounts& m_store;
    Options m_options;
    std::unique_ptr<EdgePanel> m_panel;
    HoverTrackingView* m_trackingView = nullptr;
    QVariantAnimation* m_animation = nullptr;
    CoalescedCall* m_accountsChanged = nullptr;
    int m_accountCount = 0;
    bool m_isClosed = false;
};
