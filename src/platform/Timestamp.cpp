#include "Timestamp.h"

#include <cmath>

Timestamp Timestamp::fromDateTime(const QDateTime& dateTime)
{
    return fromSince1970(static_cast<double>(dateTime.toMSecsSinceEpoch()) / 1000.0);
}

QDateTime Timestamp::toDateTime() const
{
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::floor(since1970() * 1000.0)), Qt::UTC);
}
