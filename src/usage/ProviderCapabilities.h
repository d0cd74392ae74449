#pragma once

#include "usage/UsageProvider.h"

#include <QList>
#include <QString>
#include <array>
#include <optional>
#include <set>

// What an integration needs from the host.
enum class ProviderHostCapability {
    outboundNetwork,
    localExecutable,
    externalConfigurationFiles,
    sharedKeychain,
    statusLineBridge,
};

inline constexpr std::array<ProviderHostCapability, 5> kAllProviderHostCapabilities {
    ProviderHostCapability::outboundNetwork, ProviderHostCapability::localExecutable,
    ProviderHostCapability::externalConfigurationFiles, ProviderHostCapability::sharedKeychain,
    ProviderHostCapability::statusLineBridge};

QString rawValue(ProviderHostCapability capability); // the case name
std::optional<ProviderHostCapability> providerHostCapabilityFromRawValue(const QString& raw);

// The channel a build is distributed through.
enum class AppDistributionChannel { direct, appStore };

inline constexpr std::array<AppDistributionChannel, 2> kAllAppDistributionChannels {
    AppDistributionChannel::direct, AppDistributionChannel::appStore};

QString rawValue(AppDistributionChannel channel); // "direct", "appStore"
std::optional<AppDistributionChannel> appDistributionChannelFromRawValue(const QString& raw);

struct ProviderIntegrationDescriptor {
    QString identifier; // a UsageProvider raw value
    std::set<ProviderHostCapability> capabilities;

    bool operator==(const ProviderIntegrationDescriptor&) const = default;

    // The fixed table: codex, claude, copilot, antigravity.
    static const QList<ProviderIntegrationDescriptor>& all();

    // The providers of `providers` that a build of `channel` may offer, in the given order.
    static QList<UsageProvider> availableProviders(const QList<UsageProvider>& providers,
                                                   AppDistributionChannel channel);
};
