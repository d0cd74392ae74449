#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <optional>

// Content-Length framing of the Copilot CLI's JSON-RPC: a header block, CR LF
// CR LF, and a body of exactly the announced number of bytes.
class CopilotFrameBuffer {
public:
    static constexpr qint64 kMaxBodyBytes = 2'000'000;

    enum class Status {
        Message,   // a complete body was taken out
        NeedMore,  // no complete message yet
        BadHeader, // the header block has no usable length
    };

    // One request: "Content-Length: N", the separator, then the JSON-RPC body
    // {"jsonrpc": "2.0", "id": id, "method": method, "params": {...}}.
    static QByteArray encodeRequest(qint64 id, const QString& method, const QMap<QString, QString>& params);

    // The announced length of a header block, or none when it has no usable
    // "content-length:" line (missing, empty, not a decimal integer, out of range).
    static std::optional<qint64> announcedLength(const QByteArray& headerBlock);

    void append(const QByteArray& bytes);
    // Takes the body of the first complete message, removing the message
    // from the buffer. BadHeader leaves the buffer as it is.
    Status take(QByteArray& body);

    // True when the bytes held cannot become an acceptable message: the
    // header block is still open and more than kMaxBodyBytes are waiting.
    // Once a header block is complete its announced length bounds the
    // message, so a body of kMaxBodyBytes is accepted however it arrives.
    bool isOverfull() const;
    bool isEmpty() const { return m_bytes.isEmpty(); }
    qsizetype size() const { return m_bytes.size(); }

private:
    qsizetype findSeparator();

    QByteArray m_bytes;
    qsizetype m_scanFrom = 0; // the separator does not start before this
};
