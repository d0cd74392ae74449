#include "ProfileSettingsSection.h"

#include "accounts/UsageAccounts.h"
#include "panel/KeyedWidgetList.h"
#include "platform/CoalescedCall.h"
#include "platform/MainThread.h"
#include "settings/ProfileSettingsModel.h"
#include "settings/ProfileSettingsRow.h"
#include "settings/SettingsFormParts.h"

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

    m_rows = std::make_unique<KeyedWidgetList>(*m_section->box()->rows());
    m_empty = label(profilesettings::kEmptyText, fonts::style(TextStyle::body), TextRole::secondary);
    m_emptyRow = settingsform::row(m_empty, m_section->box());
    m_section->addRow(m_emptyRow);

    m_add = new QPushButton(profilesettings::kAddFolderText);
    m_add->setFont(fonts::style(TextStyle::body));
    m_add->setCursor(Qt::PointingHandCursor);
    setSymbol(m_add, PanelSymbol::folderBadgePlus);
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
    return m_rows->keys();
}

ProfileSettingsRow* ProfileSettingsSection::row(const QString& profileID) const
{
    return static_cast<ProfileSettingsRow*>(m_rows->widget(profileID));
}

void ProfileSettingsSection::sync()
{
    ASSERT_MAIN_THREAD();
    const profilesettings::SectionModel model = profilesettings::sectionModel(m_provider, m_accounts.profiles());
    QStringList ids;
    for (const ProviderProfile& profile : model.profiles)
        ids << profile.id();
    m_rows->reconcile(
        ids,
        [&](int index) { return new ProfileSettingsRow(m_accounts, model.profiles.at(index), m_section->box()); },
        [&](QWidget* row, int index) { static_cast<ProfileSettingsRow*>(row)->refresh(model.profiles.at(index)); });
    m_emptyRow->setVisible(model.showsEmptyText());
    m_section->box()->update();
}
