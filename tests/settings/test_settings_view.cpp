#include "accounts/AccountsHarness.h"

#include "accounts/CollectorInstaller.h"
#include "panel/Appearance.h"
#include "settings/ProfileSettingsRow.h"
#include "settings/ProfileSettingsSection.h"
#include "settings/SettingsFormParts.h"
#include "settings/SettingsScene.h"
#include "settings/SettingsView.h"
#include "settings/SettingsWindowPresenter.h"
#include "uisupport/RenderHarness.h"
#include "windows/PanelDisplaySettings.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <QToolButton>
#include <QUrlQuery>

using namespace settingsmodel;

namespace {

const PlatformInfo kDebian {"debian", "linux", "6.1.0-18-amd64", "12", "Debian GNU/Linux 12 (bookworm)"};

void settleUi()
{
    QCoreApplication::processEvents();
}

bool shown(const QWidget* w)
{
    return w && !w->isHidden();
}

void choose(QComboBox* combo, const QString& title)
{
    const int index = combo->findText(title);
    QVERIFY2(index >= 0, qPrintable(title));
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

QStringList titles(const QComboBox* combo)
{
    QStringList out;
    for (int i = 0; i < combo->count(); ++i)
        out << combo->itemText(i);
    return out;
}

PanelDisplay display(const QString& id, const QString& name)
{
    return PanelDisplay {id, name, QRect(0, 0, 1920, 1080)};
}

} // namespace

// The registry, the display settings and the form on one temporary home.
struct Form {
    Harness h;
    QList<PanelDisplay> screens {display("display:A", "Dell U2720Q"), display("display:B", "LG UltraFine")};
    QList<Appearance::Forced> applied;
    std::unique_ptr<PanelDisplaySettings> displays;
    QList<QUrl> opened;
    int successCues = 0;
    std::unique_ptr<SettingsView> view;

    SettingsView::Environment environment(std::optional<QVariantMap> info = QVariantMap {
                                              {"CFBundleShortVersionString", "0.1.0"}, {"CFBundleVersion", "7"}})
    {
        SettingsView::Environment env;
        env.info = std::move(info);
        env.supportAddress = "help@example.org";
        env.platform = kDebian;
        env.openURL = [this](const QUrl& url) { opened << url; };
        env.playSuccess = [this] { ++successCues; };
        return env;
    }

    SettingsView& make(AppDistributionChannel channel = AppDistributionChannel::direct)
    {
        return make(environment(), channel);
    }
    SettingsView& make(SettingsView::Environment env, AppDistributionChannel channel = AppDistributionChannel::direct)
    {
        if (!h.accounts)
            h.make(channel);
        displays = std::make_unique<PanelDisplaySettings>(
            *h.defaults, [this] { return screens; }, [this](Appearance::Forced f) { applied << f; });
        view = std::make_unique<SettingsView>(*h.accounts, *displays, *h.defaults, std::move(env));
        return *view;
    }
};

class SettingsViewTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup()
    {
        Appearance::shared().setForced(Appearance::Forced::None);
    }

    // Sections

    void sectionsInOrder()
    {
        Form f;
        SettingsView& view = f.make();
        QCOMPARE(view.size(), QSize(560, 760));
        QCOMPARE(view.sectionHeaders(),
                 (QStringList {"", "Оформление", "Расположение панели", "Отображаемые аккаунты", "Claude Code", "Codex",
                               "Copilot", "Antigravity", "Обновление Codex и Copilot", "Обратная связь", "Поддержка"}));
        QVERIFY(!view.noProvidersText());
        QCOMPARE(view.findProfilesButton()->text(), QStringLiteral("Найти профили на этом компьютере с Linux"));
        QCOMPARE(view.themeCaption()->text(),
                 QStringLiteral("Для панели и этого окна. «Как в системе» следует за оформлением Linux."));
    }

    void withoutProvidersOnlyTheSandboxText()
    {
        Form f;
        SettingsView& view = f.make(AppDistributionChannel::appStore);
        QVERIFY(f.h.accounts->availableProviders().isEmpty());
        QVERIFY(view.profileSections().isEmpty());
        QVERIFY(!view.findProfilesButton());
        QVERIFY(view.noProvidersText());
        QVERIFY(view.noProvidersText()->text().endsWith("недоступны в App Sandbox."));
        QCOMPARE(view.sectionHeaders(),
                 (QStringList {"", "Оформление", "Расположение панели", "Отображаемые аккаунты",
                               "Обновление Codex и Copilot", "Обратная связь", "Поддержка"}));

        // A folder of a provider this build does not offer fails with the registry's text.
        QVERIFY(f.h.home.build({"d:.codex"}));
        view.addChosenFolders(QDialog::Accepted, {f.h.home.path(".codex")}, UsageProvider::codex);
        QCOMPARE(view.folderError(), std::optional<QString>("Codex недоступен в этой сборке Vantorel."));
    }

