#pragma once

#include "platform/StrictJson.h"
#include "usage/ProviderClientError.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fuzzer/FuzzedDataProvider.h>

// Helpers of the fuzz targets: broken invariants abort, so libFuzzer keeps the input.
namespace fuzz {

[[noreturn]] inline void fail(const char* file, int line, const char* condition, const QString& detail)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n%s\n", file, line, condition, qPrintable(detail));
    std::abort();
}

inline QByteArray bytes(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// UTF-16 units straight from the bytes, so unpaired surrogates come too.
inline QString utf16(const QByteArray& bytes)
{
    return QString(reinterpret_cast<const QChar*>(bytes.constData()), bytes.size() / 2);
}

inline QString utf16(FuzzedDataProvider& input, size_t maxUnits)
{
    const std::string raw = input.ConsumeBytesAsString(2 * maxUnits);
    return utf16(QByteArray(raw.data(), static_cast<qsizetype>(raw.size())));
}

inline QByteArray consumeBytes(FuzzedDataProvider& input, size_t max)
{
    const std::string raw = input.ConsumeRandomLengthString(max);
    return QByteArray(raw.data(), static_cast<qsizetype>(raw.size()));
}

// Runs `f`; false when it threw one of the errors bad input may cause (a client's
// error, a decode error). Anything else, an encode error included, escapes to
// libFuzzer as a crash.
template <class F>
bool expectingErrors(F&& f)
{
    try {
        f();
        return true;
    } catch (const ProviderClientError&) {
    } catch (const json::DecodeError&) {
    }
    return false;
}

} // namespace fuzz

#define FUZZ_CHECK(condition, detail)                                     \
    do {                                                                  \
        if (!(condition))                                                 \
            ::fuzz::fail(__FILE__, __LINE__, #condition, (detail));       \
    } while (false)
