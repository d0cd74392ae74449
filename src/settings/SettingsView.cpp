#include "SettingsView.h"

#include "BuildInfo.h"
#include "accounts/UsageAccounts.h"
#include "panel/Appearance.h"
#include "panel/FeedbackController.h"
#include "platform/CoalescedCall.h"
#include "platform/Defaults.h"
#include "platform/MainThread.h"
#include "settings/ProfileSettingsSection.h"
#include "settings/SettingsFormParts.h"
#include "settings/SettingsWindowPresenter.h"
#include "usage/ProviderClientError.h"
#include "windows/PanelDisplaySettings.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

using namespace settingsform;
using namespace settingsmodel;

namespace {

constexpr int kScenePadding = 20;
constexpr int kSectionSpacing = 18;

QComboBox* picker(const QString& objectName, const QString& accessibleName)
{
    auto* combo = new QComboBox;
    combo->setObjectName(objectName);
    combo->setAccessibleName(accessibleName);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    combo->setFont(fonts::style(TextStyle::body));
    return combo;
}

void fill(QComboBox* combo, const QList<PickerOption>& options)
{
    combo->clear();
    for (const PickerOption& option : options)
        combo->addItem(option.title, option.tag);
}

int indexOfTag(const QList<PickerOption>& options, const QString& tag)
{
    for (int i = 0; i < int(options.size()); ++i) {
        if (options.at(i).tag == tag)
            return i;
    }
    return -1;
}

void selectIndex(QComboBox* combo, int index)
{
    if (combo->currentIndex() != index)
        combo->setCurrentIndex(index);
}

QLabel* caption(const QString& text, TextRole role = TextRole::secondary)
{
    return label(text, fonts::style(TextStyle::caption), role);
}

// A button that reads as text with a leading symbol, as form buttons do.
QPushButton* formButton(const QString& text)
{
    auto* button = new QPushButton(text);
    button->setFont(fonts::style(TextStyle::body));
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

// Puts `message` above the chooser's own controls.
void addMessage(QFileDialog* dialog, const QString& message)
{
    auto* grid = qobject_cast<QGridLayout*>(dialog->layout());
    QLabel* text = label(message, fonts::style(TextStyle::callout), TextRole::primary, dialog);
    text->setObjectName(QStringLiteral("message"));
    if (!grid) {
        if (dialog->layout())
            dialog->layout()->addWidget(text);
        return;
    }
    struct Placed {
        QLayoutItem* item;
        int row, column, rowSpan, columnSpan;
    };
    QList<Placed> items;
    while (grid->count() > 0) {
        Placed p {};
        grid->getItemPosition(0, &p.row, &p.column, &p.rowSpan, &p.columnSpan);
        p.item = grid->takeAt(0);
        items.append(p);
    }
    const int columns = std::max(1, grid->columnCount());
    grid->addWidget(text, 0, 0, 1, columns);
    for (const Placed& p : items)
        grid->addItem(p.item, p.row + 1, p.column, p.rowSpan, p.columnSpan);
}

} // namespace

SettingsView::Environment SettingsView::Environment::application()
{
    Environment environment;
    environment.info = buildinfo::infoDictionary();
    environment.supportAddress = QString::fromUtf8(buildinfo::kSupportAddress);
    environment.platform = PlatformInfo::current();
    environment.openURL = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    environment.playSuccess = [] { FeedbackController::shared().playSuccess(); };
    return environment;
}

SettingsView::SettingsView(UsageAccounts& accounts, PanelDisplaySettings& displays, Defaults& defaults,
                           Environment environment, QWidget* parent)
    : QWidget(parent)
    , m_accounts(accounts)
    , m_displays(displays)
    , m_defaults(defaults)
    , m_environment(std::move(environment))
    , m_refreshCall(new CoalescedCall([this] { sync(); }, this))
{
    ASSERT_MAIN_THREAD();
    setFixedSize(kWidth, kHeight);
    setAutoFillBackground(true);

    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget;
    content->setAutoFillBackground(false);
    m_content = new QVBoxLayout(content);
    m_content->setContentsMargins(kScenePadding, kScenePadding, kScenePadding, kScenePadding);
    m_content->setSpacing(kSectionSpacing);
    scroll->setWidget(content);
    scroll->viewport()->setAutoFillBackground(false);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);

