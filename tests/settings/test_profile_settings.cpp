#include "accounts/AccountsHarness.h"

#include "accounts/CollectorInstaller.h"
#include "settings/ProfileSettingsModel.h"
#include "settings/ProfileSettingsRow.h"
#include "settings/ProfileSettingsSection.h"
#include "settings/SettingsFormParts.h"
#include "uisupport/RenderHarness.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

using namespace profilesettings;
using Groups = std::optional<std::set<AntigravityQuotaGroup>>;

namespace {

void settleUi()
{
    QCoreApplication::processEvents();
}

// Types `text` into `widget` one key at a time, as a keyboard would (any script).
void type(QWidget* widget, const QString& text)
{
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &release);
    }
}

// Whether the widget would be drawn once its window is shown.
bool shown(const QWidget* w)
{
    return w && !w->isHidden();
}

} // namespace

class ProfileSettingsTest : public QObject {
    Q_OBJECT

private slots:
    // What a row shows

    void rowTexts_data()
    {
        QTest::addColumn<UsageProvider>("provider");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("visibleLabel");
        QTest::addColumn<QString>("nameLabel");

        QTest::newRow("codex") << UsageProvider::codex << "Личный" << "Показывать Codex: Личный" << "Имя профиля Codex";
        // The short name, not the section header "Claude Code".
        QTest::newRow("claude") << UsageProvider::claude << "По умолчанию" << "Показывать Claude: По умолчанию"
                                << "Имя профиля Claude";
        QTest::newRow("copilot") << UsageProvider::copilot << "" << "Показывать Copilot: " << "Имя профиля Copilot";
        QTest::newRow("antigravity") << UsageProvider::antigravity << "Рабочий" << "Показывать Antigravity: Рабочий"
                                     << "Имя профиля Antigravity";
    }
    void rowTexts()
    {
        QFETCH(UsageProvider, provider);
        QFETCH(QString, name);
        const ProviderProfile profile {provider, "/home/ann/.x", name, true, {}, {}};
        const RowModel row = rowModel(profile, true, std::nullopt, "/home/ann");
        QCOMPARE(row.id, profile.id());
        QTEST(row.visibleLabel, "visibleLabel");
        QTEST(row.nameLabel, "nameLabel");
        QCOMPARE(row.visibleObjectName, "profile-visible-" + profile.id());
        QCOMPARE(row.name, name);
        QCOMPARE(row.folder, QStringLiteral("~/.x"));
        QCOMPARE(row.groups.isEmpty(), provider != UsageProvider::antigravity);
    }

    void sectionHeaders()
    {
        QCOMPARE(sectionModel(UsageProvider::claude, {}).header, QStringLiteral("Claude Code"));
        QCOMPARE(sectionModel(UsageProvider::codex, {}).header, QStringLiteral("Codex"));
        const ProviderProfile a {UsageProvider::codex, "/a", "a", false, {}, {}};
        const ProviderProfile b {UsageProvider::claude, "/b", "b", false, {}, {}};
        const ProviderProfile c {UsageProvider::codex, "/c", "c", false, {}, {}};
        const SectionModel codex = sectionModel(UsageProvider::codex, {a, b, c});
        QCOMPARE(codex.profiles, (QList<ProviderProfile> {a, c}));
        QVERIFY(!codex.showsEmptyText());
        QVERIFY(sectionModel(UsageProvider::copilot, {a, b, c}).showsEmptyText());
    }

    void displayedFolder_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("shown");

