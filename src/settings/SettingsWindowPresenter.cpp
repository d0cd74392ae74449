#include "SettingsWindowPresenter.h"

#include "platform/MainThread.h"

#include <QEvent>

SettingsWindowPresenter& SettingsWindowPresenter::shared()
{
    ASSERT_MAIN_THREAD();
    static SettingsWindowPresenter* instance = new SettingsWindowPresenter;
    return *instance;
}

SettingsWindowPresenter::SettingsWindowPresenter() = default;

void SettingsWindowPresenter::attach(QWidget* window)
{
    ASSERT_MAIN_THREAD();
    if (m_window)
        m_window->removeEventFilter(this);
    m_window = window;
    if (!window)
        return;
    window->installEventFilter(this);
    if (m_presentOnAttach) {
        m_presentOnAttach = false;
        bringForward(window);
    }
}

void SettingsWindowPresenter::windowWillClose()
{
    ASSERT_MAIN_THREAD();
    if (m_window)
        m_window->removeEventFilter(this);
    m_window = nullptr;
}

void SettingsWindowPresenter::present(const std::function<void()>& openWindow)
{
    ASSERT_MAIN_THREAD();
    if (m_window) {
        bringForward(m_window);
        return;
    }
    m_presentOnAttach = true;
    if (openWindow)
        openWindow();
}

bool SettingsWindowPresenter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Close && watched == m_window.data())
        windowWillClose();
    return QObject::eventFilter(watched, event);
}

void SettingsWindowPresenter::bringForward(QWidget* window)
{
    // The application has no activation of its own here: activating the window
    // asks the window manager to give it focus and the front.
    if (window->windowState() & Qt::WindowMinimized)
        window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->show();
    window->raise();
    window->activateWindow();
}
