#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QQueue>

namespace wrenkit {

// Cuts the byte stream that the socket delivers in arbitrary chunks into POP3 replies.
//
// Every command sent pushes the shape of the reply it awaits (expect()); incoming bytes are cut
// exactly at each reply's terminator and handed out in order (takeReply()). A reply never holds a
// byte past its terminator. Bytes that arrive while no reply is awaited, or a reply to a command
// whose status line begins with neither "+" nor "-", mean the server is out of step with the
// client. The bytes held (the reply in progress and the replies not yet taken) are bounded.
class Pop3ReplyReader
{
public:
    // The greeting is one line whatever its sign; a command's reply is one line, or many up to a
    // line holding a lone full stop when its status line is positive.
    enum class Shape { Greeting, SingleLine, MultiLine };
    enum class Outcome { Ok, TooLarge, OutOfStep };

    struct Reply
    {
        QByteArray bytes; // from the status line up to and including the terminator
        char mark = 0;    // first character of the status line; 0 for an empty one
        // The status line without its CR LF.
        QByteArrayView statusLine() const { return QByteArrayView(bytes).first(bytes.indexOf("\r\n")); }
    };

    // Well above any real header or message a desktop checker reads with RETR.
    static constexpr qsizetype DefaultMaxBufferBytes = qsizetype(128) * 1024 * 1024;

    // A new connection: nothing awaited, nothing held.
    void reset();
    // A command was sent: its reply of this shape joins the queue of awaited replies.
    void expect(Shape shape);

    // Takes one chunk. TooLarge keeps nothing of it; OutOfStep keeps the complete replies before
    // the first byte that was out of step and drops the rest, which can no longer be trusted.
    Outcome append(QByteArrayView chunk);

    bool hasReply() const { return !m_done.isEmpty(); }
    // The oldest complete reply not yet taken.
    Reply takeReply();
    // Replies awaited that have not arrived in full.
    qsizetype awaited() const { return m_awaited.size(); }
    // Bytes held: the reply in progress and the complete replies not yet taken.
    qsizetype heldBytes() const { return m_current.size() + m_doneBytes; }

    qsizetype maxBufferBytes() const { return m_maxBytes; }
    void setMaxBufferBytes(qsizetype bytes) { m_maxBytes = bytes; }

private:
    // Cuts complete replies off m_current; false when the server is out of step.
    bool scan();
    void finishReply(qsizetype end, char mark);

    QQueue<Shape> m_awaited;
    QQueue<Reply> m_done;
    qsizetype m_doneBytes = 0;
    QByteArray m_current;       // bytes of the reply in progress
    qsizetype m_statusEnd = -1; // offset of the CR LF that ends its status line
    qsizetype m_scanFrom = 0;   // where the search for its terminator goes on
    qsizetype m_maxBytes = DefaultMaxBufferBytes;
};

} // namespace wrenkit