        QTest::newRow("in home") << "/Users/ann/.codex" << "/Users/ann" << "~/.codex";
        QTest::newRow("outside") << "/opt/codex" << "/Users/ann" << "/opt/codex";
        QTest::newRow("longer name") << "/Users/annex/.codex" << "/Users/ann" << "/Users/annex/.codex";
        QTest::newRow("home itself") << "/Users/ann" << "/Users/ann" << "/Users/ann";
        QTest::newRow("every occurrence") << "/Users/ann/x/Users/ann/y" << "/Users/ann" << "~/x~/y";
        QTest::newRow("not at the start") << "/mnt/Users/ann/.codex" << "/Users/ann" << "/mnt~/.codex";
        // Without a home folder nothing is replaced (not every "/").
        QTest::newRow("no home") << "/opt/codex" << "" << "/opt/codex";
    }
    void displayedFolder()
    {
        QFETCH(QString, path);
        QFETCH(QString, home);
        QTEST(profilesettings::displayedFolder(path, home), "shown");
    }

    void antigravityGroups_data()
    {
        QTest::addColumn<Groups>("hidden");
        QTest::addColumn<bool>("geminiOn");
        QTest::addColumn<bool>("claudeAndGPTOn");

        QTest::newRow("no set") << Groups() << true << true;
        QTest::newRow("empty set") << Groups(std::set<AntigravityQuotaGroup> {}) << true << true;
        QTest::newRow("claude and gpt hidden")
            << Groups(std::set {AntigravityQuotaGroup::claudeAndGPT}) << true << false;
        QTest::newRow("both hidden")
            << Groups(std::set {AntigravityQuotaGroup::gemini, AntigravityQuotaGroup::claudeAndGPT}) << false
            << false;
    }
    void antigravityGroups()
    {
        QFETCH(Groups, hidden);
        ProviderProfile profile {UsageProvider::antigravity, "/g", "Агент", false, {}, hidden};
        profile.configDirectory = "/g";
        const QString id = profile.id();
        const RowModel row = rowModel(profile, false, std::nullopt, "/home");
        QCOMPARE(row.groups.size(), 2);
        const GroupToggle& gemini = row.groups.at(0);
        const GroupToggle& other = row.groups.at(1);
        QCOMPARE(gemini.title, QStringLiteral("Gemini"));
        QCOMPARE(gemini.modelsLine, QStringLiteral("Gemini Flash, Gemini Pro"));
        QCOMPARE(gemini.accessibleName, QStringLiteral("Агент: Gemini"));
        QCOMPARE(gemini.objectName, "quota-group-gemini-" + id);
        QCOMPARE(other.title, QStringLiteral("Claude и GPT"));
        QCOMPARE(other.modelsLine, QStringLiteral("Claude Opus, Claude Sonnet, GPT-OSS"));
        QCOMPARE(other.accessibleName, QStringLiteral("Агент: Claude и GPT"));
        QCOMPARE(other.objectName, "quota-group-claudeAndGPT-" + id);
        QTEST(gemini.on, "geminiOn");
        QTEST(other.on, "claudeAndGPTOn");
        QCOMPARE(groupObjectName(AntigravityQuotaGroup::gemini, "abc"), QStringLiteral("quota-group-gemini-abc"));
        QCOMPARE(groupObjectName(AntigravityQuotaGroup::claudeAndGPT, "abc"),
                 QStringLiteral("quota-group-claudeAndGPT-abc"));
    }

    // The section and its rows

    void emptySectionShowsTheTextAndTheAddButton()
    {
        Harness h;
        h.saveList({h.profile(UsageProvider::codex, ".codex", "c", true)});
        UsageAccounts& accounts = h.make();
        int adds = 0;
        ProfileSettingsSection section(accounts, UsageProvider::copilot, [&] { ++adds; });
        QCOMPARE(section.header()->text(), QStringLiteral("Copilot"));
        QVERIFY(section.rowIDs().isEmpty());
        QVERIFY(shown(section.emptyText()->parentWidget()));
        QCOMPARE(section.emptyText()->text(), QStringLiteral("Профили пока не найдены"));
        QCOMPARE(section.addButton()->text(), QStringLiteral("Добавить папку профиля…"));
        section.addButton()->click();
        QCOMPARE(adds, 1);

        // A profile of another provider changes nothing here; one of its own replaces the text.
        QVERIFY(h.home.build({"d:.copilot-2"}));
        accounts.addProfileFolder(h.home.path(".copilot-2"), UsageProvider::codex);
        settleUi();
        QVERIFY(section.rowIDs().isEmpty());
        const ProviderProfile added = accounts.addProfileFolder(h.home.path(".copilot-2"), UsageProvider::copilot);
        settleUi();
        QCOMPARE(section.rowIDs(), QStringList {added.id()});
        QVERIFY(!shown(section.emptyText()->parentWidget()));
    }

    // The controls carry their identifiers and labels and write to the registry.
    void rowControlsWriteToTheRegistry()
    {
        Harness h;
        h.saveList({h.profile(UsageProvider::claude, ".claude", "Основной", false),
                    h.profile(UsageProvider::antigravity, ".gemini/antigravity-cli", "Агент", true)});
        UsageAccounts& accounts = h.make();
        ProfileSettingsSection claude(accounts, UsageProvider::claude, {});
        ProfileSettingsSection agy(accounts, UsageProvider::antigravity, {});
        const QString claudeID = h.named("Основной").id();
        const QString agyID = h.named("Агент").id();

        QCOMPARE(claude.header()->text(), QStringLiteral("Claude Code"));
        auto* visible = claude.findChild<QCheckBox*>("profile-visible-" + claudeID);
        QVERIFY(visible);
        QVERIFY(visible->text().isEmpty()); // the label is only spoken
        QCOMPARE(visible->accessibleName(), QStringLiteral("Показывать Claude: Основной"));
        QVERIFY(!visible->isChecked());
        visible->click();
        QVERIFY(accounts.isProfileVisible(claudeID));
        settleUi();
        QVERIFY(visible->isChecked());
        QVERIFY(!claude.row(claudeID)->groupBlock());
        QVERIFY(!claude.findChild<QCheckBox*>("quota-group-gemini-" + claudeID));

        auto* gemini = agy.findChild<QCheckBox*>("quota-group-gemini-" + agyID);
        auto* other = agy.findChild<QCheckBox*>("quota-group-claudeAndGPT-" + agyID);
        QVERIFY(gemini && other);
        QVERIFY(gemini->isChecked() && other->isChecked());
        QCOMPARE(other->accessibleName(), QStringLiteral("Агент: Claude и GPT"));
        other->click();
        QCOMPARE(h.named("Агент").hiddenAntigravityGroups, Groups(std::set {AntigravityQuotaGroup::claudeAndGPT}));
        settleUi();
        QVERIFY(!other->isChecked());
        QVERIFY(gemini->isChecked());
        other->click();
        QCOMPARE(h.named("Агент").hiddenAntigravityGroups, Groups(std::set<AntigravityQuotaGroup> {}));
        settleUi();
        QVERIFY(other->isChecked());

        // The field's title is its placeholder; its label names the provider.
        QLineEdit* field = agy.row(agyID)->nameField();
        QCOMPARE(field->text(), QStringLiteral("Агент"));
        QCOMPARE(field->placeholderText(), QStringLiteral("Имя профиля"));
        QCOMPARE(field->accessibleName(), QStringLiteral("Имя профиля Antigravity"));
        QCOMPARE(agy.row(agyID)->folderText()->text(), QStringLiteral("~/.gemini/antigravity-cli"));
    }

    // A failed connection shows its text and the retry, which clears it.
    void connectionErrorAndRetry()
    {
        Harness h;
        h.connectHeld = false;
        h.saveList({h.profile(UsageProvider::claude, ".claude", "c", true),
                    h.profile(UsageProvider::claude, ".claude-2", "d", true)});
        const ProviderClientError failed = CollectorInstaller::setupFailed(UsageProvider::claude);
        h.connectOutcomes.insert("c", Result<Unit>::failure(std::make_exception_ptr(failed)));
        UsageAccounts& accounts = h.make();
        ProfileSettingsSection section(accounts, UsageProvider::claude, {});
        ProfileSettingsRow* c = section.row(h.named("c").id());
        ProfileSettingsRow* d = section.row(h.named("d").id());
        QVERIFY(!shown(c->errorText()) && !shown(c->retryButton()));

        accounts.start();
        h.settle();
        settleUi();
        QVERIFY(shown(c->errorText()) && shown(c->retryButton()));
        QCOMPARE(c->errorText()->text(), failed.message());
        QCOMPARE(c->retryButton()->text(), QStringLiteral("Повторить подключение"));
        QVERIFY(!shown(d->errorText()) && !shown(d->retryButton()));

        h.connectOutcomes.remove("c");
        const int tries = int(h.connectLog.count("c"));
        c->retryButton()->click();
        settleUi();
        QVERIFY(!shown(c->errorText()) && !shown(c->retryButton()));
        h.settle();
        QCOMPARE(h.connectLog.count("c"), tries + 1);
        accounts.stop();
    }

    // Typing renames on every keystroke without rebuilding the row, and a
    // refresh leaves the cursor and the selection of every field alone.
    void typingKeepsRowsCursorAndSelection()
    {
        Harness h;
        h.saveList({h.profile(UsageProvider::codex, ".codex", "Дом", true),
                    h.profile(UsageProvider::codex, ".codex-2", "Работа", false)});
        UsageAccounts& accounts = h.make();
        ProfileSettingsSection section(accounts, UsageProvider::codex, {});
        section.resize(500, 400);
        section.show();
        const QString homeID = h.named("Дом").id();
        const QString workID = h.named("Работа").id();
        QPointer<ProfileSettingsRow> homeRow = section.row(homeID);
        QPointer<ProfileSettingsRow> workRow = section.row(workID);
        QLineEdit* field = homeRow->nameField();
        QLineEdit* other = workRow->nameField();

        field->setFocus();
        field->setCursorPosition(1);
        QStringList names;
        connect(&accounts, &UsageAccounts::profilesChanged, this,
                [&] { names << accounts.profiles().first().name; });
        type(field, QStringLiteral("ом"));
        settleUi();
        QCOMPARE(names, (QStringList {"Доом", "Домом"}));
        QCOMPARE(field->text(), QStringLiteral("Домом"));
        QCOMPARE(field->cursorPosition(), 3);
        QCOMPARE(homeRow.data(), section.row(homeID));
        QCOMPARE(workRow.data(), section.row(workID));

        settleUi();
        other->setCursorPosition(2);
        field->setSelection(0, 2);
        accounts.setVisible(true, workID);
        accounts.rename(workID, QStringLiteral("Работа"));
        settleUi();
        QCOMPARE(field->selectedText(), QStringLiteral("До"));
        QCOMPARE(other->cursorPosition(), 2);

        // A name changed elsewhere reaches its field.
        accounts.rename(workID, QStringLiteral("Офис"));
        settleUi();
        QCOMPARE(other->text(), QStringLiteral("Офис"));
        QCOMPARE(field->selectedText(), QStringLiteral("До"));

        // The registry keeps 80 characters; the field follows, the cursor stays inside.
        field->selectAll();
        type(field, QString(81, QLatin1Char('x')));
        settleUi();
        QCOMPARE(accounts.profiles().first().name.size(), 80);
        QCOMPARE(field->text(), QString(80, QLatin1Char('x')));
        QCOMPARE(field->cursorPosition(), 80);
        QCOMPARE(homeRow.data(), section.row(homeID));
    }

    // Rows follow the list's order; new ones join, gone ones leave, the rest stay.
    void rowsFollowTheListInPlace()
    {
        Harness h;
        h.saveList({h.profile(UsageProvider::copilot, ".copilot", "folder", false),
                    h.profile(UsageProvider::claude, ".claude", "x", false),
                    h.profile(UsageProvider::copilot, ".copilot-b", "b", true)});
        QVERIFY(h.home.build({"d:.copilot", "d:.copilot-b", "d:.copilot-c"}));
        h.copilotAnswers.insert(h.home.path(".copilot"),
                                Result<AccountList>::success({account("github.com", "ann"), account("github.com", "bob")}));
        UsageAccounts& accounts = h.make();
        ProfileSettingsSection section(accounts, UsageProvider::copilot, {});
        const QString folder = h.named("folder").id();
        const QString b = h.named("b").id();
        QCOMPARE(section.rowIDs(), (QStringList {folder, b}));
        QPointer<ProfileSettingsRow> rowB = section.row(b);

        const ProviderProfile c = accounts.addProfileFolder(h.home.path(".copilot-c"), UsageProvider::copilot);
        settleUi();
        QCOMPARE(section.rowIDs(), (QStringList {folder, b, c.id()}));
        QCOMPARE(section.row(c.id())->nameField()->text(), c.name);

        // The hidden folder profile gives way to one profile per account.
        accounts.refreshCopilotAccounts();
        h.settle();
        settleUi();
        const QString ann = h.named("ann").id();
        const QString bob = h.named("bob").id();
        QCOMPARE(section.rowIDs(), (QStringList {b, c.id(), ann, bob}));
        QVERIFY(!section.row(folder));
        QCOMPARE(rowB.data(), section.row(b));
    }
};

VANTOREL_UI_TEST_MAIN(ProfileSettingsTest)
#include "test_profile_settings.moc"
