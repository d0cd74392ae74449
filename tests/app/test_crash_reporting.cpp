#include "app/CrashReporting.h"
#include "app/CrashReportingLibrary.h"
#include "fakes/sentry/FakeSentry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <dlfcn.h>
#include <functional>
#include <map>

using namespace crashreporting;

Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

const QString kFakeFolder = QStringLiteral(VANTOREL_FAKES_DIR "/sentry");
const QString kDsn = QStringLiteral("https://public@reports.example/1");

// The test's own handle on the fake library: the same loaded copy the loader
// gets, kept open so its record stays between loads.
struct FakeHandle {
    void* handle = dlopen(QFile::encodeName(kFakeFolder + "/libsentry.so").constData(), RTLD_NOW | RTLD_LOCAL);
    ~FakeHandle()
    {
        if (handle)
            dlclose(handle);
    }
    template <class F>
    F symbol(const char* name) const
    {
        return reinterpret_cast<F>(dlsym(handle, name));
    }
    FakeSentryRecord& record() const { return *symbol<FakeSentryRecord* (*)()>("fake_sentry_record")(); }
    sentry_value_t fromJson(const QByteArray& json) const
    {
        return symbol<sentry_value_t (*)(const char*)>("fake_sentry_value_from_json")(json.constData());
    }
    QByteArray toJson(sentry_value_t value) const
    {
        char* text = symbol<char* (*)(sentry_value_t)>("fake_sentry_value_to_json")(value);
        const QByteArray out(text);
        symbol<void (*)(char*)>("fake_sentry_free_string")(text);
        return out;
    }
};

} // namespace

class CrashReportingTest : public QObject {
    Q_OBJECT

    FakeHandle m_fake;

private slots:
    void init()
    {
        QVERIFY2(m_fake.handle, dlerror());
        m_fake.record() = FakeSentryRecord {};
    }

    void reportingKey_data()
    {
        QTest::addColumn<QVariantMap>("info");
        QTest::addColumn<std::optional<QString>>("key");
        const auto with = [](const QVariant& value) { return QVariantMap {{kDsnKey, value}}; };
        const std::optional<QString> none;
        QTest::newRow("no dictionary") << QVariantMap {} << none;
        QTest::newRow("other keys only") << QVariantMap {{"CFBundleVersion", "7"}} << none;
        QTest::newRow("plain") << with(kDsn) << std::optional(kDsn);
        QTest::newRow("blanks and line breaks around") << with(" \t\n" + kDsn + "\r\n ") << std::optional(kDsn);
        QTest::newRow("Unicode spaces around") << with(QString(QChar(0x00A0)) + kDsn + QChar(0x2028) + QChar(0x3000))
                                               << std::optional(kDsn);
        QTest::newRow("inner blanks stay") << with(" a b ") << std::optional(QStringLiteral("a b"));
        QTest::newRow("empty") << with(QString()) << none;
        QTest::newRow("only white space") << with(" \n\t\u2029") << none;
        QTest::newRow("unsubstituted reference") << with("$(SENTRY_DSN)") << none;
        QTest::newRow("reference further in") << with("https://x@$(HOST)/1") << none;
        QTest::newRow("reference after blanks") << with("  $(SENTRY_DSN)") << none;
        QTest::newRow("dollar alone is fine") << with("https://a$b@host/1") << std::optional(QStringLiteral("https://a$b@host/1"));
        QTest::newRow("parenthesis alone is fine") << with("(x)") << std::optional(QStringLiteral("(x)"));
        QTest::newRow("not a string: number") << with(42) << none;
        QTest::newRow("not a string: data") << with(QByteArray("https://k@h/1")) << none;
        QTest::newRow("not a string: list") << with(QStringList {kDsn}) << none;
    }
    void reportingKey()
    {
        QFETCH(QVariantMap, info);
        QFETCH(std::optional<QString>, key);
        QCOMPARE(crashReportingDSN(info), key);
    }

