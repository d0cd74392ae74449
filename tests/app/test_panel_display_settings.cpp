#include "app/PanelDisplaySettings.h"
#include "app/ScreenParameters.h"
#include "platform/Defaults.h"
#include "uisupport/RenderHarness.h"

#include <QApplication>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using Forced = Appearance::Forced;

namespace {

PanelDisplay display(const QString& id, const QString& name = {}, QRect frame = QRect(0, 0, 1440, 875))
{
    return PanelDisplay {id, name.isEmpty() ? id : name, frame};
}

QStringList ids(const QList<PanelDisplay>& displays)
{
    QStringList result;
    for (const PanelDisplay& d : displays)
        result << d.id;
    return result;
}

QList<PanelDisplay> displaysNamed(const QStringList& names)
{
    QList<PanelDisplay> result;
    for (const QString& name : names)
        result << display(name);
    return result;
}

// Display settings over in-memory defaults and a screen list the test edits.
struct Fixture {
    MemoryDefaults defaults;
    QList<PanelDisplay> screens;
    QList<Forced> applied;
    std::unique_ptr<PanelDisplaySettings> settings;

    explicit Fixture(QList<PanelDisplay> initial = {display("A"), display("B")}, QVariantMap stored = {})
        : defaults(std::move(stored)), screens(std::move(initial))
    {
    }
    PanelDisplaySettings& make()
    {
        settings = std::make_unique<PanelDisplaySettings>(
            defaults, [this] { return screens; }, [this](Forced forced) { applied << forced; });
        return *settings;
    }
};

} // namespace

Q_DECLARE_METATYPE(ScreenFacts)

class PanelDisplaySettingsTest : public QObject {
    Q_OBJECT
private slots:
    void displayIdentifiers_data()
    {
        QTest::addColumn<ScreenFacts>("a");
        QTest::addColumn<ScreenFacts>("b");
        QTest::addColumn<bool>("same");
        QTest::addColumn<QString>("pattern");
        const QString uuid = QStringLiteral("^display:[0-9A-F]{8}-[0-9A-F]{4}-5[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$");
        const QString number = QStringLiteral("^display-id:[0-9]+$");
        QTest::newRow("serial decides, not the connector or the place")
            << ScreenFacts {"Dell", "U2720Q", "SN1", "DP-1", 0, 0} << ScreenFacts {"Dell", "U2720Q", "SN1", "HDMI-1", 1, 3}
            << true << uuid;
        QTest::newRow("two serials, two screens")
            << ScreenFacts {"Dell", "U2720Q", "SN1", "DP-1", 0, 0} << ScreenFacts {"Dell", "U2720Q", "SN2", "DP-1", 0, 0}
            << false << uuid;
        QTest::newRow("identical monitors without serial stay apart by connector")
            << ScreenFacts {"Dell", "U2720Q", "", "DP-1", 0, 0} << ScreenFacts {"Dell", "U2720Q", "", "DP-2", 0, 1}
            << false << uuid;
        QTest::newRow("without serial the same connector is the same screen")
            << ScreenFacts {"Dell", "U2720Q", "", "DP-1", 0, 0} << ScreenFacts {"Dell", "U2720Q", " ", "DP-1", 0, 2}
            << true << uuid;
        QTest::newRow("a serial equal to a connector name is no connector")
            << ScreenFacts {"Dell", "U2720Q", "DP-1", "X", 0, 0} << ScreenFacts {"Dell", "U2720Q", "", "DP-1", 0, 0}
            << false << uuid;
        QTest::newRow("nothing known: numbered by connector and X screen")
            << ScreenFacts {"", "", "", "screen", 0, 0} << ScreenFacts {"", "", "", "screen", 1, 1} << false << number;
        QTest::newRow("nothing known: the number keeps to the connector, not the place")
            << ScreenFacts {"", "", "", "screen", 0, 0} << ScreenFacts {"", "", "", "screen", 0, 5} << true << number;
        QTest::newRow("no name at all: numbered by place")
            << ScreenFacts {"", "", "", "", 0, 0} << ScreenFacts {"", "", "", "", 0, 1} << false << number;
    }
    void displayIdentifiers()
    {
        QFETCH(ScreenFacts, a);
        QFETCH(ScreenFacts, b);
        QFETCH(bool, same);
        QFETCH(QString, pattern);
        const QString idA = displayIdentifier(a);
        const QString idB = displayIdentifier(b);
        QVERIFY2(QRegularExpression(pattern).match(idA).hasMatch(), qPrintable(idA));
        QVERIFY2(QRegularExpression(pattern).match(idB).hasMatch(), qPrintable(idB));
        QCOMPARE(idA == idB, same);
        QCOMPARE(displayIdentifier(a), idA); // stable
    }

