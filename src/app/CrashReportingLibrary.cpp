#include "app/CrashReportingLibrary.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>

namespace crashreporting {

namespace {

template <class F>
bool resolve(void* handle, const char* name, F& target)
{
    target = reinterpret_cast<F>(dlsym(handle, name));
    return target != nullptr;
}

bool isObject(const SentryApi& api, sentry_value_t value)
{
    return api.valueGetType(value) == int(SentryValueType::object);
}

sentry_value_t filterEvent(sentry_value_t event, void*, void* closure)
{
    return scrubCrashEvent(*static_cast<const SentryApi*>(closure), event);
}

} // namespace

sentry_value_t scrubCrashEvent(const SentryApi& api, sentry_value_t event)
{
    const sentry_value_t contexts = api.valueGetByKey(event, "contexts");
    if (!isObject(api, contexts))
        return event;
    const sentry_value_t app = api.valueGetByKey(contexts, "app");
    if (isObject(api, app))
        api.valueRemoveByKey(app, "device_app_hash");
    return event;
}

CrashReportingLibrary::CrashReportingLibrary(void* handle, QString folder, SentryApi api)
    : m_handle(handle), m_folder(std::move(folder)), m_api(api)
{
}

CrashReportingLibrary::~CrashReportingLibrary()
{
    dlclose(m_handle);
}

std::unique_ptr<CrashReportingLibrary> CrashReportingLibrary::load(const QString& folder)
{
    if (folder.isEmpty())
        return nullptr;
    const QString path = QDir(folder).filePath(kFileName);
    // Only this file: never a library of that name found elsewhere on the search path.
    if (!QFileInfo(path).isFile())
        return nullptr;
    void* handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return nullptr;
    SentryApi api;
    const bool complete = resolve(handle, "sentry_options_new", api.optionsNew)
        && resolve(handle, "sentry_options_set_dsn", api.optionsSetDsn)
        && resolve(handle, "sentry_options_set_database_path", api.optionsSetDatabasePath)
        && resolve(handle, "sentry_options_set_auto_session_tracking", api.optionsSetAutoSessionTracking)
        && resolve(handle, "sentry_options_set_before_send", api.optionsSetBeforeSend)
        && resolve(handle, "sentry_init", api.init) && resolve(handle, "sentry_close", api.close)
        && resolve(handle, "sentry_value_get_by_key", api.valueGetByKey)
        && resolve(handle, "sentry_value_remove_by_key", api.valueRemoveByKey)
        && resolve(handle, "sentry_value_get_type", api.valueGetType);
    if (!complete) {
        dlclose(handle);
        return nullptr;
    }
    resolve(handle, "sentry_options_set_handler_path", api.optionsSetHandlerPath);
    return std::unique_ptr<CrashReportingLibrary>(new CrashReportingLibrary(handle, folder, api));
}

CrashReporter::CrashReporter(std::unique_ptr<CrashReportingLibrary> library) : m_library(std::move(library)) {}

CrashReporter::~CrashReporter()
{
    m_library->api().close();
}

std::unique_ptr<CrashReporter> CrashReporter::start(std::unique_ptr<CrashReportingLibrary> library,
                                                    const Options& options, const QString& databaseFolder)
{
    if (!library)
        return nullptr;
    const SentryApi& api = library->api();
    sentry_options_t* native = api.optionsNew();
    if (!native)
        return nullptr;
    api.optionsSetDsn(native, options.dsn.toUtf8().constData());
    // The library's default is a folder in the working directory.
    QDir().mkpath(databaseFolder);
    api.optionsSetDatabasePath(native, QFile::encodeName(databaseFolder).constData());
    api.optionsSetAutoSessionTracking(native, options.enableAutoSessionTracking ? 1 : 0);
    if (options.filtersEvents)
        api.optionsSetBeforeSend(native, &filterEvent, const_cast<SentryApi*>(&api));
    // A build with an out-of-process handler finds it beside the library.
    const QString handler = QDir(library->folder()).filePath(CrashReportingLibrary::kHandlerName);
    if (api.optionsSetHandlerPath && QFileInfo(handler).isExecutable())
        api.optionsSetHandlerPath(native, QFile::encodeName(handler).constData());
    // The library owns the options from here on, also when it fails to start.
    if (api.init(native) != 0)
        return nullptr;
    return std::unique_ptr<CrashReporter>(new CrashReporter(std::move(library)));
}

std::unique_ptr<CrashReporter> CrashReporter::startForBuild(const QVariantMap& info, const QString& libraryFolder,
                                                            const QString& databaseFolder)
{
    const std::optional<QString> dsn = crashReportingDSN(info);
    if (!dsn)
        return nullptr;
    return start(CrashReportingLibrary::load(libraryFolder), configureCrashReporting(*dsn), databaseFolder);
}

} // namespace crashreporting