    // Version and support

    void versionAndSupportMail_data()
    {
        QTest::addColumn<std::optional<QVariantMap>>("info");
        QTest::addColumn<QString>("version");
        QTest::newRow("full") << std::optional<QVariantMap>(
            QVariantMap {{"CFBundleShortVersionString", "0.1.0"}, {"CFBundleVersion", "7"}}) << "0.1.0 (7)";
        QTest::newRow("no build number") << std::optional<QVariantMap>(
            QVariantMap {{"CFBundleShortVersionString", "0.1.0"}}) << "0.1.0 (?)";
    }
    void versionAndSupportMail()
    {
        QFETCH(std::optional<QVariantMap>, info);
        QFETCH(QString, version);
        Form f;
        SettingsView& view = f.make(f.environment(info));
        auto* value = view.findChild<QLabel*>("settings.version");
        QVERIFY(value);
        QCOMPARE(value->text(), version);
        QVERIFY(value->textInteractionFlags() & Qt::TextSelectableByMouse);

        QVERIFY(view.supportLink());
        QCOMPARE(view.supportLink()->text(), QStringLiteral("Написать в поддержку"));
        QCOMPARE(view.supportCaption()->text(), QStringLiteral("Ответим на письмо с help@example.org."));
        view.supportLink()->click();
        QCOMPARE(f.opened.size(), 1);
        const QUrl url = f.opened.first();
        QCOMPARE(url.scheme(), QStringLiteral("mailto"));
        QCOMPARE(url.path(), QStringLiteral("help@example.org"));
        const QUrlQuery query(url);
        QCOMPARE(query.queryItemValue("subject", QUrl::FullyDecoded), "Vantorel " + version);
        QCOMPARE(query.queryItemValue("body", QUrl::FullyDecoded),
                 "\n\n\u2014\nVantorel " + version + "\nLinux 6.1.0-18-amd64 (Debian GNU/Linux 12 (bookworm))");
    }

    void unformableMailHidesOnlyTheLink()
    {
        Form f;
        SettingsView::Environment env = f.environment();
        env.supportAddress = "//help";
        SettingsView& view = f.make(env);
        QVERIFY(!view.supportLink());
        QCOMPARE(view.supportCaption()->text(), QStringLiteral("Ответим на письмо с //help."));
    }

    // Appearance and placement

    void themePickerWritesAndFollows()
    {
        Form f;
        SettingsView& view = f.make();
        QComboBox* theme = view.findChild<QComboBox*>("settings.theme");
        QVERIFY(theme);
        QCOMPARE(titles(theme), (QStringList {"Как в системе", "Светлая", "Тёмная"}));
        QCOMPARE(theme->currentText(), QStringLiteral("Как в системе"));
        f.applied.clear();
        choose(theme, "Тёмная");
        QCOMPARE(f.displays->theme(), AppTheme::dark);
        QCOMPARE(f.h.defaults->string(PanelDisplaySettings::kThemeKey), std::optional<QString>("dark"));
        QCOMPARE(f.applied, (QList<Appearance::Forced> {Appearance::Forced::Dark}));

        f.displays->setTheme(AppTheme::light);
        settleUi();
        QCOMPARE(theme->currentText(), QStringLiteral("Светлая"));
    }

