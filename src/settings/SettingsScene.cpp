#include "SettingsScene.h"

#include "platform/MainThread.h"
#include "settings/SettingsWindowPresenter.h"

SettingsScene::SettingsScene(UsageAccounts& accounts, PanelDisplaySettings& displays, Defaults& defaults,
                             SettingsView::Environment environment, QObject* parent)
    : QObject(parent)
    , m_accounts(accounts)
    , m_displays(displays)
    , m_defaults(defaults)
    , m_environment(std::move(environment))
{
}

SettingsScene::~SettingsScene()
{
    delete m_window.data();
}

void SettingsScene::open()
{
    ASSERT_MAIN_THREAD();
    if (!m_window) {
        m_window = new SettingsView(m_accounts, m_displays, m_defaults, m_environment);
        m_window->setAttribute(Qt::WA_DeleteOnClose);
        m_window->setWindowTitle(kWindowTitle);
    }
    m_window->show();
}

void SettingsScene::openSettings()
{
    ASSERT_MAIN_THREAD();
    SettingsWindowPresenter::shared().present([this] { open(); });
}
