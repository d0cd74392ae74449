#include "ProfileSettingsSection.h"

#include "platform/CoalescedCall.h"
#include "platform/MainThread.h"
#include "settings/ProfileSettingsModel.h"
#include "settings/ProfileSettingsRow.h"
#include "settings/SettingsFormParts.h"
#include "usage/UsageAccounts.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using namespace settingsform;

ProfileSettingsSection::ProfileSettingsSection(UsageAccounts& accounts, UsageProvider provider,
                                               std::function<void()> addFolder, QWidget* parent)
    : QWidget(parent)
    , m_accounts(accounts)
    , m_provider(provider)
    , m_addFolder(std::move(addFolder))
    , m_section(new FormSection(displayName(provider), this))
    , m_refresh(new CoalescedCall([this] { sync(); }, this))
{
    ASSERT_MAIN_THREAD();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_section);

    m_empty = label(profilesettings::kEmptyText, fonts::style(TextStyle::body), TextRole::secondary);
    m_emptyRow = settingsform::row(m_empty, m_section->box());
    m_section->addRow(m_emptyRow);

    m_add = new QPushButton(profilesettings::kAddFolderText);
    m_add->setFlat(true);
    m_add->setCursor(Qt::PointingHandCursor);
    m_section->addRow(settingsform::row(m_add, m_section->box()));
    m_add->parentWidget()->layout()->setAlignment(m_add, Qt::AlignLeft);
    connect(m_add, &QPushButton::clicked, this, [this] {
        if (m_addFolder)
            m_addFolder();
    });

    connect(&m_accounts, &UsageAccounts::profilesChanged, m_refresh, &CoalescedCall::request);
    connect(&m_accounts, &UsageAccounts::connectionErrorsChanged, m_refresh, &CoalescedCall::request);
    sync();
}

ProfileSettingsSection::~ProfileSettingsSection() = default;

QLabel* ProfileSettingsSection::header() const
{
    return m_section->header();
}

QStringList ProfileSettingsSection::rowIDs() const
{
    QStringList ids;
    QVBoxLayout* rows = m_section->box()->rows();
    for (int i = 0; i < rows->count(); ++i) {
        if (auto* row = qobject_cast<ProfileSettingsRow*>(rows->itemAt(i)->widget()))
            ids << row->profileID();
    }
    return ids;
}

void ProfileSettingsSection::sync()
{
    ASSERT_MAIN_THREAD();
    const profilesettings::SectionModel model = profilesettings::sectionModel(m_provider, m_accounts.profiles());
    QVBoxLayout* rows = m_section->box()->rows();

    QStringList wanted;
    for (const ProviderProfile& profile : model.profiles) {
        const QString id = profile.id();
        wanted << id;
        if (ProfileSettingsRow* row = m_rows.value(id))
            row->refresh(profile);
        else
            m_rows.insert(id, new ProfileSettingsRow(m_accounts, profile, m_section->box()));
    }
    for (auto it = m_rows.begin(); it != m_rows.end();) {
        if (wanted.contains(it.key())) {
            ++it;
            continue;
        }
        rows->removeWidget(it.value());
        it.value()->hide();
        it.value()->deleteLater();
        it = m_rows.erase(it);
    }
    if (rowIDs() != wanted) {
        for (const QString& id : wanted)
            rows->removeWidget(m_rows.value(id));
        for (qsizetype i = 0; i < wanted.size(); ++i) {
            ProfileSettingsRow* row = m_rows.value(wanted.at(i));
            rows->insertWidget(int(i), row);
            row->show();
        }
    }
    m_emptyRow->setVisible(model.showsEmptyText());
    m_section->box()->update();
}
