#include "platform/Defaults.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

class DefaultsTest : public QObject {
    Q_OBJECT
private slots:
    void typedValues_data();
    void typedValues();
    void memoryRestartKeepsOnlyFlushed();
    void booleanOnly_data();
    void booleanOnly();
    void textOnly_data();
    void textOnly();
};

namespace {

// Stores `value` under `key` through the setter of its type.
void put(Defaults& d, const QString& key, const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool: d.setBool(key, value.toBool()); break;
    case QMetaType::Double: d.setDouble(key, value.toDouble()); break;
    case QMetaType::QString: d.setString(key, value.toString()); break;
    case QMetaType::QByteArray: d.setData(key, value.toByteArray()); break;
    default: break;
    }
}

} // namespace

void DefaultsTest::typedValues_data()
{
    QTest::addColumn<bool>("onDisk");
    QTest::newRow("memory") << false;
    QTest::newRow("settings file") << true;
}

void DefaultsTest::typedValues()
{
    QFETCH(bool, onDisk);
    QTemporaryDir dir;
    const QString file = dir.filePath("vantorel.ini");
    auto make = [&]() -> std::unique_ptr<Defaults> {
        if (onDisk)
            return std::make_unique<SettingsDefaults>(std::make_unique<QSettings>(file, QSettings::IniFormat));
        return std::make_unique<MemoryDefaults>();
    };
    auto d = make();
    d->registerDefaults({ { "refreshInterval", 300.0 }, { "soundsEnabled", true } });
    QCOMPARE(d->doubleValue("refreshInterval"), 300.0);
    QVERIFY(d->boolValue("soundsEnabled"));
    QVERIFY(!d->contains("missing"));
    QCOMPARE(d->doubleValue("missing"), 0.0);
    QVERIFY(!d->string("missing"));

    const QByteArray bytes("{\"a\":1}\0tail", 12);
    d->setDouble("refreshInterval", 120.5);
    d->setBool("soundsEnabled", false);
    d->setString("panelTheme.v1", QString::fromUtf8("тёмная"));
    d->setData("providerProfiles.v1", bytes);
    QVERIFY(d->flush());
    if (onDisk) {
        d = make();
        d->registerDefaults({ { "soundsEnabled", true } });
    }
    QCOMPARE(d->doubleValue("refreshInterval"), 120.5);
    QVERIFY(!d->boolValue("soundsEnabled")); // a stored value wins over the registered one
    QCOMPARE(*d->string("panelTheme.v1"), QString::fromUtf8("тёмная"));
    QCOMPARE(*d->data("providerProfiles.v1"), bytes);
    d->remove("soundsEnabled");
    QVERIFY(d->boolValue("soundsEnabled")); // back to the registered default
}

void DefaultsTest::memoryRestartKeepsOnlyFlushed()
{
    MemoryDefaults d;
    d.setString("codexReset.pending.v1", "key-1");
    QVERIFY(d.flush());
    d.setString("codexReset.pending.v1", "key-2"); // lost in a crash: never flushed
    auto after = d.restarted();
    QCOMPARE(*after->string("codexReset.pending.v1"), QString("key-1"));
    QCOMPARE(d.flushCount(), 1);
}

// Only a Boolean reads as one, also after a round trip through the settings file.
void DefaultsTest::booleanOnly_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<int>("expected"); // -1 none, 0 false, 1 true
    QTest::newRow("true") << QVariant(true) << 1;
    QTest::newRow("false") << QVariant(false) << 0;
    QTest::newRow("absent") << QVariant() << -1;
    QTest::newRow("number 1") << QVariant(1.0) << -1;
    QTest::newRow("number 0") << QVariant(0.0) << -1;
    QTest::newRow("text yes") << QVariant(QStringLiteral("yes")) << -1;
    QTest::newRow("data") << QVariant(QByteArray("true")) << -1;
}

void DefaultsTest::booleanOnly()
{
    QFETCH(QVariant, stored);
    QFETCH(int, expected);
    const std::optional<bool> want = expected < 0 ? std::nullopt : std::optional<bool>(expected == 1);
    MemoryDefaults memory;
    put(memory, "soundsEnabled", stored);
    QTemporaryDir dir;
    const QString file = dir.filePath("vantorel.ini");
    {
        SettingsDefaults disk(std::make_unique<QSettings>(file, QSettings::IniFormat));
        put(disk, "soundsEnabled", stored);
        QVERIFY(disk.flush());
    }
    QCOMPARE(memory.boolean("soundsEnabled"), want);
    SettingsDefaults reopened(std::make_unique<QSettings>(file, QSettings::IniFormat));
    QCOMPARE(reopened.boolean("soundsEnabled"), want);
}

// Only text reads as a string: data bytes, Booleans and numbers do not,
// whatever they hold; also after a round trip through the settings file.
void DefaultsTest::textOnly_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QVariant>("expected"); // invalid: none
    const QVariant none;
    QTest::newRow("text") << QVariant(QStringLiteral("dark")) << QVariant(QStringLiteral("dark"));
    QTest::newRow("empty text") << QVariant(QString()) << QVariant(QString());
    QTest::newRow("absent") << none << none;
    QTest::newRow("data") << QVariant(QByteArray("dark")) << none;
    QTest::newRow("empty data") << QVariant(QByteArray()) << none;
    QTest::newRow("Boolean") << QVariant(true) << none;
    QTest::newRow("number") << QVariant(2.5) << none;
}

void DefaultsTest::textOnly()
{
    QFETCH(QVariant, stored);
    QFETCH(QVariant, expected);
    const std::optional<QString> want = expected.isValid() ? std::optional(expected.toString()) : std::nullopt;
    MemoryDefaults memory;
    put(memory, "panelTheme.v1", stored);
    QCOMPARE(memory.string("panelTheme.v1"), want);
    QTemporaryDir dir;
    const QString file = dir.filePath("vantorel.ini");
    {
        SettingsDefaults disk(std::make_unique<QSettings>(file, QSettings::IniFormat));
        put(disk, "panelTheme.v1", stored);
        QVERIFY(disk.flush());
    }
    SettingsDefaults reopened(std::make_unique<QSettings>(file, QSettings::IniFormat));
    QCOMPARE(reopened.string("panelTheme.v1"), want);
}

QTEST_GUILESS_MAIN(DefaultsTest)
#include "test_defaults.moc"