    void options_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<bool>("value");
        for (const auto& [name, value] : std::initializer_list<std::pair<const char*, bool>> {
                 {"sendDefaultPii", false},
                 {"enableAppHangTracking", true},
                 {"enableUncaughtNSExceptionReporting", true},
                 {"enableAutoSessionTracking", false},
                 {"enableNetworkBreadcrumbs", false},
                 {"enableNetworkTracking", false},
                 {"enableCaptureFailedRequests", false},
                 {"enableAutoPerformanceTracing", false},
                 {"beforeSend", true}})
            QTest::newRow(name) << QString::fromLatin1(name) << value;
    }
    void options()
    {
        QFETCH(QString, option);
        QFETCH(bool, value);
        const std::map<QString, bool Options::*> fields {
            {"sendDefaultPii", &Options::sendDefaultPii},
            {"enableAppHangTracking", &Options::enableAppHangTracking},
            {"enableUncaughtNSExceptionReporting", &Options::enableUncaughtNSExceptionReporting},
            {"enableAutoSessionTracking", &Options::enableAutoSessionTracking},
            {"enableNetworkBreadcrumbs", &Options::enableNetworkBreadcrumbs},
            {"enableNetworkTracking", &Options::enableNetworkTracking},
            {"enableCaptureFailedRequests", &Options::enableCaptureFailedRequests},
            {"enableAutoPerformanceTracing", &Options::enableAutoPerformanceTracing},
            {"beforeSend", &Options::filtersEvents}};
        const Options options = configureCrashReporting(kDsn);
        QCOMPARE(options.dsn, kDsn);
        QCOMPARE(options.*fields.at(option), value);
    }

    // No library, or no usable key: reporting stays off and nothing is started.
    void reportingOff_data()
    {
        QTest::addColumn<QVariantMap>("info");
        QTest::addColumn<bool>("libraryThere");
        QTest::newRow("key, no library") << QVariantMap {{kDsnKey, kDsn}} << false;
        QTest::newRow("library, no key") << QVariantMap {} << true;
        QTest::newRow("library, blank key") << QVariantMap {{kDsnKey, "  "}} << true;
        QTest::newRow("library, unsubstituted key") << QVariantMap {{kDsnKey, "$(SENTRY_DSN)"}} << true;
    }
    void reportingOff()
    {
        QFETCH(QVariantMap, info);
        QFETCH(bool, libraryThere);
        QTemporaryDir empty;
        QVERIFY(empty.isValid());
        const QString folder = libraryThere ? kFakeFolder : empty.path();
        QCOMPARE(CrashReportingLibrary::load(folder) != nullptr, libraryThere);
        QVERIFY(!CrashReporter::startForBuild(info, folder, empty.filePath("db")));
        QCOMPARE(m_fake.record().optionsMade, 0);
        QCOMPARE(m_fake.record().inits, 0);
        QVERIFY(!QFileInfo::exists(empty.filePath("db")));
    }

    // A file of that name that is no library of ours is not loaded.
    void foreignFileIsNoLibrary()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        QFile file(folder.filePath(CrashReportingLibrary::kFileName));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a library");
        file.close();
        QVERIFY(!CrashReportingLibrary::load(folder.path()));
        QVERIFY(!CrashReportingLibrary::load(QString()));
    }

    void startsWithTheOptionsAndClosesAtTheEnd()
    {
        QTemporaryDir cache;
        QVERIFY(cache.isValid());
        const QString database = cache.filePath("Vantorel/crash-reports");
        auto reporter = CrashReporter::startForBuild({{kDsnKey, "\n" + kDsn + " "}}, kFakeFolder, database);
        QVERIFY(reporter);
        const FakeSentryRecord& record = m_fake.record();
        QCOMPARE(record.inits, 1);
        QCOMPARE(QString::fromStdString(record.dsn), kDsn);
        QCOMPARE(QString::fromStdString(record.databasePath), database);
        QVERIFY(QFileInfo(database).isDir());
        QCOMPARE(record.autoSessionTracking, 0);
        QVERIFY(record.beforeSend);
        QCOMPARE(record.handlerPath, std::string());
        QCOMPARE(record.closes, 0);
        reporter.reset();
        QCOMPARE(record.closes, 1);
    }

    // A build with an out-of-process handler gets the one beside the library.
    void handlerBesideTheLibrary()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        QVERIFY(QFile::copy(kFakeFolder + "/libsentry.so", folder.filePath("libsentry.so")));
        const QString handler = folder.filePath(CrashReportingLibrary::kHandlerName);
        QFile file(handler);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

        auto library = CrashReportingLibrary::load(folder.path());
        QVERIFY(library);
        // Its own copy of the fake: read the record through the library it loaded.
        void* copy = dlopen(QFile::encodeName(folder.filePath("libsentry.so")).constData(), RTLD_NOW | RTLD_LOCAL);
        QVERIFY(copy);
        FakeSentryRecord& record = *reinterpret_cast<FakeSentryRecord* (*)()>(dlsym(copy, "fake_sentry_record"))();
        auto reporter = CrashReporter::start(std::move(library), configureCrashReporting(kDsn), folder.filePath("db"));
        QVERIFY(reporter);
        QCOMPARE(QString::fromStdString(record.handlerPath), handler);
        reporter.reset();
        dlclose(copy);
    }

    void refusedStartIsReportingOff()
    {
        m_fake.record().initResult = 1;
        QTemporaryDir cache;
        QVERIFY(cache.isValid());
        QVERIFY(!CrashReporter::startForBuild({{kDsnKey, kDsn}}, kFakeFolder, cache.path()));
        QCOMPARE(m_fake.record().inits, 1);
        QCOMPARE(m_fake.record().closes, 0);
    }

    // Events pass the installed filter as the library hands them over.
    void eventsPassTheFilter_data()
    {
        QTest::addColumn<QByteArray>("event");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("app context loses the hash, keeps the rest")
            << QByteArray(R"({"contexts":{"app":{"app_name":"Vantorel","device_app_hash":"abc","build":"7"},)"
                          R"("os":{"name":"Linux"}},"level":"fatal"})")
            << QByteArray(R"({"contexts":{"app":{"app_name":"Vantorel","build":"7"},"os":{"name":"Linux"}},)"
                          R"("level":"fatal"})");
        QTest::newRow("app context with the hash alone")
            << QByteArray(R"({"contexts":{"app":{"device_app_hash":"abc"}}})")
            << QByteArray(R"({"contexts":{"app":{}}})");
        QTest::newRow("app context without the hash")
            << QByteArray(R"({"contexts":{"app":{"app_name":"Vantorel"}}})")
            << QByteArray(R"({"contexts":{"app":{"app_name":"Vantorel"}}})");
        QTest::newRow("the hash in another context stays")
            << QByteArray(R"({"contexts":{"device":{"device_app_hash":"abc"}}})")
            << QByteArray(R"({"contexts":{"device":{"device_app_hash":"abc"}}})");
        QTest::newRow("app that is no dictionary")
            << QByteArray(R"({"contexts":{"app":"abc"}})") << QByteArray(R"({"contexts":{"app":"abc"}})");
        QTest::newRow("no contexts")
            << QByteArray(R"({"device_app_hash":"abc","level":"error"})")
            << QByteArray(R"({"device_app_hash":"abc","level":"error"})");
        QTest::newRow("contexts that are no dictionary")
            << QByteArray(R"({"contexts":["app"]})") << QByteArray(R"({"contexts":["app"]})");
    }
    void eventsPassTheFilter()
    {
        QFETCH(QByteArray, event);
        QFETCH(QByteArray, sent);
        QTemporaryDir cache;
        QVERIFY(cache.isValid());
        auto reporter = CrashReporter::startForBuild({{kDsnKey, kDsn}}, kFakeFolder, cache.path());
        QVERIFY(reporter);
        const FakeSentryRecord& record = m_fake.record();
        QVERIFY(record.beforeSend);
        const sentry_value_t in = m_fake.fromJson(event);
        const sentry_value_t out = record.beforeSend(in, nullptr, record.beforeSendClosure);
        // The same event goes on: never dropped, never replaced.
        QCOMPARE(out._bits, in._bits);
        QCOMPARE(m_fake.toJson(out), sent);
    }
};

QTEST_GUILESS_MAIN(CrashReportingTest)
#include "test_crash_reporting.moc"