    void displayNames_data()
    {
        QTest::addColumn<ScreenFacts>("facts");
        QTest::addColumn<QString>("name");
        QTest::newRow("manufacturer and model") << ScreenFacts {"Dell", " U2720Q ", "SN", "DP-1", 0, 0} << "Dell U2720Q";
        QTest::newRow("model only") << ScreenFacts {"", "Studio Display", "", "DP-2", 0, 0} << "Studio Display";
        QTest::newRow("nothing known: the connector") << ScreenFacts {"", "", "", "HDMI-1", 0, 0} << "HDMI-1";
    }
    void displayNames()
    {
        QFETCH(ScreenFacts, facts);
        QFETCH(QString, name);
        QCOMPARE(displayName(facts), name);
    }

    void targetDisplays_data()
    {
        QTest::addColumn<QStringList>("screens");
        QTest::addColumn<QString>("selection");
        QTest::addColumn<QStringList>("targets");
        for (const QString& choice : {QStringLiteral("primary"), QStringLiteral("all"), QStringLiteral("B")})
            QTest::addRow("no screen, %s", qPrintable(choice)) << QStringList {} << choice << QStringList {};
        QTest::newRow("all, in the provider's order") << QStringList {"C", "A", "B"} << "all" << QStringList {"C", "A", "B"};
        QTest::newRow("primary is the first") << QStringList {"C", "A", "B"} << "primary" << QStringList {"C"};
        QTest::newRow("a connected screen") << QStringList {"C", "A", "B"} << "B" << QStringList {"B"};
        QTest::newRow("a screen not connected falls back to the first") << QStringList {"C", "A"} << "B"
                                                                        << QStringList {"C"};
    }
    void targetDisplays()
    {
        QFETCH(QStringList, screens);
        QFETCH(QString, selection);
        QFETCH(QStringList, targets);
        Fixture f(displaysNamed(screens), {{PanelDisplaySettings::kSelectionKey, selection}});
        PanelDisplaySettings& settings = f.make();
        QCOMPARE(ids(settings.targetDisplays()), targets);
        QCOMPARE(settings.selection(), selection);
        QCOMPARE(settings.effectiveSelection(), selection);
    }