    // A chosen screen that goes shows as an extra row and changes the caption; both go when it returns.
    void displayPickerShowsAnAbsentChoice()
    {
        Form f;
        SettingsView& view = f.make();
        QComboBox* picker = view.findChild<QComboBox*>("settings.panelDisplay");
        QVERIFY(picker);
        const QString connectedCaption =
            "Выбор сохраняется. На всех экранах лимиты общие, а раскрытие панели — независимое.";
        QCOMPARE(titles(picker), (QStringList {"Основной экран", "Все экраны", "Dell U2720Q", "LG UltraFine"}));
        QCOMPARE(picker->currentText(), QStringLiteral("Основной экран"));
        QCOMPARE(view.displayCaption()->text(), connectedCaption);

        choose(picker, "LG UltraFine");
        QCOMPARE(f.displays->selection(), QStringLiteral("display:B"));

        f.screens.removeLast();
        f.displays->refreshDisplays();
        settleUi();
        QCOMPARE(titles(picker),
                 (QStringList {"Основной экран", "Все экраны", "Dell U2720Q", "LG UltraFine — не подключён"}));
        QCOMPARE(picker->currentText(), QStringLiteral("LG UltraFine — не подключён"));
        QCOMPARE(view.displayCaption()->text(),
                 QStringLiteral("LG UltraFine не подключён. Панель временно на основном экране и вернётся после подключения."));
        // Picking the absent row again changes nothing.
        choose(picker, "LG UltraFine — не подключён");
        QCOMPARE(f.displays->selection(), QStringLiteral("display:B"));

        f.screens.append(display("display:B", "LG UltraFine"));
        f.displays->refreshDisplays();
        settleUi();
        QCOMPARE(titles(picker), (QStringList {"Основной экран", "Все экраны", "Dell U2720Q", "LG UltraFine"}));
        QCOMPARE(picker->currentText(), QStringLiteral("LG UltraFine"));
        QCOMPARE(view.displayCaption()->text(), connectedCaption);

        choose(picker, "Все экраны");
        QCOMPARE(f.displays->selection(), QStringLiteral("all"));
    }

    // Preferences

    void preferencesAreWrittenAtOnce()
    {
        Form f;
        SettingsView& view = f.make();
        QCOMPARE(titles(view.refreshPicker()), (QStringList {"1 минуту", "5 минут", "15 минут"}));
        QCOMPARE(view.refreshPicker()->currentText(), QStringLiteral("5 минут"));
        choose(view.refreshPicker(), "1 минуту");
        QCOMPARE(f.h.defaults->object("refreshInterval"), std::optional<QVariant>(60.0));

        QCOMPARE(view.soundsToggle()->text(), QStringLiteral("Приятные звуки"));
        QCOMPARE(view.hapticsToggle()->text(), QStringLiteral("Тактильный отклик"));
        QVERIFY(view.soundsToggle()->isChecked() && view.hapticsToggle()->isChecked());
        view.soundsToggle()->click();
        QCOMPARE(f.h.defaults->object("soundsEnabled"), std::optional<QVariant>(false));
        QVERIFY(!f.h.defaults->contains("hapticsEnabled"));
        view.hapticsToggle()->click();
        QCOMPARE(f.h.defaults->object("hapticsEnabled"), std::optional<QVariant>(false));

        view.testFeedbackButton()->click();
        QCOMPARE(f.successCues, 1);

        // A new form reads what was written.
        SettingsView again(*f.h.accounts, *f.displays, *f.h.defaults, f.environment());
        QCOMPARE(again.refreshPicker()->currentText(), QStringLiteral("1 минуту"));
        QVERIFY(!again.soundsToggle()->isChecked() && !again.hapticsToggle()->isChecked());
    }

    // Profiles and folders

    void discoveryAddsHiddenProfilesAndShowsItsError()
    {
        Form f;
        f.h.copilotManual = true;
        SettingsView& view = f.make();
        QVERIFY(!shown(view.discoveryError()->parentWidget()));
        QVERIFY(f.h.home.build({"f:.codex/auth.json", "f:.copilot/config.json"}));
        view.findProfilesButton()->click();
        // Discovery at once; the Copilot listing on a later turn.
        QCOMPARE(f.h.home.describe(f.h.accounts->profiles()),
                 (QStringList {"codex|{home}/.codex|По умолчанию", "copilot|{home}/.copilot|По умолчанию"}));
        QVERIFY(f.h.copilotPending.empty());
        settleUi();
        QCOMPARE(f.h.copilotPending.size(), size_t(1));
        f.h.answerCopilot(Result<AccountList>::failure(
            std::make_exception_ptr(ProviderClientError::requestFailed("Copilot не ответил"))));
        settleUi();
        QVERIFY(shown(view.discoveryError()->parentWidget()));
        QCOMPARE(view.discoveryError()->text(), QStringLiteral("Copilot не ответил"));

        ProfileSettingsSection* codex = view.profileSections().at(1);
        QCOMPARE(codex->provider(), UsageProvider::codex);
        QCOMPARE(codex->rowIDs().size(), 1);
    }

