// The grapheme cut: a prefix, never inside a surrogate pair, never more clusters than asked.
#include "FuzzSupport.h"
#include "platform/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const int limit = input.ConsumeIntegralInRange<int>(-1, 40);
    // Half the inputs as UTF-8 (real text), half as raw UTF-16 (unpaired surrogates too).
    const QString s = input.ConsumeBool() ? text::lossyUtf8(fuzz::consumeBytes(input, 4096))
                                          : fuzz::utf16(input, 2048);

    const qsizetype count = text::graphemeCount(s);
    FUZZ_CHECK(count <= s.size() && (count == 0) == s.isEmpty(), s);

    const QString cut = text::prefixGraphemes(s, limit);
    FUZZ_CHECK(s.startsWith(cut), cut);
    const qsizetype n = cut.size();
    FUZZ_CHECK(n == s.size() || n == 0 || !(s.at(n - 1).isHighSurrogate() && s.at(n).isLowSurrogate()), cut);
    // Qt's finder looks at the whole text (a letter of some scripts further on changes
    // the boundaries before it), so the cut counted alone may hold fewer clusters.
    const qsizetype wanted = std::max(limit, 0);
    if (count <= wanted)
        FUZZ_CHECK(cut == s, cut);
    else
        FUZZ_CHECK(text::graphemeCount(cut) <= wanted && cut.isEmpty() == (wanted == 0), cut);
    // A longer limit never gives a shorter cut.
    FUZZ_CHECK(text::prefixGraphemes(s, limit + 1).startsWith(cut), cut);
    return 0;
}