    // What construction reads back, and the theme it applies at once.
    void construction_data()
    {
        QTest::addColumn<QVariantMap>("stored");
        QTest::addColumn<QString>("selection");
        QTest::addColumn<AppTheme>("theme");
        QTest::addColumn<QString>("savedName");
        using S = PanelDisplaySettings;
        QTest::newRow("nothing stored") << QVariantMap {} << "primary" << AppTheme::system << "";
        QTest::newRow("stored values")
            << QVariantMap {{S::kSelectionKey, "gone"}, {S::kDisplayNameKey, "Old"}, {S::kThemeKey, "dark"}} << "gone"
            << AppTheme::dark << "Old";
        QTest::newRow("light") << QVariantMap {{S::kThemeKey, "light"}} << "primary" << AppTheme::light << "";
        QTest::newRow("theme differing in case") << QVariantMap {{S::kThemeKey, "Dark"}} << "primary" << AppTheme::system
                                                 << "";
        QTest::newRow("unknown theme") << QVariantMap {{S::kThemeKey, "sepia"}} << "primary" << AppTheme::system << "";
        QTest::newRow("theme as data bytes")
            << QVariantMap {{S::kThemeKey, QByteArray("dark")}} << "primary" << AppTheme::system << "";
        QTest::newRow("choice and name as data bytes")
            << QVariantMap {{S::kSelectionKey, QByteArray("all")}, {S::kDisplayNameKey, QByteArray("Old")}}
            << "primary" << AppTheme::system << "";
    }
    void construction()
    {
        QFETCH(QVariantMap, stored);
        QFETCH(QString, selection);
        QFETCH(AppTheme, theme);
        QFETCH(QString, savedName);
        Fixture f({display("A")}, stored);
        PanelDisplaySettings& settings = f.make();
        QCOMPARE(settings.selection(), selection);
        QCOMPARE(settings.theme(), theme);
        QCOMPARE(settings.savedDisplayName().value_or(QString()), savedName);
        QCOMPARE(f.applied, QList<Forced> {forcedAppearance(theme)});
        QCOMPARE(ids(settings.connectedDisplays()), QStringList {"A"});
        // Reading stores nothing.
        QCOMPARE(f.defaults.values(), stored);
    }

    void themes()
    {
        QCOMPARE(forcedAppearance(AppTheme::system), Forced::None);
        QCOMPARE(forcedAppearance(AppTheme::light), Forced::Light);
        QCOMPARE(forcedAppearance(AppTheme::dark), Forced::Dark);
        for (AppTheme theme : kAllAppThemes)
            QCOMPARE(appThemeFromRawValue(rawValue(theme)), theme);

        Fixture f;
        PanelDisplaySettings& settings = f.make();
        QSignalSpy changed(&settings, &PanelDisplaySettings::themeChanged);
        settings.setTheme(AppTheme::dark);
        settings.setTheme(AppTheme::dark);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(f.applied, (QList<Forced> {Forced::None, Forced::Dark, Forced::Dark}));
        QCOMPARE(f.defaults.string(PanelDisplaySettings::kThemeKey), QStringLiteral("dark"));
        f.defaults.remove(PanelDisplaySettings::kThemeKey);
        settings.setTheme(AppTheme::dark); // stored again even when unchanged
        QCOMPARE(f.defaults.string(PanelDisplaySettings::kThemeKey), QStringLiteral("dark"));

        // The plain setter changes the field alone.
        settings.assignTheme(AppTheme::light);
        QCOMPARE(settings.theme(), AppTheme::light);
        QCOMPARE(f.defaults.string(PanelDisplaySettings::kThemeKey), QStringLiteral("dark"));
        QCOMPARE(f.applied.size(), 4);
    }