    // Three folders, the second failing: the first is added, the third is not, the alert shows the error.
    void chosenFoldersStopAtTheFirstFailure()
    {
        Form f;
        QVERIFY(f.h.home.build({"d:one", "d:three"}));
        SettingsView& view = f.make();
        view.show();
        const QStringList folders {f.h.home.path("one"), f.h.home.path("two"), f.h.home.path("three")};

        view.addChosenFolders(QDialog::Rejected, folders, UsageProvider::codex);
        QVERIFY(f.h.accounts->profiles().isEmpty());
        QVERIFY(!view.folderError());

        view.addChosenFolders(QDialog::Accepted, folders, UsageProvider::codex);
        QCOMPARE(f.h.home.describe(f.h.accounts->profiles()), (QStringList {"codex|{home}/one|one"}));
        const QString message = "Не удалось открыть файл, так как он не существует.";
        QCOMPARE(view.folderError(), std::optional<QString>(message));
        QMessageBox* alert = view.folderAlert();
        QVERIFY(alert && alert->isVisible());
        QCOMPARE(alert->text(), QStringLiteral("Не удалось добавить папку"));
        QCOMPARE(alert->informativeText(), message);
        QCOMPARE(alert->buttons().size(), 1);
        QCOMPARE(alert->buttons().first()->text(), QStringLiteral("OK"));
        alert->buttons().first()->click();
        QVERIFY(!view.folderError());
        settleUi();
        QVERIFY(!view.folderAlert() || !view.folderAlert()->isVisible());
        settleUi();
        QCOMPARE(view.profileSections().at(1)->rowIDs().size(), 1);
    }

    // The chooser: non-modal, several folders, hidden ones listed, no new folders; accepting adds each.
    void folderChooserAddsEveryChosenFolder()
    {
        Form f;
        QVERIFY(f.h.home.build({"d:.claude-a", "d:.claude-b", "d:visible"}));
        SettingsView& view = f.make();
        view.show();
        ProfileSettingsSection* claude = view.profileSections().at(0);
        QCOMPARE(claude->provider(), UsageProvider::claude);
        claude->addButton()->click();
        QPointer<QFileDialog> chooser = view.folderChooser();
        QVERIFY(chooser);
        QVERIFY(chooser->isVisible());
        QCOMPARE(chooser->windowModality(), Qt::NonModal);
        QCOMPARE(chooser->windowTitle(), QStringLiteral("Папка профиля Claude"));
        QCOMPARE(chooser->labelText(QFileDialog::Accept), QStringLiteral("Добавить"));
        QCOMPARE(chooser->fileMode(), QFileDialog::Directory);
        QVERIFY(chooser->filter() & QDir::Hidden);
        QVERIFY(chooser->testOption(QFileDialog::ReadOnly));
        auto* message = chooser->findChild<QLabel*>("message");
        QVERIFY(message && message->text().startsWith("Выберите каталог конфигурации CLI."));
        auto* newFolder = chooser->findChild<QToolButton*>("newFolderButton");
        QVERIFY(!newFolder || !newFolder->isVisible() || !newFolder->isEnabled());
        QVERIFY(view.isEnabled()); // the form stays usable while the chooser is open

        // Wait for the folder listing, then pick both hidden folders.
        auto* list = chooser->findChild<QAbstractItemView*>("listView");
        QVERIFY(list);
        auto* model = qobject_cast<QFileSystemModel*>(list->model());
        QVERIFY(model);
        QTRY_VERIFY(model->index(f.h.home.path(".claude-b")).isValid());
        QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);
        // As a click and a Ctrl-click select them: whole rows.
        const auto pick = [&](const QString& path) {
            list->selectionModel()->select(model->index(path), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        };
        pick(f.h.home.path(".claude-a"));
        pick(f.h.home.path(".claude-b"));
        auto* buttons = chooser->findChild<QDialogButtonBox*>();
        QVERIFY(buttons);
        QPushButton* add = nullptr;
        for (QAbstractButton* b : buttons->buttons())
            if (buttons->buttonRole(b) == QDialogButtonBox::AcceptRole)
                add = qobject_cast<QPushButton*>(b);
        QVERIFY(add);
        QCOMPARE(add->text(), QStringLiteral("Добавить"));
        QVERIFY(add->isEnabled());
        add->click();
        QCOMPARE(f.h.home.describe(f.h.accounts->profiles()),
                 (QStringList {"claude|{home}/.claude-a|a", "claude|{home}/.claude-b|b"}));
        QVERIFY(!view.folderError());
    }

    // The window

