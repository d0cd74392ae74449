#pragma once

#include "Timestamp.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace text {

// UTF-8 decoding with one U+FFFD per maximal invalid subsequence; valid text is never dropped.
QString lossyUtf8(const QByteArray& bytes);

// Count and cut by grapheme clusters (characters as the user sees them).
qsizetype graphemeCount(const QString& s);
QString prefixGraphemes(const QString& s, qsizetype count);

// Orders strings by Unicode code points (not UTF-16 units). <0, 0, >0.
int compareCodePoints(const QString& a, const QString& b);
inline bool lessByCodePoints(const QString& a, const QString& b) { return compareCodePoints(a, b) < 0; }

// Strict RFC 3339: YYYY-MM-DD "T" hh:mm:ss, optional fraction, "Z" or ±hh:mm.
// `fraction`: Optional accepts both, Required needs one, Forbidden rejects one.
enum class Fraction { Optional, Required, Forbidden };
std::optional<Timestamp> parseRfc3339(const QString& s, Fraction fraction = Fraction::Optional);
// "2026-12-10T09:01:19Z" (with milliseconds when `withFraction`).
QString formatRfc3339(Timestamp t, bool withFraction = false);

// Trims white space and line breaks at both ends (Unicode White_Space).
QString trimmed(const QString& s);

// Removes terminal escape sequences (CSI, OSC and two-character ESC forms); no ESC
// or 8-bit CSI is left in the result.
QString stripTerminalEscapes(const QString& s);

} // namespace text
