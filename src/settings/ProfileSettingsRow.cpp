#include "ProfileSettingsRow.h"

#include "accounts/UsageAccounts.h"
#include "platform/MainThread.h"
#include "settings/SettingsFormParts.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

using namespace settingsform;

namespace {

std::optional<QString> connectionError(const UsageAccounts& accounts, const QString& id)
{
    const auto found = accounts.connectionErrors().constFind(id);
    if (found == accounts.connectionErrors().constEnd())
        return std::nullopt;
    return found.value();
}

} // namespace

ProfileSettingsRow::ProfileSettingsRow(UsageAccounts& accounts, const ProviderProfile& profile, QWidget* parent)
    : QWidget(parent)
    , m_accounts(accounts)
    , m_profile(profile)
{
    ASSERT_MAIN_THREAD();
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 3 + 6, 12, 3 + 6);
    layout->setSpacing(12);
    layout->setAlignment(Qt::AlignTop);

    m_visible = new QCheckBox(this);
    layout->addWidget(m_visible, 0, Qt::AlignTop);

    auto* column = new QVBoxLayout;
    column->setSpacing(4);
    column->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(column, 1);

    m_name = new QLineEdit(this);
    m_name->setFrame(false);
    m_name->setPlaceholderText(profilesettings::kNamePlaceholder);
    m_name->setFont(fonts::style(TextStyle::body));
    m_name->setTextMargins(0, 0, 0, 0);
    QPalette fieldPalette = m_name->palette();
    fieldPalette.setColor(QPalette::Base, Qt::transparent);
    m_name->setPalette(fieldPalette);
    column->addWidget(m_name);
    // The checkbox stands level with the name.
    m_visible->setFixedHeight(m_name->sizeHint().height());

    m_folder = new SelectableText(fonts::style(TextStyle::caption), TextRole::secondary, this);
    column->addWidget(m_folder);

    if (profile.provider == UsageProvider::antigravity) {
        buildGroupBlock();
        column->addWidget(m_groupBlock);
    }

    m_error = new SelectableText(fonts::style(TextStyle::caption), TextRole::orange, this);
    column->addWidget(m_error);
    m_retry = new QPushButton(profilesettings::kRetryText, this);
    column->addWidget(m_retry, 0, Qt::AlignLeft);

    const QString id = profile.id();
    connect(m_visible, &QCheckBox::clicked, this, [this, id](bool on) { m_accounts.setVisible(on, id); });
    connect(m_name, &QLineEdit::textEdited, this, [this, id](const QString& text) { m_accounts.rename(id, text); });
    connect(m_retry, &QPushButton::clicked, this, [this] { m_accounts.retrySetup(m_profile); });

    m_model.id = id;
    refresh(profile);
}

void ProfileSettingsRow::buildGroupBlock()
{
    m_groupBlock = new QWidget(this);
    auto* block = new QVBoxLayout(m_groupBlock);
    block->setContentsMargins(0, 8, 0, 8);
    block->setSpacing(10);
    block->addWidget(label(profilesettings::kGroupsCaption, fonts::style(TextStyle::caption, QFont::DemiBold),
                           TextRole::primary, m_groupBlock));
    const int indent = m_groupBlock->style()->pixelMetric(QStyle::PM_IndicatorWidth)
        + m_groupBlock->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
    const QString id = m_profile.id();
    for (AntigravityQuotaGroup group : kAllAntigravityQuotaGroups) {
        auto* holder = new QWidget(m_groupBlock);
        auto* stack = new QVBoxLayout(holder);
        stack->setContentsMargins(0, 0, 0, 0);
        stack->setSpacing(2);
        auto* toggle = new QCheckBox(profilesettings::groupTitle(group), holder);
        toggle->setFont(fonts::style(TextStyle::body));
        stack->addWidget(toggle);
        QLabel* models = label(profilesettings::groupModelsLine(group), fonts::style(TextStyle::caption),
                               TextRole::secondary, holder);
        models->setContentsMargins(indent, 0, 0, 0);
        stack->addWidget(models);
        block->addWidget(holder);
        m_groupToggles.insert(group, toggle);
        connect(toggle, &QCheckBox::clicked, this,
                [this, group, id](bool on) { m_accounts.setAntigravityGroupHidden(group, !on, id); });
    }
    block->addWidget(label(profilesettings::kGroupsNote, fonts::style(TextStyle::caption), TextRole::secondary,
                           m_groupBlock));
}

void ProfileSettingsRow::refresh(const ProviderProfile& profile)
{
    ASSERT_MAIN_THREAD();
    Q_ASSERT(profile.id() == m_model.id);
    m_profile = profile;
    display(profilesettings::rowModel(profile, m_accounts.isProfileVisible(m_model.id),
                                   connectionError(m_accounts, m_model.id), m_accounts.home()));
}

void ProfileSettingsRow::display(const profilesettings::RowModel& model)
{
    // Each widget is compared with what it shows, so an unchanged field is left alone.
    if (m_visible->isChecked() != model.visible)
        m_visible->setChecked(model.visible);
    if (m_visible->objectName() != model.visibleObjectName)
        m_visible->setObjectName(model.visibleObjectName);
    if (model.visibleLabel != m_visible->accessibleName())
        m_visible->setAccessibleName(model.visibleLabel);
    if (model.name != m_name->text()) {
        const int cursor = m_name->cursorPosition();
        m_name->setText(model.name);
        m_name->setCursorPosition(std::min<int>(cursor, int(model.name.size())));
    }
    if (model.nameLabel != m_name->accessibleName())
        m_name->setAccessibleName(model.nameLabel);
    m_folder->setContent(model.folder);
    for (const profilesettings::GroupToggle& group : model.groups) {
        QCheckBox* toggle = m_groupToggles.value(group.group);
        if (!toggle)
            continue;
        if (toggle->isChecked() != group.on)
            toggle->setChecked(group.on);
        if (toggle->objectName() != group.objectName)
            toggle->setObjectName(group.objectName);
        if (toggle->accessibleName() != group.accessibleName)
            toggle->setAccessibleName(group.accessibleName);
    }
    m_error->setContent(model.connectionError.value_or(QString()));
    m_error->setVisible(model.connectionError.has_value());
    m_retry->setVisible(model.connectionError.has_value());
    m_model = model;
}
