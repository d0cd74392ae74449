// RFC 3339 dates: only the strict form is read, and what is written reads back.
#include "FuzzSupport.h"
#include "platform/Text.h"

#include <QRegularExpression>
#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString s = text::lossyUtf8(fuzz::bytes(data, size));
    const auto optional = text::parseRfc3339(s, text::Fraction::Optional);
    const auto required = text::parseRfc3339(s, text::Fraction::Required);
    const auto forbidden = text::parseRfc3339(s, text::Fraction::Forbidden);
    // Every accepted text has the shape, and exactly one of the strict modes agrees.
    static const QRegularExpression shape(QStringLiteral(
        "^\\d{4}-\\d{2}-\\d{2}[Tt]\\d{2}:\\d{2}:\\d{2}(\\.\\d+)?([Zz]|[+-]\\d{2}:\\d{2})\\z"));
    const auto match = shape.match(s);
    if (!optional) {
        FUZZ_CHECK(!required && !forbidden, s);
        return 0;
    }
    FUZZ_CHECK(match.hasMatch(), s);
    FUZZ_CHECK(required.has_value() != forbidden.has_value(), s);
    FUZZ_CHECK(required.has_value() == match.hasCaptured(1), s);
    FUZZ_CHECK(*optional == (required ? *required : *forbidden), s);
    const double seconds = optional->since1970();
    FUZZ_CHECK(std::isfinite(seconds), s);

    // Within the years the format can write, the written form reads back.
    if (seconds >= -62135596800.0 + 86400 && seconds < 253402300799.0 - 86400) {
        const Timestamp whole = Timestamp::fromSince1970(std::floor(seconds));
        const QString written = text::formatRfc3339(whole);
        const auto back = text::parseRfc3339(written, text::Fraction::Forbidden);
        FUZZ_CHECK(back && *back == whole, written);
        const QString precise = text::formatRfc3339(*optional, true);
        const auto again = text::parseRfc3339(precise, text::Fraction::Required);
        FUZZ_CHECK(again && std::fabs(again->since1970() - seconds) <= 0.001 + 1e-9 * std::fabs(seconds), precise);
    }
    return 0;
}
