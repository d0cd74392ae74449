#include "platform/Defaults.h"
#include "settings/SettingsFormModel.h"

#include <QTest>
#include <QUrlQuery>

using namespace settingsmodel;
using Info = std::optional<QVariantMap>;
using Name = std::optional<QString>;

Q_DECLARE_METATYPE(PlatformInfo)

namespace {

const PlatformInfo kMac {"macos", "darwin", "23.2.0", "14.2", "macOS Sonoma (14.2)"};
const PlatformInfo kDebian {"debian", "linux", "6.1.0-18-amd64", "12", "Debian GNU/Linux 12 (bookworm)"};
const PlatformInfo kWindows {"windows", "winnt", "10.0.22631", "11", "Windows 11 Version 23H2"};
const PlatformInfo kFreeBSD {"freebsd", "freebsd", "14.0-RELEASE", "14.0", "FreeBSD 14.0"};

} // namespace

class SettingsFormModelTest : public QObject {
    Q_OBJECT

private slots:
    void version_data()
    {
        QTest::addColumn<Info>("info");
        QTest::addColumn<QString>("text");

        const QString v = "CFBundleShortVersionString";
        const QString b = "CFBundleVersion";
        QTest::newRow("both") << Info(QVariantMap {{v, "0.1.0"}, {b, "42"}}) << "0.1.0 (42)";
        QTest::newRow("no build number") << Info(QVariantMap {{v, "0.1.0"}}) << "0.1.0 (?)";
        QTest::newRow("build number not text") << Info(QVariantMap {{v, "0.1.0"}, {b, 42}}) << "0.1.0 (?)";
        QTest::newRow("no version") << Info(QVariantMap {{b, "7"}}) << "? (7)";
        QTest::newRow("empty dictionary") << Info(QVariantMap {}) << "? (?)";
        QTest::newRow("no dictionary") << Info() << "? (?)";
    }
    void version()
    {
        QFETCH(Info, info);
        QTEST(versionText(info), "text");
        // The mail subject is built the same way.
        QCOMPARE(supportSubject(versionText(info)), "Vantorel " + versionText(info));
    }

    // Texts that name the Mac name the running system elsewhere.
    void platformTexts_data()
    {
        QTest::addColumn<PlatformInfo>("platform");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("findProfiles");
        QTest::addColumn<QString>("systemLine");

        QTest::newRow("mac") << kMac << "macOS" << "Найти профили на этом Mac" << "macOS 14.2";
        QTest::newRow("debian") << kDebian << "Linux" << "Найти профили на этом компьютере с Linux"
                                << "Linux 6.1.0-18-amd64 (Debian GNU/Linux 12 (bookworm))";
        QTest::newRow("windows") << kWindows << "Windows" << "Найти профили на этом компьютере с Windows"
                                 << "Windows 10.0.22631 (Windows 11 Version 23H2)";
        QTest::newRow("other") << kFreeBSD << "FreeBSD 14.0" << "Найти профили на этом компьютере с FreeBSD 14.0"
                               << "FreeBSD 14.0 14.0-RELEASE";
    }
    void platformTexts()
    {
        QFETCH(PlatformInfo, platform);
        QFETCH(QString, name);
        QTEST(platformName(platform), "name");
        QTEST(findProfilesTitle(platform), "findProfiles");
        QTEST(systemLine(platform), "systemLine");
        QCOMPARE(themeCaption(platform),
                 "Для панели и этого окна. «Как в системе» следует за оформлением " + name + ".");
        QCOMPARE(supportBody("Vantorel 1 (2)", platform), "\n\n\u2014\nVantorel 1 (2)\n" + systemLine(platform));
    }

    void displayPicker_data()
    {
        QTest::addColumn<Name>("unavailable");
        QTest::addColumn<QList<PickerOption>>("options");
        QTest::addColumn<QString>("caption");

        const QList<PickerOption> base {{"Основной экран", "primary"}, {"Все экраны", "all"}, {"Dell U2720Q", "display:A"}};
        QTest::newRow("chosen screen connected")
            << Name() << base << "Выбор сохраняется. На всех экранах лимиты общие, а раскрытие панели — независимое.";
        QTest::newRow("chosen screen absent")
            << Name("LG UltraFine") << (base + QList<PickerOption> {{"LG UltraFine — не подключён", "display:B"}})
            << "LG UltraFine не подключён. Панель временно на основном экране и вернётся после подключения.";
    }
    void displayPicker()
    {
        QFETCH(Name, unavailable);
        QTEST(displayOptions({{"Dell U2720Q", "display:A"}}, "display:B", unavailable), "options");
        QTEST(displayCaption(unavailable), "caption");
    }

