#include "ScreenParameters.h"

#include "platform/CoalescedCall.h"
#include "platform/MainThread.h"

#include <QGuiApplication>
#include <QScreen>

ScreenParameters& ScreenParameters::shared()
{
    ASSERT_MAIN_THREAD();
    static ScreenParameters* instance = new ScreenParameters;
    return *instance;
}

ScreenParameters::ScreenParameters()
    : QObject(qApp)
    , m_call(new CoalescedCall([this] { emit changed(); }, this))
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app)
        return;
    connect(app, &QGuiApplication::screenAdded, this, [this](QScreen* screen) {
        watch(screen);
        post();
    });
    connect(app, &QGuiApplication::screenRemoved, this, &ScreenParameters::post);
    connect(app, &QGuiApplication::primaryScreenChanged, this, &ScreenParameters::post);
    for (QScreen* screen : QGuiApplication::screens())
        watch(screen);
}

void ScreenParameters::watch(QScreen* screen)
{
    connect(screen, &QScreen::geometryChanged, this, &ScreenParameters::post);
    connect(screen, &QScreen::availableGeometryChanged, this, &ScreenParameters::post);
}

void ScreenParameters::post()
{
    m_call->request();
}

void ScreenParameters::flush()
{
    m_call->flush();
}
