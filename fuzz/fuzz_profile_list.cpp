// The stored profile list: what decodes encodes to a list that decodes to the same
// profiles, and encoding is stable.
#include "FuzzSupport.h"
#include "accounts/ProfileDiscovery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QList<ProviderProfile> profiles;
    if (!fuzz::expectingErrors([&] { profiles = ProfileDiscovery::decodeProfileList(fuzz::bytes(data, size)); }))
        return 0;
    const QByteArray encoded = ProfileDiscovery::encodeProfileList(profiles);
    const QList<ProviderProfile> again = ProfileDiscovery::decodeProfileList(encoded);
    FUZZ_CHECK(again == profiles, QString::fromUtf8(encoded));
    FUZZ_CHECK(ProfileDiscovery::encodeProfileList(again) == encoded, QString::fromUtf8(encoded));
    for (const ProviderProfile& p : profiles)
        FUZZ_CHECK(p.id().size() == 64, p.id());
    return 0;
}
