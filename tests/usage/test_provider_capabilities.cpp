#include "usage/ProviderCapabilities.h"

#include <QTest>

Q_DECLARE_METATYPE(QList<UsageProvider>)

class TestProviderCapabilities : public QObject {
    Q_OBJECT

private slots:
    void rawValues()
    {
        for (ProviderHostCapability c : kAllProviderHostCapabilities)
            QCOMPARE(providerHostCapabilityFromRawValue(rawValue(c)), std::optional(c));
        QCOMPARE(rawValue(ProviderHostCapability::externalConfigurationFiles), QStringLiteral("externalConfigurationFiles"));
        QVERIFY(!providerHostCapabilityFromRawValue("OutboundNetwork"));
        QCOMPARE(appDistributionChannelFromRawValue("appStore"), std::optional(AppDistributionChannel::appStore));
        QVERIFY(!appDistributionChannelFromRawValue("app_store"));
    }

    void table()
    {
        using C = ProviderHostCapability;
        const auto& all = ProviderIntegrationDescriptor::all();
        QCOMPARE(all.size(), 4);
        QCOMPARE(all[0], (ProviderIntegrationDescriptor {"codex", {C::outboundNetwork, C::localExecutable, C::externalConfigurationFiles}}));
        QCOMPARE(all[1], (ProviderIntegrationDescriptor {"claude", {C::statusLineBridge, C::externalConfigurationFiles, C::outboundNetwork}}));
        QCOMPARE(all[2], (ProviderIntegrationDescriptor {"copilot", {C::outboundNetwork, C::localExecutable, C::externalConfigurationFiles}}));
        QCOMPARE(all[3], (ProviderIntegrationDescriptor {"antigravity", {C::externalConfigurationFiles, C::statusLineBridge}}));
    }

    void availableProviders_data()
    {
        QTest::addColumn<QList<UsageProvider>>("input");
        QTest::addColumn<int>("channel");
        QTest::addColumn<QList<UsageProvider>>("expected");
        const QList<UsageProvider> four {UsageProvider::codex, UsageProvider::claude, UsageProvider::copilot, UsageProvider::antigravity};
        const QList<UsageProvider> reversed {UsageProvider::antigravity, UsageProvider::codex};
        QTest::newRow("direct keeps all") << four << int(AppDistributionChannel::direct) << four;
        QTest::newRow("direct keeps order") << reversed << int(AppDistributionChannel::direct) << reversed;
        QTest::newRow("app store keeps none") << four << int(AppDistributionChannel::appStore) << QList<UsageProvider>();
        QTest::newRow("empty direct") << QList<UsageProvider>() << int(AppDistributionChannel::direct) << QList<UsageProvider>();
        QTest::newRow("empty app store") << QList<UsageProvider>() << int(AppDistributionChannel::appStore) << QList<UsageProvider>();
    }
    void availableProviders()
    {
        QFETCH(QList<UsageProvider>, input);
        QFETCH(int, channel);
        QFETCH(QList<UsageProvider>, expected);
        QCOMPARE(ProviderIntegrationDescriptor::availableProviders(input, AppDistributionChannel(channel)), expected);
    }
};

QTEST_GUILESS_MAIN(TestProviderCapabilities)
#include "test_provider_capabilities.moc"
