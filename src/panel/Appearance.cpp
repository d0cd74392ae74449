#include "Appearance.h"

#include "platform/DesktopColorScheme.h"
#include "platform/MainThread.h"

#include <QApplication>
#include <QEvent>
#include <QPalette>
#include <QWidget>

Appearance& Appearance::shared()
{
    ASSERT_MAIN_THREAD();
    static Appearance* instance = new Appearance(true, qApp);
    return *instance;
}

Appearance::Appearance(bool followDesktop, QObject* parent)
    : QObject(parent)
{
    if (followDesktop) {
        m_desktop = new DesktopColorScheme(this);
        connect(m_desktop, &DesktopColorScheme::schemeChanged, this, &Appearance::reevaluate);
    }
    if (qApp)
        qApp->installEventFilter(this);
    m_dark = computeDark();
}

Appearance::~Appearance()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

void Appearance::setForced(Forced forced)
{
    ASSERT_MAIN_THREAD();
    m_forced = forced;
    reevaluate();
}

bool Appearance::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange)
        reevaluate();
    return QObject::eventFilter(watched, event);
}

bool Appearance::computeDark() const
{
    switch (m_forced) {
    case Forced::Light: return false;
    case Forced::Dark: return true;
    case Forced::None: break;
    }
    if (m_desktop) {
        switch (m_desktop->scheme()) {
        case DesktopColorScheme::Scheme::Dark: return true;
        case DesktopColorScheme::Scheme::Light: return false;
        case DesktopColorScheme::Scheme::Unknown: break;
        }
    }
    return QGuiApplication::palette().color(QPalette::Window).lightness() < 128;
}

void Appearance::reevaluate()
{
    const bool dark = computeDark();
    if (dark == m_dark)
        return;
    m_dark = dark;
    emit changed(dark);
    if (this == &shared()) {
        const auto widgets = QApplication::allWidgets();
        for (QWidget* widget : widgets)
            widget->update();
    }
}