    buildVersionSection();
    buildAppearanceSection();
    buildPlacementSection();
    buildAccountsSection();
    buildRefreshSection();
    buildFeedbackSection();
    buildSupportSection();
    m_content->addStretch(1);

    connect(&m_accounts, &UsageAccounts::discoveryErrorChanged, m_refreshCall, &CoalescedCall::request);
    connect(&m_displays, &PanelDisplaySettings::themeChanged, m_refreshCall, &CoalescedCall::request);
    connect(&m_displays, &PanelDisplaySettings::selectionChanged, m_refreshCall, &CoalescedCall::request);
    connect(&m_displays, &PanelDisplaySettings::connectedDisplaysChanged, m_refreshCall, &CoalescedCall::request);
    connect(&m_displays, &PanelDisplaySettings::savedDisplayNameChanged, m_refreshCall, &CoalescedCall::request);
    connect(&Appearance::shared(), &Appearance::changed, this, [this](bool dark) { applyAppearance(this, dark); });
    applyAppearance(this, Appearance::shared().isDark());
    sync();
}

SettingsView::~SettingsView() = default;

FormSection* SettingsView::addSection(const QString& header)
{
    auto* section = new FormSection(header);
    m_content->addWidget(section);
    m_sections.append(section);
    return section;
}

QStringList SettingsView::sectionHeaders() const
{
    QStringList headers;
    for (int i = 0; i < m_content->count(); ++i) {
        QWidget* widget = m_content->itemAt(i)->widget();
        if (auto* section = qobject_cast<FormSection*>(widget))
            headers << (section->header() ? section->header()->text() : QString());
        else if (auto* profiles = qobject_cast<ProfileSettingsSection*>(widget))
            headers << profiles->header()->text();
    }
    return headers;
}

void SettingsView::buildVersionSection()
{
    FormSection* section = addSection({});
    m_version = new QLabel(versionText(m_environment.info));
    m_version->setObjectName(QStringLiteral("settings.version"));
    m_version->setAccessibleName(kVersionLabel);
    m_version->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_version->setFont(fonts::style(TextStyle::body));
    setTextRole(m_version, TextRole::secondary);
    section->addRow(labelledRow(kVersionLabel, m_version));
}

void SettingsView::buildAppearanceSection()
{
    FormSection* section = addSection(kAppearanceHeader);
    m_theme = picker(QStringLiteral("settings.theme"), kThemeLabel);
    fill(m_theme, themeOptions());
    section->addRow(labelledRow(kThemeLabel, m_theme));
    m_themeCaption = caption(settingsmodel::themeCaption(m_environment.platform));
    section->addRow(row(m_themeCaption));
    connect(m_theme, &QComboBox::activated, this, [this](int index) {
        if (const auto theme = appThemeFromRawValue(m_theme->itemData(index).toString()))
            m_displays.setTheme(*theme);
        sync();
    });
}

void SettingsView::buildPlacementSection()
{
    FormSection* section = addSection(kPlacementHeader);
    m_display = picker(QStringLiteral("settings.panelDisplay"), kDisplayLabel);
    section->addRow(labelledRow(kDisplayLabel, m_display));
    m_displayCaption = caption({});
    section->addRow(row(m_displayCaption));
    connect(m_display, &QComboBox::activated, this, [this](int index) {
        m_displays.selectDisplay(m_display->itemData(index).toString());
        sync();
    });
}

void SettingsView::buildAccountsSection()
{
    FormSection* section = addSection(kAccountsHeader);
    if (m_accounts.availableProviders().isEmpty()) {
        m_noProviders = label(kNoProvidersText, fonts::style(TextStyle::callout), TextRole::secondary);
        section->addRow(row(m_noProviders));
        return;
    }
    m_findProfiles = formButton(findProfilesTitle(m_environment.platform));
    setSymbol(m_findProfiles, PanelSymbol::arrowClockwise);
    section->addRow(row(m_findProfiles));
    m_findProfiles->parentWidget()->layout()->setAlignment(m_findProfiles, Qt::AlignLeft);
    connect(m_findProfiles, &QPushButton::clicked, this, &SettingsView::findProfiles);
    section->addRow(row(caption(kDiscoveryCaption)));
    m_discoveryError = new SelectableText(fonts::style(TextStyle::caption), TextRole::orange);
    m_discoveryErrorRow = row(m_discoveryError);
    section->addRow(m_discoveryErrorRow);

    for (UsageProvider provider : m_accounts.availableProviders()) {
        auto* profiles = new ProfileSettingsSection(m_accounts, provider,
                                                    [this, provider] { chooseProfileFolder(provider); });
        m_content->addWidget(profiles);
        m_profileSections.append(profiles);
    }
}

