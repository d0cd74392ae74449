#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

// The one object that knows the settings window: it learns the window when the
// settings form lands in it (attach), forgets it when it closes or goes, and
// brings it forward, restoring it when minimised, or has it created and
// presents it as soon as it attaches. Main thread only.
class SettingsWindowPresenter final : public QObject {
    Q_OBJECT
public:
    // The process's presenter, made on first use.
    static SettingsWindowPresenter& shared();

    QWidget* window() const { return m_window; }
    bool presentOnAttach() const { return m_presentOnAttach; }

    // Makes `window` the settings window; presents it when a request waits for it.
    void attach(QWidget* window);
    // The window is closing: forget it.
    void windowWillClose();
    // Brings the known window forward; without one, waits for the next attach
    // and calls `openWindow`, which creates the window.
    void present(const std::function<void()>& openWindow);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    SettingsWindowPresenter();
    static void bringForward(QWidget* window);

    QPointer<QWidget> m_window;
    bool m_presentOnAttach = false;
};
