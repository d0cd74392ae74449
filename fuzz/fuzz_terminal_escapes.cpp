// Escape removal: no ESC or 8-bit CSI survives, only removal, and a second pass changes nothing.
#include "FuzzSupport.h"
#include "platform/Text.h"

namespace {

// Whether `part` is `whole` with some units removed.
bool isSubsequence(const QString& part, const QString& whole)
{
    qsizetype j = 0;
    for (qsizetype i = 0; i < whole.size() && j < part.size(); ++i)
        if (whole.at(i) == part.at(j))
            ++j;
    return j == part.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = fuzz::bytes(data, size);
    for (const QString& s : {text::lossyUtf8(bytes), fuzz::utf16(bytes)}) {
        const QString out = text::stripTerminalEscapes(s);
        FUZZ_CHECK(!out.contains(QChar(0x1B)) && !out.contains(QChar(0x9B)), out);
        FUZZ_CHECK(isSubsequence(out, s), out);
        FUZZ_CHECK(text::stripTerminalEscapes(out) == out, out);
        if (!s.contains(QChar(0x1B)) && !s.contains(QChar(0x9B)))
            FUZZ_CHECK(out == s, out);
    }
    return 0;
}
