#pragma once

#include "app/CrashReporting.h"

#include <QString>
#include <cstdint>
#include <memory>

// The few declarations of the Sentry Native C interface that we call. The
// library is not a build dependency: it is loaded at run time when present.
extern "C" {
union sentry_value_u {
    std::uint64_t _bits;
    double _double;
};
typedef union sentry_value_u sentry_value_t;
typedef struct sentry_options_s sentry_options_t;
typedef sentry_value_t (*sentry_event_function_t)(sentry_value_t event, void* hint, void* closure);
}

namespace crashreporting {

// Value types as the library numbers them.
enum class SentryValueType { null = 0, boolean = 1, int32 = 2, real = 3, string = 4, list = 5, object = 6 };

// The library's entry points, resolved from the loaded file.
struct SentryApi {
    sentry_options_t* (*optionsNew)() = nullptr;
    void (*optionsSetDsn)(sentry_options_t*, const char*) = nullptr;
    void (*optionsSetDatabasePath)(sentry_options_t*, const char*) = nullptr;
    void (*optionsSetAutoSessionTracking)(sentry_options_t*, int) = nullptr;
    void (*optionsSetBeforeSend)(sentry_options_t*, sentry_event_function_t, void*) = nullptr;
    // Only in builds with an out-of-process handler; may be missing.
    void (*optionsSetHandlerPath)(sentry_options_t*, const char*) = nullptr;
    int (*init)(sentry_options_t*) = nullptr;
    int (*close)() = nullptr;
    sentry_value_t (*valueGetByKey)(sentry_value_t, const char*) = nullptr;
    int (*valueRemoveByKey)(sentry_value_t, const char*) = nullptr;
    int (*valueGetType)(sentry_value_t) = nullptr;
};

// The event filter: removes "device_app_hash" from the event's "app" context
// and keeps everything else; an event without it leaves unchanged. Never
// drops an event. Runs on the library's threads and touches only the event.
sentry_value_t scrubCrashEvent(const SentryApi& api, sentry_value_t event);

// The loaded reporting library. Unloads it when it goes.
class CrashReportingLibrary {
public:
    static inline const QString kFileName = QStringLiteral("libsentry.so");
    static inline const QString kHandlerName = QStringLiteral("crashpad_handler");

    // Loads kFileName from `folder`; none when the file is missing, cannot be
    // loaded or lacks an entry point we call.
    static std::unique_ptr<CrashReportingLibrary> load(const QString& folder);
    ~CrashReportingLibrary();
    CrashReportingLibrary(const CrashReportingLibrary&) = delete;
    CrashReportingLibrary& operator=(const CrashReportingLibrary&) = delete;

    const SentryApi& api() const { return m_api; }
    const QString& folder() const { return m_folder; }

private:
    CrashReportingLibrary(void* handle, QString folder, SentryApi api);

    void* m_handle;
    QString m_folder;
    SentryApi m_api;
};

// Reporting while it lives: started with the options, ended (pending reports
// written out) when it goes.
class CrashReporter {
public:
    // Starts `library` with `options` and its database in `databaseFolder`
    // (created when missing); none when the library refuses to start.
    static std::unique_ptr<CrashReporter> start(std::unique_ptr<CrashReportingLibrary> library, const Options& options,
                                                const QString& databaseFolder);
    // The application's reporting: the key of `info`, the library from
    // `libraryFolder`. None (reporting off) without a usable key or library.
    static std::unique_ptr<CrashReporter> startForBuild(const QVariantMap& info, const QString& libraryFolder,
                                                        const QString& databaseFolder);
    ~CrashReporter();
    CrashReporter(const CrashReporter&) = delete;
    CrashReporter& operator=(const CrashReporter&) = delete;

    const CrashReportingLibrary& library() const { return *m_library; }

private:
    explicit CrashReporter(std::unique_ptr<CrashReportingLibrary> library);

    std::unique_ptr<CrashReportingLibrary> m_library;
};

} // namespace crashreporting