void SettingsView::buildRefreshSection()
{
    FormSection* section = addSection(kRefreshHeader);
    m_refresh = picker(QString(), kRefreshLabel);
    fill(m_refresh, refreshOptions());
    section->addRow(labelledRow(kRefreshLabel, m_refresh));
    connect(m_refresh, &QComboBox::activated, this, [this](int index) {
        m_defaults.setDouble(kRefreshIntervalKey, m_refresh->itemData(index).toString().toDouble());
    });
}

void SettingsView::buildFeedbackSection()
{
    FormSection* section = addSection(kFeedbackHeader);
    m_sounds = new QCheckBox(kSoundsLabel);
    m_haptics = new QCheckBox(kHapticsLabel);
    for (QCheckBox* toggle : {m_sounds, m_haptics}) {
        toggle->setFont(fonts::style(TextStyle::body));
        section->addRow(row(toggle));
    }
    connect(m_sounds, &QCheckBox::clicked, this, [this](bool on) { m_defaults.setBool(kSoundsKey, on); });
    connect(m_haptics, &QCheckBox::clicked, this, [this](bool on) { m_defaults.setBool(kHapticsKey, on); });
    m_testFeedback = formButton(kTestFeedbackLabel);
    section->addRow(row(m_testFeedback));
    m_testFeedback->parentWidget()->layout()->setAlignment(m_testFeedback, Qt::AlignLeft);
    connect(m_testFeedback, &QPushButton::clicked, this, &SettingsView::testFeedback);
}

void SettingsView::buildSupportSection()
{
    FormSection* section = addSection(kSupportHeader);
    const QString subject = supportSubject(versionText(m_environment.info));
    const std::optional<QUrl> url = supportMailURL(m_environment.supportAddress, subject,
                                                   supportBody(subject, m_environment.platform));
    if (url) {
        m_supportLink = new QPushButton(kSupportLinkTitle);
        m_supportLink->setFlat(true);
        m_supportLink->setCursor(Qt::PointingHandCursor);
        m_supportLink->setFont(fonts::style(TextStyle::body));
        setTextRole(m_supportLink, TextRole::link);
        section->addRow(row(m_supportLink));
        m_supportLink->parentWidget()->layout()->setAlignment(m_supportLink, Qt::AlignLeft);
        const QUrl target = *url;
        connect(m_supportLink, &QPushButton::clicked, this, [this, target] {
            if (m_environment.openURL)
                m_environment.openURL(target);
        });
    }
    m_supportCaption = new SelectableText(fonts::style(TextStyle::caption), TextRole::secondary);
    m_supportCaption->setContent(settingsmodel::supportCaption(m_environment.supportAddress));
    section->addRow(row(m_supportCaption));
}

void SettingsView::sync()
{
    ASSERT_MAIN_THREAD();
    selectIndex(m_theme, indexOfTag(themeOptions(), rawValue(m_displays.theme())));
    syncDisplayPicker();
    if (m_discoveryError) {
        const std::optional<QString>& error = m_accounts.discoveryError();
        m_discoveryError->setContent(error.value_or(QString()));
        m_discoveryErrorRow->setVisible(error.has_value());
    }
    selectIndex(m_refresh, refreshOptionIndex(refreshInterval(m_defaults)));
    if (m_sounds->isChecked() != feedbackEnabled(m_defaults, kSoundsKey))
        m_sounds->setChecked(feedbackEnabled(m_defaults, kSoundsKey));
    if (m_haptics->isChecked() != feedbackEnabled(m_defaults, kHapticsKey))
        m_haptics->setChecked(feedbackEnabled(m_defaults, kHapticsKey));
    for (FormSection* section : m_sections)
        section->box()->update();
}