    void selectDisplay_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QString>("selection");
        QTest::addColumn<QVariant>("storedSelection");
        QTest::addColumn<QVariant>("storedName");
        const QVariant none;
        QTest::newRow("a connected screen") << "primary" << "B" << "B" << QVariant("B") << QVariant("Screen B");
        QTest::newRow("primary after a screen removes the name") << "B" << "primary" << "primary" << QVariant("primary")
                                                                 << none;
        QTest::newRow("all") << "B" << "all" << "all" << QVariant("all") << none;
        QTest::newRow("a screen not connected is ignored") << "B" << "Z" << "B" << QVariant("B") << QVariant("Screen B");
    }
    void selectDisplay()
    {
        QFETCH(QString, before);
        QFETCH(QString, choice);
        QFETCH(QString, selection);
        QFETCH(QVariant, storedSelection);
        QFETCH(QVariant, storedName);
        Fixture f({display("A", "Screen A"), display("B", "Screen B")});
        PanelDisplaySettings& settings = f.make();
        settings.selectDisplay(before);
        QSignalSpy changed(&settings, &PanelDisplaySettings::selectionChanged);
        settings.selectDisplay(choice);
        QCOMPARE(settings.selection(), selection);
        QCOMPARE(changed.count(), before == selection ? 0 : 1);
        QCOMPARE(f.defaults.object(PanelDisplaySettings::kSelectionKey).value_or(QVariant()), storedSelection);
        QCOMPARE(f.defaults.object(PanelDisplaySettings::kDisplayNameKey).value_or(QVariant()), storedName);
        QCOMPARE(settings.savedDisplayName().has_value(), storedName.isValid());
    }

    // Screens come and go through the screen-change notification: duplicates
    // appear once, a chosen screen that goes keeps its choice and its name, and
    // only the chosen screen's new name is stored.
    void followsScreenChanges()
    {
        Fixture f({display("A", "Screen A"), display("B", "Screen B"), display("A", "Other A")});
        PanelDisplaySettings& settings = f.make();
        QCOMPARE(settings.connectedDisplays(), (QList<PanelDisplay> {display("A", "Screen A"), display("B", "Screen B")}));
        settings.selectDisplay("B");
        QSignalSpy displaysChanged(&settings, &PanelDisplaySettings::connectedDisplaysChanged);
        QSignalSpy nameChanged(&settings, &PanelDisplaySettings::savedDisplayNameChanged);

        ScreenParameters::shared().post();
        ScreenParameters::shared().flush();
        QCOMPARE(displaysChanged.count(), 0); // an equal list notifies no one

        f.screens = {display("A", "Screen A")};
        ScreenParameters::shared().post();
        QCOMPARE(displaysChanged.count(), 0); // not before the next turn
        QCoreApplication::processEvents();
        QCOMPARE(displaysChanged.count(), 1);
        QCOMPARE(ids(settings.targetDisplays()), QStringList {"A"});
        QCOMPARE(settings.selection(), QStringLiteral("B"));
        QCOMPARE(settings.unavailableSelectionName(), QStringLiteral("Screen B"));

        f.screens = {display("A", "Renamed A"), display("B", "Screen B", QRect(0, 0, 1280, 800))};
        settings.refreshDisplays();
        QCOMPARE(ids(settings.targetDisplays()), QStringList {"B"});
        QCOMPARE(settings.unavailableSelectionName(), std::nullopt);
        QCOMPARE(nameChanged.count(), 0);

        f.screens = {display("A", "Renamed again"), display("B", "New B")};
        settings.refreshDisplays();
        QCOMPARE(settings.savedDisplayName(), QStringLiteral("New B"));
        QCOMPARE(f.defaults.string(PanelDisplaySettings::kDisplayNameKey), QStringLiteral("New B"));
        QCOMPARE(nameChanged.count(), 1);
        // A changed frame is a change of the list too.
        QCOMPARE(displaysChanged.count(), 3);
    }

    void unavailableSelectionName_data()
    {
        QTest::addColumn<QString>("selection");
        QTest::addColumn<QVariant>("savedName");
        QTest::addColumn<QVariant>("shown");
        QTest::newRow("primary") << "primary" << QVariant("X") << QVariant();
        QTest::newRow("all") << "all" << QVariant() << QVariant();
        QTest::newRow("connected") << "A" << QVariant() << QVariant();
        QTest::newRow("gone, named") << "Z" << QVariant("Old Monitor") << QVariant("Old Monitor");
        QTest::newRow("gone, never named") << "Z" << QVariant() << QVariant("Выбранный монитор");
    }
    void unavailableSelectionName()
    {
        QFETCH(QString, selection);
        QFETCH(QVariant, savedName);
        QFETCH(QVariant, shown);
        QVariantMap stored {{PanelDisplaySettings::kSelectionKey, selection}};
        if (savedName.isValid())
            stored.insert(PanelDisplaySettings::kDisplayNameKey, savedName);
        Fixture f({display("A")}, stored);
        const std::optional<QString> name = f.make().unavailableSelectionName();
        QCOMPARE(name.has_value(), shown.isValid());
        if (name)
            QCOMPARE(*name, shown.toString());
    }
};

VANTOREL_UI_TEST_MAIN(PanelDisplaySettingsTest)
#include "test_panel_display_settings.moc"
