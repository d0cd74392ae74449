// A stored usage snapshot: what decodes encodes to a snapshot that decodes to the
// same usage, and encoding is stable.
#include "FuzzSupport.h"
#include "usage/ProviderUsage.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ProviderUsage usage;
    if (!fuzz::expectingErrors([&] { usage = ProviderUsage::fromJson(json::parse(fuzz::bytes(data, size))); }))
        return 0;
    const QByteArray encoded = json::serialize(usage.toJson());
    const ProviderUsage again = ProviderUsage::fromJson(json::parse(encoded));
    FUZZ_CHECK(again == usage, QString::fromUtf8(encoded));
    FUZZ_CHECK(json::serialize(again.toJson()) == encoded, QString::fromUtf8(encoded));
    if (const auto peak = usage.peakUsedPercent())
        FUZZ_CHECK(std::isfinite(*peak), QString::fromUtf8(encoded));
    usage.hasExhaustedCodexWindow();
    usage.canOfferCodexReset(Timestamp::fromSince1970(1'800'000'000.0));
    return 0;
}