void SettingsView::syncDisplayPicker()
{
    QList<PickerOption> connected;
    for (const PanelDisplay& display : m_displays.connectedDisplays())
        connected.append({display.name, display.id});
    const std::optional<QString> unavailable = m_displays.unavailableSelectionName();
    const QList<PickerOption> options = displayOptions(connected, m_displays.selection(), unavailable);
    if (options != m_displayOptions) {
        m_displayOptions = options;
        fill(m_display, options);
    }
    selectIndex(m_display, indexOfTag(options, m_displays.effectiveSelection()));
    const QString text = settingsmodel::displayCaption(unavailable);
    if (m_displayCaption->text() != text)
        m_displayCaption->setText(text);
}

void SettingsView::findProfiles()
{
    ASSERT_MAIN_THREAD();
    m_accounts.discoverProfiles();
    // The Copilot accounts are merged on a later turn; the list and the
    // discovery error reach the form through the registry's signals.
    QPointer<UsageAccounts> accounts(&m_accounts);
    QMetaObject::invokeMethod(
        &m_accounts,
        [accounts] {
            if (accounts)
                accounts->refreshCopilotAccounts();
        },
        Qt::QueuedConnection);
}

void SettingsView::chooseProfileFolder(UsageProvider provider)
{
    ASSERT_MAIN_THREAD();
    auto* dialog = new QFileDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setWindowTitle(folderChooserTitle(provider));
    addMessage(dialog, kFolderChooserMessage);
    dialog->setLabelText(QFileDialog::Accept, kFolderChooserPrompt);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    // Read-only: no new folders, renames or deletions from the chooser.
    dialog->setOption(QFileDialog::ReadOnly);
    dialog->setFilter(dialog->filter() | QDir::Hidden);
    dialog->setDirectory(m_accounts.home());
    for (QAbstractItemView* view : dialog->findChildren<QAbstractItemView*>(QStringLiteral("listView")))
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    for (QAbstractItemView* view : dialog->findChildren<QAbstractItemView*>(QStringLiteral("treeView")))
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    if (auto* newFolder = dialog->findChild<QToolButton*>(QStringLiteral("newFolderButton")))
        newFolder->hide();
    dialog->setWindowModality(Qt::NonModal);
    QPointer<QFileDialog> guard(dialog);
    connect(dialog, &QFileDialog::finished, this, [this, guard, provider](int response) {
        const QStringList folders = guard ? guard->selectedFiles() : QStringList();
        addChosenFolders(response, folders, provider);
    });
    m_chooser = dialog;
    dialog->show();
}

void SettingsView::addChosenFolders(int response, const QStringList& folders, UsageProvider provider)
{
    ASSERT_MAIN_THREAD();
    if (response != QDialog::Accepted)
        return;
    for (const QString& folder : folders) {
        try {
            m_accounts.addProfileFolder(folder, provider);
        } catch (...) {
            m_folderError = ProviderClientError::from(std::current_exception()).errorDescription();
            showFolderAlert();
            return;
        }
    }
}

void SettingsView::showFolderAlert()
{
    if (!m_alert) {
        m_alert = new QMessageBox(this);
        m_alert->setAttribute(Qt::WA_DeleteOnClose);
        m_alert->setIcon(QMessageBox::Warning);
        m_alert->setWindowTitle(kFolderErrorTitle);
        m_alert->setText(kFolderErrorTitle);
        m_alert->addButton(QStringLiteral("OK"), QMessageBox::RejectRole);
        m_alert->setWindowModality(Qt::WindowModal);
        connect(m_alert, &QMessageBox::finished, this, [this] { m_folderError.reset(); });
    }
    m_alert->setInformativeText(m_folderError.value_or(QString()));
    m_alert->open();
}

void SettingsView::dismissFolderError()
{
    m_folderError.reset();
    if (m_alert)
        m_alert->close();
}

void SettingsView::testFeedback()
{
    ASSERT_MAIN_THREAD();
    if (m_environment.playSuccess)
        m_environment.playSuccess();
}

void SettingsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // The form tells the presenter which window is the settings window.
    SettingsWindowPresenter::shared().attach(window());
}
