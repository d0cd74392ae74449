// Lossy UTF-8 decoding: well-formed output, valid text unchanged, ASCII never lost.
#include "FuzzSupport.h"
#include "platform/Text.h"

namespace {

bool wellFormed(const QString& s)
{
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s.at(i).isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate())
            ++i;
        else if (s.at(i).isSurrogate())
            return false;
    }
    return true;
}

QByteArray ascii(const QByteArray& bytes)
{
    QByteArray out;
    for (char c : bytes)
        if (static_cast<unsigned char>(c) < 0x80)
            out.append(c);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = fuzz::bytes(data, size);
    const QString text = text::lossyUtf8(bytes);
    FUZZ_CHECK(wellFormed(text), text);
    const QByteArray encoded = text.toUtf8();
    // Only a replacement character stands for dropped bytes: every ASCII byte stays, in order.
    FUZZ_CHECK(ascii(encoded) == ascii(bytes), text);
    FUZZ_CHECK(text::lossyUtf8(encoded) == text, text);
    // Valid input (it survives Qt's decoder unchanged) decodes as Qt decodes it.
    const QString qt = QString::fromUtf8(bytes);
    if (qt.toUtf8() == bytes)
        FUZZ_CHECK(text == qt, text);
    FUZZ_CHECK(text.size() <= bytes.size(), text);
    return 0;
}