    void refreshAndFeedbackPreferences()
    {
        MemoryDefaults defaults;
        // A fresh installation: five minutes, feedback on.
        QCOMPARE(refreshInterval(defaults), 300.0);
        QCOMPARE(refreshOptions().at(refreshOptionIndex(refreshInterval(defaults))).title, QStringLiteral("5 минут"));
        QVERIFY(feedbackEnabled(defaults, kSoundsKey));
        QVERIFY(feedbackEnabled(defaults, kHapticsKey));

        defaults.setDouble(kRefreshIntervalKey, 900);
        defaults.setBool(kSoundsKey, false);
        QCOMPARE(refreshOptions().at(refreshOptionIndex(refreshInterval(defaults))).title, QStringLiteral("15 минут"));
        QVERIFY(!feedbackEnabled(defaults, kSoundsKey));
        QVERIFY(feedbackEnabled(defaults, kHapticsKey));
        // A value the picker does not offer selects nothing.
        defaults.setDouble(kRefreshIntervalKey, 120);
        QCOMPARE(refreshOptionIndex(refreshInterval(defaults)), -1);
        QCOMPARE(refreshOptions(), (QList<PickerOption> {{"1 минуту", "60"}, {"5 минут", "300"}, {"15 минут", "900"}}));
    }

    void supportMail_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("body");
        QTest::addColumn<bool>("formed");

        QTest::newRow("plain") << "help@example.org" << "Vantorel 0.1.0 (1)"
                               << "\n\n\u2014\nVantorel 0.1.0 (1)\nLinux 6.1 (Debian GNU/Linux 12 (bookworm))" << true;
        // Characters that mean something in a query stay text.
        QTest::newRow("query characters") << "help@example.org" << "Vantorel 1.0+dev&x=1#2 (%41)"
                                          << "a&body=b\n100% c+d #e ; ?f" << true;
        QTest::newRow("no address") << "" << "Vantorel ? (?)" << "x" << true;
        QTest::newRow("path that is no path") << "//help@example.org" << "s" << "b" << false;
    }
    void supportMail()
    {
        QFETCH(QString, address);
        QFETCH(QString, subject);
        QFETCH(QString, body);
        QFETCH(bool, formed);
        const std::optional<QUrl> url = supportMailURL(address, subject, body);
        QCOMPARE(url.has_value(), formed);
        if (!url)
            return;
        const QUrl parsed(url->toString(QUrl::FullyEncoded), QUrl::StrictMode);
        QVERIFY(parsed.isValid());
        QCOMPARE(parsed.scheme(), QStringLiteral("mailto"));
        QCOMPARE(parsed.path(), address);
        const QUrlQuery query(parsed);
        const auto items = query.queryItems(QUrl::FullyDecoded);
        QCOMPARE(items.size(), 2);
        QCOMPARE(items.at(0).first, QStringLiteral("subject"));
        QCOMPARE(items.at(0).second, subject);
        QCOMPARE(items.at(1).first, QStringLiteral("body"));
        QCOMPARE(items.at(1).second, body);
        QCOMPARE(supportCaption(address), "Ответим на письмо с " + address + ".");
    }

    void chooserAndThemeTexts()
    {
        QCOMPARE(folderChooserTitle(UsageProvider::claude), QStringLiteral("Папка профиля Claude"));
        QCOMPARE(folderChooserTitle(UsageProvider::antigravity), QStringLiteral("Папка профиля Antigravity"));
        QCOMPARE(themeOptions(), (QList<PickerOption> {{"Как в системе", "system"}, {"Светлая", "light"},
                                                        {"Тёмная", "dark"}}));
    }
};

QTEST_GUILESS_MAIN(SettingsFormModelTest)
#include "test_settings_form_model.moc"
