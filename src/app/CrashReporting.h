#pragma once

#include <QString>
#include <QVariantMap>
#include <optional>

// Whether and how crash reports are sent: the reporting key of the build and
// the options the reporting library is started with.
namespace crashreporting {

inline const QString kDsnKey = QStringLiteral("VantorelSentryDSN");

// The reporting key of an information dictionary: its "VantorelSentryDSN"
// string trimmed of white space and line breaks; none when it is missing, not
// a string, blank, or still holds an unsubstituted "$(" reference.
std::optional<QString> crashReportingDSN(const QVariantMap& info);

// The options reporting starts with. The library takes the ones it knows
// (the key, session tracking and the event filter); the others have no
// counterpart in it and stay as recorded here.
struct Options {
    QString dsn;
    bool sendDefaultPii = false;
    bool enableAppHangTracking = false;
    bool enableUncaughtNSExceptionReporting = false;
    bool enableAutoSessionTracking = false;
    bool enableNetworkBreadcrumbs = false;
    bool enableNetworkTracking = false;
    bool enableCaptureFailedRequests = false;
    bool enableAutoPerformanceTracing = false;
    // Every event passes the event filter (scrubCrashEvent) before it is sent.
    bool filtersEvents = false;

    bool operator==(const Options&) const = default;
};

// The options for a reporting key (already checked by crashReportingDSN).
Options configureCrashReporting(const QString& dsn);

} // namespace crashreporting
