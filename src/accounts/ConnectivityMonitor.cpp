#include "ConnectivityMonitor.h"

#include "platform/MainThread.h"
#include "platform/NetworkReachability.h"

namespace {

class SystemConnectivityMonitor final : public ConnectivityMonitor {
public:
    void start(Handler onUpdate) override
    {
        ASSERT_MAIN_THREAD();
        cancel();
        m_reachability = std::make_unique<NetworkReachability>();
        QObject::connect(m_reachability.get(), &NetworkReachability::reachabilityChanged, m_reachability.get(),
                         [onUpdate](bool reachable) { onUpdate(reachable); });
        onUpdate(m_reachability->isReachable());
    }

    void cancel() override { m_reachability.reset(); }

private:
    std::unique_ptr<NetworkReachability> m_reachability;
};

} // namespace

std::unique_ptr<ConnectivityMonitor> makeSystemConnectivityMonitor()
{
    return std::make_unique<SystemConnectivityMonitor>();
}