    // "Настройки" twice fronts the same window; closed, it is made afresh.
    void sceneKeepsOneWindow()
    {
        Harness h;
        MemoryDefaults defaults;
        PanelDisplaySettings displays(defaults, [] { return QList<PanelDisplay> {}; }, [](Appearance::Forced) {});
        Form env;
        SettingsScene scene(h.make(), displays, defaults, env.environment());
        scene.openSettings();
        QPointer<SettingsView> first = scene.window();
        QVERIFY(first && first->isVisible());
        QCOMPARE(first->windowTitle(), QStringLiteral("Настройки Vantorel"));
        QCOMPARE(SettingsWindowPresenter::shared().window(), first.data());

        first->setWindowState(Qt::WindowMinimized);
        scene.openSettings();
        QCOMPARE(scene.window(), first.data());
        QVERIFY(!(first->windowState() & Qt::WindowMinimized));
        int forms = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            forms += qobject_cast<SettingsView*>(w) && w->isVisible();
        QCOMPARE(forms, 1);

        first->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!first);
        QVERIFY(!SettingsWindowPresenter::shared().window());
        scene.openSettings();
        QVERIFY(scene.window());
        QCOMPARE(SettingsWindowPresenter::shared().window(), scene.window());
        scene.window()->close();
    }

    // A change of appearance repaints the open form in the other colours.
    void followsTheAppearance()
    {
        Appearance::shared().setForced(Appearance::Forced::Light);
        Form f;
        SettingsView& view = f.make();
        const auto background = settingsform::adaptive(settingsform::FormColor::windowBackground);
        QVERIFY(uitest::near(uitest::pixel(uitest::render(view), 4, 4), background.light));
        const QColor captionLight = view.themeCaption()->palette().color(QPalette::WindowText);
        Appearance::shared().setForced(Appearance::Forced::Dark);
        QVERIFY(uitest::near(uitest::pixel(uitest::render(view), 4, 4), background.dark));
        QCOMPARE(view.themeCaption()->palette().color(QPalette::WindowText),
                 settingsform::adaptive(settingsform::TextRole::secondary).dark);
        QVERIFY(captionLight != settingsform::adaptive(settingsform::TextRole::secondary).dark);
    }

    // Pictures

    void render_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void render()
    {
        QFETCH(bool, dark);
        Appearance::shared().setForced(dark ? Appearance::Forced::Dark : Appearance::Forced::Light);
        Form f;
        f.h.connectHeld = false;
        f.h.saveList({f.h.profile(UsageProvider::claude, ".claude", "По умолчанию", true),
                      f.h.profile(UsageProvider::codex, ".codex", "Личный", true),
                      f.h.profile(UsageProvider::codex, "/opt/work/codex", "Рабочий", false),
                      f.h.profile(UsageProvider::antigravity, ".gemini/antigravity-cli", "Агент", true)});
        f.h.connectOutcomes.insert(
            "По умолчанию",
            Result<Unit>::failure(std::make_exception_ptr(CollectorInstaller::setupFailed(UsageProvider::claude))));
        f.h.make();
        f.h.accounts->setAntigravityGroupHidden(AntigravityQuotaGroup::claudeAndGPT, true, f.h.named("Агент").id());
        f.h.accounts->start();
        f.h.settle();
        SettingsView& view = f.make();
        f.displays->selectDisplay("display:B");
        f.screens.removeLast();
        f.displays->refreshDisplays();
        settleUi();

        const QImage window = uitest::render(view);
        uitest::save(window, QStringLiteral("settings-window-") + (dark ? "dark" : "light"));
        // The whole form, as far as it scrolls.
        auto* scroll = view.findChild<QScrollArea*>();
        QWidget* content = scroll->widget();
        QImage whole(QSize(SettingsView::kWidth, content->height()), QImage::Format_ARGB32_Premultiplied);
        whole.fill(settingsform::adaptive(settingsform::FormColor::windowBackground).resolve(dark));
        content->render(&whole, QPoint(), QRegion(), QWidget::DrawChildren);
        uitest::save(whole, QStringLiteral("settings-form-") + (dark ? "dark" : "light"));
        // Two sections at twice the size, for the details.
        for (ProfileSettingsSection* section : {view.profileSections().at(0), view.profileSections().at(3)})
            uitest::save(uitest::render(*section, section->size(), 2.0),
                         "settings-section-" + rawValue(section->provider()) + (dark ? "-dark" : "-light"));

        // The window background and a section box take the appearance's colours.
        const QColor background = settingsform::adaptive(settingsform::FormColor::windowBackground).resolve(dark);
        QVERIFY(uitest::near(uitest::pixel(window, 4, 4), background));
        QWidget* box = view.findChild<settingsform::SectionBox*>();
        const QPoint inside = box->mapTo(&view, QPoint(box->width() - 4, box->height() / 2));
        QVERIFY(uitest::near(uitest::pixel(window, inside.x(), inside.y()),
                             settingsform::adaptive(settingsform::FormColor::sectionBackground).resolve(dark)));
        f.h.accounts->stop();
    }
};

VANTOREL_UI_TEST_MAIN(SettingsViewTest)
#include "test_settings_view.moc"
