#include "EdgePanelState.h"

#include "platform/MainThread.h"

EdgePanelState::EdgePanelState(QObject* parent)
    : QObject(parent)
{
}

void EdgePanelState::setMode(EdgePanelMode mode, bool animated)
{
    ASSERT_MAIN_THREAD();
    if (mode == m_mode)
        return;
    m_mode = mode;
    m_changeAnimated = animated;
    emit modeChanged(mode);
}
