#include "CopilotFraming.h"

#include "platform/StrictJson.h"
#include "platform/Text.h"

#include <QJsonObject>
#include <QStringList>

namespace {

const QByteArray kSeparator = QByteArrayLiteral("\r\n\r\n");

QString trimSpacesAndTabs(const QString& s)
{
    qsizetype start = 0, end = s.size();
    auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (start < end && blank(s.at(start)))
        ++start;
    while (end > start && blank(s.at(end - 1)))
        --end;
    return s.mid(start, end - start);
}

// An optional sign, then ASCII digits only; none when out of 0...kMaxBodyBytes.
std::optional<qint64> parseLength(const QString& value)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < value.size() && (value.at(i) == QLatin1Char('+') || value.at(i) == QLatin1Char('-'))) {
        negative = value.at(i) == QLatin1Char('-');
        ++i;
    }
    if (i == value.size())
        return std::nullopt;
    qint64 n = 0;
    for (; i < value.size(); ++i) {
        const char16_t c = value.at(i).unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        if (n <= CopilotFrameBuffer::kMaxBodyBytes)
            n = n * 10 + (c - u'0');
    }
    if (negative && n != 0)
        return std::nullopt;
    if (n > CopilotFrameBuffer::kMaxBodyBytes)
        return std::nullopt;
    return n;
}

} // namespace

QByteArray CopilotFrameBuffer::encodeRequest(qint64 id, const QString& method, const QMap<QString, QString>& params)
{
    QJsonObject paramsObject;
    for (auto it = params.begin(); it != params.end(); ++it)
        paramsObject.insert(it.key(), it.value());
    const QJsonObject request {
        {QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
        {QStringLiteral("id"), id},
        {QStringLiteral("method"), method},
        {QStringLiteral("params"), paramsObject},
    };
    const QByteArray body = json::serialize(request);
    return QByteArrayLiteral("Content-Length: ") + QByteArray::number(body.size()) + kSeparator + body;
}

std::optional<qint64> CopilotFrameBuffer::announcedLength(const QByteArray& headerBlock)
{
    const QStringList lines = text::lossyUtf8(headerBlock).split(QStringLiteral("\r\n"));
    for (const QString& line : lines) {
        if (!line.toLower().startsWith(QLatin1String("content-length:")))
            continue;
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        return parseLength(trimSpacesAndTabs(line.mid(colon + 1)));
    }
    return std::nullopt;
}

void CopilotFrameBuffer::append(const QByteArray& bytes)
{
    m_bytes.append(bytes);
}

qsizetype CopilotFrameBuffer::findSeparator()
{
    const qsizetype at = m_bytes.indexOf(kSeparator, m_scanFrom);
    if (at < 0)
        m_scanFrom = qMax<qsizetype>(0, m_bytes.size() - (kSeparator.size() - 1));
    else
        m_scanFrom = at;
    return at;
}

CopilotFrameBuffer::Status CopilotFrameBuffer::take(QByteArray& body)
{
    const qsizetype separator = findSeparator();
    if (separator < 0)
        return Status::NeedMore;
    const auto length = announcedLength(m_bytes.left(separator));
    if (!length)
        return Status::BadHeader;
    const qsizetype bodyStart = separator + kSeparator.size();
    if (m_bytes.size() - bodyStart < *length)
        return Status::NeedMore;
    body = m_bytes.mid(bodyStart, *length);
    m_bytes.remove(0, bodyStart + *length);
    m_scanFrom = 0;
    return Status::Message;
}

bool CopilotFrameBuffer::isOverfull() const
{
    // m_scanFrom stops at a found separator, so a complete header block is
    // known without scanning again.
    if (m_bytes.indexOf(kSeparator, m_scanFrom) >= 0)
        return false;
    return m_bytes.size() > kMaxBodyBytes;
}
