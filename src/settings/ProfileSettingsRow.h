#pragma once

#include "settings/ProfileSettingsModel.h"
#include "usage/ProviderProfile.h"

#include <QMap>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class UsageAccounts;

namespace settingsform {
class SelectableText;
}

// One profile in its provider's settings section: the visibility checkbox,
// the name field, the folder, the Antigravity quota groups and the retry of
// a failed connection. Every change goes straight to the registry; a refresh
// touches only what differs, so typing, cursor and selection survive it.
class ProfileSettingsRow final : public QWidget {
    Q_OBJECT
public:
    ProfileSettingsRow(UsageAccounts& accounts, const ProviderProfile& profile, QWidget* parent = nullptr);

    const ProviderProfile& profile() const { return m_profile; }
    QString profileID() const { return m_model.id; }
    const profilesettings::RowModel& model() const { return m_model; }

    // Shows `profile` (same id) with the registry's current visibility and connection error.
    void refresh(const ProviderProfile& profile);

    QCheckBox* visibleToggle() const { return m_visible; }
    QLineEdit* nameField() const { return m_name; }
    settingsform::SelectableText* folderText() const { return m_folder; }
    // None for profiles other than Antigravity.
    QWidget* groupBlock() const { return m_groupBlock; }
    QCheckBox* groupToggle(AntigravityQuotaGroup group) const { return m_groupToggles.value(group); }
    settingsform::SelectableText* errorText() const { return m_error; }
    QPushButton* retryButton() const { return m_retry; }

private:
    void buildGroupBlock();
    void display(const profilesettings::RowModel& model);

    UsageAccounts& m_accounts;
    ProviderProfile m_profile;
    profilesettings::RowModel m_model;

    QCheckBox* m_visible;
    QLineEdit* m_name;
    settingsform::SelectableText* m_folder;
    QWidget* m_groupBlock = nullptr;
    QMap<AntigravityQuotaGroup, QCheckBox*> m_groupToggles;
    settingsform::SelectableText* m_error;
    QPushButton* m_retry;
};
