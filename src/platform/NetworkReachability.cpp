#include "NetworkReachability.h"

#include "MainThread.h"

#include <QNetworkInformation>

namespace {

QNetworkInformation* information()
{
    static const bool loaded = QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability);
    return loaded ? QNetworkInformation::instance() : nullptr;
}

bool countsAsReachable(QNetworkInformation::Reachability reachability)
{
    return reachability != QNetworkInformation::Reachability::Disconnected;
}

} // namespace

NetworkReachability::NetworkReachability(QObject* parent) : QObject(parent)
{
    ASSERT_MAIN_THREAD();
    if (QNetworkInformation* info = information()) {
        connect(info, &QNetworkInformation::reachabilityChanged, this,
                [this](QNetworkInformation::Reachability r) { emit reachabilityChanged(countsAsReachable(r)); });
    }
}

bool NetworkReachability::isReachable() const
{
    QNetworkInformation* info = information();
    return info == nullptr || countsAsReachable(info->reachability());
}
