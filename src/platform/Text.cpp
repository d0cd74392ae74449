#include "Text.h"

#include <QRegularExpression>
#include <QTextBoundaryFinder>
#include <QDate>
#include <QTime>
#include <cmath>

namespace text {

QString lossyUtf8(const QByteArray& bytes)
{
    // Maximal-subpart substitution (Unicode 15, §3.9): each maximal prefix of a
    // valid sequence that cannot be completed becomes one U+FFFD.
    QString out;
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            out.append(QChar(b));
            ++i;
            continue;
        }
        int length = 0;
        char32_t cp = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) { length = 2; cp = b & 0x1F; }
        else if (b == 0xE0) { length = 3; cp = b & 0x0F; lo = 0xA0; }
        else if (b >= 0xE1 && b <= 0xEC) { length = 3; cp = b & 0x0F; }
        else if (b == 0xED) { length = 3; cp = b & 0x0F; hi = 0x9F; }
        else if (b >= 0xEE && b <= 0xEF) { length = 3; cp = b & 0x0F; }
        else if (b == 0xF0) { length = 4; cp = b & 0x07; lo = 0x90; }
        else if (b >= 0xF1 && b <= 0xF3) { length = 4; cp = b & 0x07; }
        else if (b == 0xF4) { length = 4; cp = b & 0x07; hi = 0x8F; }
        else {
            out.append(QChar(0xFFFD));
            ++i;
            continue;
        }
        qsizetype j = i + 1;
        bool complete = true;
        for (int k = 1; k < length; ++k, ++j) {
            const unsigned char c = j < n ? p[j] : 0;
            const unsigned char low = k == 1 ? lo : 0x80;
            const unsigned char high = k == 1 ? hi : 0xBF;
            if (j >= n || c < low || c > high) {
                complete = false;
                break;
            }
            cp = (cp << 6) | (c & 0x3F);
        }
        if (!complete) {
            out.append(QChar(0xFFFD));
            i = j;
            continue;
        }
        if (cp >= 0x10000) {
            out.append(QChar::highSurrogate(cp));
            out.append(QChar::lowSurrogate(cp));
        } else {
            out.append(QChar(static_cast<char16_t>(cp)));
        }
        i = j;
    }
    return out;
}

namespace {

// The next cluster boundary, or -1 at the end. Qt 6.4 reports boundaries inside
// surrogate pairs when the text holds letters of certain scripts (an emoji, then a
// Devanagari or Sinhala letter): those are skipped, so no cluster holds half a character.
qsizetype nextGraphemeBoundary(QTextBoundaryFinder& finder, const QString& s)
{
    for (;;) {
        const qsizetype position = finder.toNextBoundary();
        if (position <= 0 || position >= s.size())
            return position;
        if (!(s.at(position - 1).isHighSurrogate() && s.at(position).isLowSurrogate()))
            return position;
    }
}

} // namespace

qsizetype graphemeCount(const QString& s)
{
    if (s.isEmpty())
        return 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, s);
    qsizetype count = 0;
    while (nextGraphemeBoundary(finder, s) != -1)
        ++count;
    return count;
}

QString prefixGraphemes(const QString& s, qsizetype count)
{
    if (count <= 0)
        return {};
    if (s.size() <= count)
        return s; // never more clusters than UTF-16 units
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, s);
    qsizetype seen = 0;
    qsizetype position = 0;
    while (seen < count) {
        position = nextGraphemeBoundary(finder, s);
        if (position == -1)
            return s;
        ++seen;
    }
    return s.left(position);
}

int compareCodePoints(const QString& a, const QString& b)
{
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t x = a.at(i).unicode();
        const char16_t y = b.at(i).unicode();
        if (x == y)
            continue;
        // Surrogates (U+D800..DFFF) encode code points above U+FFFF: they sort
        // after every other BMP unit.
        const bool xs = x >= 0xD800 && x <= 0xDFFF;
        const bool ys = y >= 0xD800 && y <= 0xDFFF;
        if (xs != ys)
            return xs ? 1 : -1;
        return x < y ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

std::optional<Timestamp> parseRfc3339(const QString& s, Fraction fraction)
{
    static const QRegularExpression pattern(QStringLiteral(
        "^(\\d{4})-(\\d{2})-(\\d{2})[Tt](\\d{2}):(\\d{2}):(\\d{2})(?:\\.(\\d+))?(?:([Zz])|([+-])(\\d{2}):(\\d{2}))\\z"));
    const auto m = pattern.match(s);
    if (!m.hasMatch())
        return std::nullopt;
    const bool hasFraction = m.capturedLength(7) > 0;
    if ((fraction == Fraction::Required && !hasFraction) || (fraction == Fraction::Forbidden && hasFraction))
        return std::nullopt;
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const int hour = m.captured(4).toInt(), minute = m.captured(5).toInt(), second = m.captured(6).toInt();
    if (!date.isValid() || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    int offset = 0;
    if (m.capturedLength(8) == 0) {
        const int oh = m.captured(10).toInt(), om = m.captured(11).toInt();
        if (oh > 23 || om > 59)
            return std::nullopt;
        offset = (oh * 60 + om) * 60 * (m.captured(9) == QLatin1String("-") ? -1 : 1);
    }
    const qint64 days = QDate(1970, 1, 1).daysTo(date);
    double seconds = static_cast<double>(days * 86400 + hour * 3600 + minute * 60 + second - offset);
    if (hasFraction)
        seconds += (QStringLiteral("0.") + m.captured(7)).toDouble();
    return Timestamp::fromSince1970(seconds);
}

QString formatRfc3339(Timestamp t, bool withFraction)
{
    const QDateTime dt = t.toDateTime();
    return dt.toString(withFraction ? QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz'Z'") : QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
}

QString trimmed(const QString& s)
{
    auto isSpace = [](QChar c) {
        const char16_t u = c.unicode();
        return c.isSpace() || u == 0x85 || u == 0x2028 || u == 0x2029;
    };
    qsizetype start = 0, end = s.size();
    while (start < end && isSpace(s.at(start)))
        ++start;
    while (end > start && isSpace(s.at(end - 1)))
        --end;
    return s.mid(start, end - start);
}

QString stripTerminalEscapes(const QString& s)
{
    // CSI (ESC [ ... final), OSC (ESC ] ... BEL or ESC \), other ESC + one char, and 8-bit CSI.
    static const QRegularExpression pattern(QStringLiteral(
        "\\x1B\\[[0-?]*[ -/]*[@-~]|\\x1B\\][^\\x07\\x1B]*(?:\\x07|\\x1B\\\\)?|\\x1B[@-Z\\\\-_]|\\x{9B}[0-?]*[ -/]*[@-~]"));
    // Removing one sequence can join the text around it into another
    // (ESC ESC _ _, ESC [ ESC [ o k): remove until nothing changes, then drop
    // what is left of an introducer on its own.
    QString out = s;
    for (qsizetype before = -1; before != out.size();) {
        before = out.size();
        out.remove(pattern);
    }
    out.remove(QChar(0x1B));
    out.remove(QChar(0x9B));
    return out;
}

} // namespace text
