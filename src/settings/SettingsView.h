#pragma once

#include "settings/SettingsFormModel.h"
#include "usage/UsageProvider.h"

#include <QFileDialog>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <optional>

class CoalescedCall;
class Defaults;
class PanelDisplaySettings;
class ProfileSettingsSection;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QVBoxLayout;
class UsageAccounts;

namespace settingsform {
class FormSection;
class SelectableText;
}

// The settings window's form: version, theme, panel screens, the profiles of
// every offered provider with their folders, the refresh interval, feedback and
// support. Every choice is written at once; there is no Save step.
class SettingsView final : public QWidget {
    Q_OBJECT
public:
    // What the form takes from the build and the system.
    struct Environment {
        std::optional<QVariantMap> info; // the build's information dictionary
        QString supportAddress;
        settingsmodel::PlatformInfo platform;
        std::function<void(const QUrl&)> openURL;
        std::function<void()> playSuccess;

        // The application's: the build information, QSysInfo, the desktop's
        // URL handler and the shared feedback cues.
        static Environment application();
    };

    static constexpr int kWidth = 560;
    static constexpr int kHeight = 760;

    SettingsView(UsageAccounts& accounts, PanelDisplaySettings& displays, Defaults& defaults,
                 Environment environment = Environment::application(), QWidget* parent = nullptr);
    ~SettingsView() override;

    // Actions.
    void findProfiles();
    // Opens the non-modal folder chooser for `provider`.
    void chooseProfileFolder(UsageProvider provider);
    // The chooser's answer: on QDialog::Accepted adds `folders` in order, stopping
    // at the first that fails and showing its error.
    void addChosenFolders(int response, const QStringList& folders, UsageProvider provider);
    void testFeedback();

    const std::optional<QString>& folderError() const { return m_folderError; }
    // Clears the folder error, closing its alert.
    void dismissFolderError();

    // Parts, for the window and its tests.
    QList<ProfileSettingsSection*> profileSections() const { return m_profileSections; }
    // Header texts of the form's sections, top to bottom (empty for the version section).
    QStringList sectionHeaders() const;
    QComboBox* themePicker() const { return m_theme; }
    QComboBox* displayPicker() const { return m_display; }
    QComboBox* refreshPicker() const { return m_refresh; }
    QLabel* themeCaption() const { return m_themeCaption; }
    QLabel* displayCaption() const { return m_displayCaption; }
    QLabel* versionValue() const { return m_version; }
    QPushButton* findProfilesButton() const { return m_findProfiles; }
    settingsform::SelectableText* discoveryError() const { return m_discoveryError; }
    QLabel* noProvidersText() const { return m_noProviders; }
    QCheckBox* soundsToggle() const { return m_sounds; }
    QCheckBox* hapticsToggle() const { return m_haptics; }
    QPushButton* testFeedbackButton() const { return m_testFeedback; }
    QPushButton* supportLink() const { return m_supportLink; }
    settingsform::SelectableText* supportCaption() const { return m_supportCaption; }
    // The last chooser opened, while it is open.
    QFileDialog* folderChooser() const { return m_chooser; }
    QMessageBox* folderAlert() const { return m_alert; }

    // Brings what the form shows in line with the registry and the display settings now.
    void sync();

protected:
    void showEvent(QShowEvent* event) override;

private:
    settingsform::FormSection* addSection(const QString& header);
    void buildVersionSection();
    void buildAppearanceSection();
    void buildPlacementSection();
    void buildAccountsSection();
    void buildRefreshSection();
    void buildFeedbackSection();
    void buildSupportSection();
    void syncDisplayPicker();
    void showFolderAlert();

    UsageAccounts& m_accounts;
    PanelDisplaySettings& m_displays;
    Defaults& m_defaults;
    Environment m_environment;
    std::optional<QString> m_folderError;

    QVBoxLayout* m_content = nullptr;
    QList<settingsform::FormSection*> m_sections;
    QList<ProfileSettingsSection*> m_profileSections;
    QLabel* m_version = nullptr;
    QComboBox* m_theme = nullptr;
    QLabel* m_themeCaption = nullptr;
    QComboBox* m_display = nullptr;
    QList<settingsmodel::PickerOption> m_displayOptions;
    QLabel* m_displayCaption = nullptr;
    QPushButton* m_findProfiles = nullptr;
    settingsform::SelectableText* m_discoveryError = nullptr;
    QWidget* m_discoveryErrorRow = nullptr;
    QLabel* m_noProviders = nullptr;
    QComboBox* m_refresh = nullptr;
    QCheckBox* m_sounds = nullptr;
    QCheckBox* m_haptics = nullptr;
    QPushButton* m_testFeedback = nullptr;
    QPushButton* m_supportLink = nullptr;
    settingsform::SelectableText* m_supportCaption = nullptr;
    QPointer<QFileDialog> m_chooser;
    QPointer<QMessageBox> m_alert;
    CoalescedCall* m_refreshCall;
};
