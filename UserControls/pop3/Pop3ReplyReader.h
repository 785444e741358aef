#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace wrenkit {

// Frames POP3 replies out of the byte stream that the socket delivers in arbitrary chunks.
//
// The receive buffer collects every chunk since it was last cleared (the control shows it as
// MsgContents). Within it, the current reply starts where expect() was called: its sign is the
// first character of its status line, a single-line reply is complete at its CR LF, and a
// multi-line reply is complete at its terminating line (a lone "."), or at once when its status
// line is negative. The buffer is bounded: past maxBufferBytes() append() refuses the chunk.
class Pop3ReplyReader
{
public:
    enum class Shape { SingleLine, MultiLine };

    // Well above any real header or message a desktop checker reads with RETR.
    static constexpr qsizetype DefaultMaxBufferBytes = qsizetype(128) * 1024 * 1024;

    // Forgets the collected data (ReceiveBuffer); the next byte begins a new reply of the same shape.
    void clearBuffer();
    // The next byte received begins a new reply of the given shape; clears ReplyMark.
    void expect(Shape shape);
    // Forgets the sign of the current reply without starting a new one.
    void clearReplyMark() { m_mark = 0; }

    // Appends one chunk. Returns false, keeping nothing of it, when the buffer would exceed its cap.
    bool append(QByteArrayView chunk);

    const QByteArray &buffer() const { return m_buffer; }
    // First character of the current reply's status line, once that line is complete; 0 before.
    char replyMark() const { return m_mark; }
    bool statusLineComplete() const { return m_statusEnd >= 0; }
    // The status line of the current reply without its CR LF (empty until complete).
    QByteArrayView statusLine() const;
    bool responseComplete() const { return m_complete; }

    qsizetype maxBufferBytes() const { return m_maxBytes; }
    void setMaxBufferBytes(qsizetype bytes) { m_maxBytes = bytes; }

private:
    void scan();

    QByteArray m_buffer;
    qsizetype m_maxBytes = DefaultMaxBufferBytes;
    Shape m_shape = Shape::SingleLine;
    qsizetype m_replyStart = 0; // offset of the current reply in m_buffer
    qsizetype m_statusEnd = -1; // offset of the CR LF that ends its status line
    qsizetype m_scanFrom = 0;   // where the search for the terminator goes on
    char m_mark = 0;
    bool m_complete = false;
};

} // namespace wrenkit
