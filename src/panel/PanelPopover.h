#pragma once

#include <QPointer>
#include <QWidget>

// A small popup window that belongs to one panel window: while it is shown it
// counts as a child window of that panel (so the panel's hover rule keeps the
// panel open), and it announces when it closes. It can be made undismissable
// for the time an operation runs: outside clicks and Escape then leave it open.
class PanelPopover : public QWidget {
    Q_OBJECT
public:
    // `owner` is any widget inside the panel; the popover belongs to its window.
    explicit PanelPopover(QWidget* owner);
    ~PanelPopover() override;

    // Shows the popover beside `anchor` (below it when there is room, else above).
    void popup(QWidget* anchor);
    void popupAt(const QPoint& globalTopLeft);

    bool isDismissable() const { return m_dismissable; }
    void setDismissable(bool dismissable) { m_dismissable = dismissable; }

    // Closes it even when it is not dismissable.
    void dismiss();

    // The panel window it belongs to.
    QWidget* panelWindow() const { return m_panel; }

    // Open popovers of `panelWindow`.
    static QList<PanelPopover*> openPopovers(const QWidget* panelWindow);
    // True when `globalPoint` lies on an open popover of `panelWindow` (inside its shape, when it has one).
    static bool containsGlobalPoint(const QWidget* panelWindow, const QPoint& globalPoint);

signals:
    void opened();
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QPointer<QWidget> m_panel;
    bool m_dismissable = true;
    bool m_forceClose = false;
    bool m_open = false;
};

// Announces popovers opening and closing, for whoever follows a panel's child windows.
class PanelPopoverRegistry final : public QObject {
    Q_OBJECT
public:
    static PanelPopoverRegistry& shared();

signals:
    void popoverOpened(QWidget* panelWindow);
    void popoverClosed(QWidget* panelWindow);
};
