#include "usage/ProviderCapabilities.h"

#include "usage/ModelCoding.h"

QString rawValue(ProviderHostCapability capability)
{
    switch (capability) {
    case ProviderHostCapability::outboundNetwork: return QStringLiteral("outboundNetwork");
    case ProviderHostCapability::localExecutable: return QStringLiteral("localExecutable");
    case ProviderHostCapability::externalConfigurationFiles: return QStringLiteral("externalConfigurationFiles");
    case ProviderHostCapability::sharedKeychain: return QStringLiteral("sharedKeychain");
    case ProviderHostCapability::statusLineBridge: return QStringLiteral("statusLineBridge");
    }
    return {};
}

std::optional<ProviderHostCapability> providerHostCapabilityFromRawValue(const QString& raw)
{
    return caseWithRawValue(kAllProviderHostCapabilities, raw);
}

QString rawValue(AppDistributionChannel channel)
{
    return channel == AppDistributionChannel::direct ? QStringLiteral("direct") : QStringLiteral("appStore");
}

std::optional<AppDistributionChannel> appDistributionChannelFromRawValue(const QString& raw)
{
    return caseWithRawValue(kAllAppDistributionChannels, raw);
}

const QList<ProviderIntegrationDescriptor>& ProviderIntegrationDescriptor::all()
{
    using C = ProviderHostCapability;
    static const QList<ProviderIntegrationDescriptor> table {
        {QStringLiteral("codex"), {C::outboundNetwork, C::localExecutable, C::externalConfigurationFiles}},
        {QStringLiteral("claude"), {C::outboundNetwork, C::externalConfigurationFiles, C::statusLineBridge}},
        {QStringLiteral("copilot"), {C::outboundNetwork, C::localExecutable, C::externalConfigurationFiles}},
        {QStringLiteral("antigravity"), {C::externalConfigurationFiles, C::statusLineBridge}},
    };
    return table;
}

QList<UsageProvider> ProviderIntegrationDescriptor::availableProviders(const QList<UsageProvider>& providers,
                                                                       AppDistributionChannel channel)
{
    QList<UsageProvider> out;
    for (UsageProvider provider : providers) {
        std::set<ProviderHostCapability> capabilities {ProviderHostCapability::externalConfigurationFiles};
        for (const ProviderIntegrationDescriptor& d : all()) {
            if (d.identifier == rawValue(provider)) {
                capabilities = d.capabilities;
                break;
            }
        }
        const bool keep = channel == AppDistributionChannel::direct
            || std::all_of(capabilities.begin(), capabilities.end(),
                           [](ProviderHostCapability c) { return c == ProviderHostCapability::outboundNetwork; });
        if (keep)
            out.append(provider);
    }
    return out;
}
