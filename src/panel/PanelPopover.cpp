#include "PanelPopover.h"

#include "WindowShape.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QScreen>

namespace {
QList<PanelPopover*>& openList()
{
    static QList<PanelPopover*> list;
    return list;
}
} // namespace

PanelPopoverRegistry& PanelPopoverRegistry::shared()
{
    static PanelPopoverRegistry* instance = new PanelPopoverRegistry;
    return *instance;
}

PanelPopover::PanelPopover(QWidget* owner)
    : QWidget(owner ? owner->window() : nullptr, Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint)
    , m_panel(owner ? owner->window() : nullptr)
{
    setAttribute(Qt::WA_TranslucentBackground);
}

PanelPopover::~PanelPopover()
{
    if (m_open) {
        openList().removeAll(this);
        emit PanelPopoverRegistry::shared().popoverClosed(m_panel);
    }
}

void PanelPopover::popup(QWidget* anchor)
{
    adjustSize();
    if (!anchor) {
        show();
        return;
    }
    const QPoint below = anchor->mapToGlobal(QPoint(0, anchor->height()));
    QPoint topLeft(below.x() + anchor->width() - width(), below.y() + 4);
    if (QScreen* screen = anchor->screen()) {
        const QRect area = screen->availableGeometry();
        if (topLeft.y() + height() > area.bottom())
            topLeft.setY(anchor->mapToGlobal(QPoint(0, 0)).y() - height() - 4);
        topLeft.setX(std::clamp(topLeft.x(), area.left(), std::max(area.left(), area.right() - width())));
    }
    popupAt(topLeft);
}

void PanelPopover::popupAt(const QPoint& globalTopLeft)
{
    move(globalTopLeft);
    show();
}

void PanelPopover::dismiss()
{
    m_forceClose = true;
    close();
    m_forceClose = false;
}

QList<PanelPopover*> PanelPopover::openPopovers(const QWidget* panelWindow)
{
    QList<PanelPopover*> result;
    for (PanelPopover* popover : openList())
        if (popover->m_panel == panelWindow)
            result.append(popover);
    return result;
}

bool PanelPopover::containsGlobalPoint(const QWidget* panelWindow, const QPoint& globalPoint)
{
    for (PanelPopover* popover : openPopovers(panelWindow))
        if (WindowShape::containsGlobalPoint(*popover, globalPoint))
            return true;
    return false;
}

void PanelPopover::closeEvent(QCloseEvent* event)
{
    if (!m_dismissable && !m_forceClose) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void PanelPopover::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && !m_dismissable) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PanelPopover::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_open)
        return;
    m_open = true;
    openList().append(this);
    emit opened();
    emit PanelPopoverRegistry::shared().popoverOpened(m_panel);
}

void PanelPopover::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (!m_open)
        return;
    m_open = false;
    openList().removeAll(this);
    emit closed();
    emit PanelPopoverRegistry::shared().popoverClosed(m_panel);
}
