#pragma once

#include "usage/UsageProvider.h"

#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

class CoalescedCall;
class KeyedWidgetList;
class ProfileSettingsRow;
class QLabel;
class QPushButton;
class UsageAccounts;

namespace settingsform {
class FormSection;
}

// One provider's section of the settings form: a row per profile of that
// provider in list order, "Профили пока не найдены" when there is none, and
// the button that adds a profile folder. Rows are kept and updated in place,
// keyed by profile id, once per event-loop turn after the registry changes.
class ProfileSettingsSection final : public QWidget {
    Q_OBJECT
public:
    ProfileSettingsSection(UsageAccounts& accounts, UsageProvider provider, std::function<void()> addFolder,
                           QWidget* parent = nullptr);
    ~ProfileSettingsSection() override;

    UsageProvider provider() const { return m_provider; }
    // Profile ids of the rows, top to bottom.
    QStringList rowIDs() const;
    ProfileSettingsRow* row(const QString& profileID) const;
    QLabel* header() const;
    QLabel* emptyText() const { return m_empty; }
    QPushButton* addButton() const { return m_add; }

    // Brings the rows in line with the registry now.
    void sync();

private:
    UsageAccounts& m_accounts;
    const UsageProvider m_provider;
    std::function<void()> m_addFolder;
    settingsform::FormSection* m_section;
    std::unique_ptr<KeyedWidgetList> m_rows;
    QLabel* m_empty;
    QWidget* m_emptyRow;
    QPushButton* m_add;
    CoalescedCall* m_refresh;
};
