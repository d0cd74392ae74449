#pragma once

#include "settings/SettingsView.h"

#include <QObject>
#include <QPointer>

class Defaults;
class PanelDisplaySettings;
class UsageAccounts;

// The application's one settings window: made on demand around a fresh form,
// discarded when closed; the quitting rule of the application is not touched.
class SettingsScene final : public QObject {
    Q_OBJECT
public:
    static inline const QString kWindowTitle = QStringLiteral("Настройки Vantorel");

    SettingsScene(UsageAccounts& accounts, PanelDisplaySettings& displays, Defaults& defaults,
                  SettingsView::Environment environment = SettingsView::Environment::application(),
                  QObject* parent = nullptr);
    ~SettingsScene() override;

    // Shows the settings window, making it when there is none.
    void open();
    // The panel's "Настройки": brings the window forward, or opens it, through the presenter.
    void openSettings();

    SettingsView* window() const { return m_window; }

private:
    UsageAccounts& m_accounts;
    PanelDisplaySettings& m_displays;
    Defaults& m_defaults;
    SettingsView::Environment m_environment;
    QPointer<SettingsView> m_window;
};
