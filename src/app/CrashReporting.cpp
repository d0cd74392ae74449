#include "app/CrashReporting.h"

namespace crashreporting {

std::optional<QString> crashReportingDSN(const QVariantMap& info)
{
    const auto entry = info.constFind(kDsnKey);
    if (entry == info.constEnd() || entry->typeId() != QMetaType::QString)
        return std::nullopt;
    // QString::trimmed drops the Unicode white space and line breaks (QChar::isSpace).
    const QString key = entry->toString().trimmed();
    if (key.isEmpty() || key.contains(QLatin1String("$(")))
        return std::nullopt;
    return key;
}

Options configureCrashReporting(const QString& dsn)
{
    Options options;
    options.dsn = dsn;
    options.sendDefaultPii = false;
    options.enableAppHangTracking = true;
    options.enableUncaughtNSExceptionReporting = true;
    options.enableAutoSessionTracking = false;
    options.enableNetworkBreadcrumbs = false;
    options.enableNetworkTracking = false;
    options.enableCaptureFailedRequests = false;
    options.enableAutoPerformanceTracing = false;
    options.filtersEvents = true;
    return options;
}

} // namespace crashreporting
