#pragma once

#include "ImapParser.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QQueue>

namespace wrenkit
{

// Cuts the byte stream that the socket delivers in arbitrary chunks into IMAP responses.
//
// A response is a line up to CR LF, where a line that ends in a literal announcement ("{n}" or
// "{n+}") goes on after the literal's n bytes. Complete responses are parsed and handed out in
// order (takeResponse()); until a response has fully arrived, literal included, the reader only
// holds its bytes. Every command sent names its tag (expect()); a tagged response to a tag not in
// flight, a continuation request while no command in flight may continue, or a first response
// that is not a greeting means the server is out of step with the client. Untagged responses are
// taken at any time after the greeting, as servers may send them unasked. The bytes held (the
// response in progress and the responses not yet taken) are bounded; a literal that claims more
// than the room left is refused at once, before its bytes arrive.
//
// After any fault the reader keeps the complete responses before it, drops everything else and
// refuses further bytes with the same outcome until reset(): the stream can no longer be trusted.
class ImapReplyReader
{
public:
    enum class Outcome { Ok, TooLarge, OutOfStep, Malformed };

    // Well above any header block a desktop checker reads with one FETCH.
    static constexpr qsizetype DefaultMaxBufferBytes = qsizetype(128) * 1024 * 1024;

    // A new connection: the greeting awaited, no command in flight, nothing held.
    void reset();
    // A command with this tag was sent. mayContinue: it may get continuation requests ("+")
    // before its tagged response (AUTHENTICATE, a command carrying a synchronising literal).
    void expect(QByteArrayView tag, bool mayContinue = false);

    // Takes one chunk; see the class comment for the faults.
    Outcome append(QByteArrayView chunk);

    bool hasResponse() const { return !m_done.isEmpty(); }
    // The oldest complete response not yet taken.
    ImapResponse takeResponse();
    // Commands sent whose tagged response has not arrived.
    qsizetype inFlight() const { return m_inFlight.size(); }
    // Bytes held: the response in progress and the complete responses not yet taken.
    qsizetype heldBytes() const { return m_current.size() - m_begin + m_doneBytes; }

    qsizetype maxBufferBytes() const { return m_maxBytes; }
    void setMaxBufferBytes(qsizetype bytes) { m_maxBytes = bytes; }

private:
    struct Command {
        QByteArray tag;
        bool mayContinue = false;
    };
    struct Done {
        ImapResponse response;
        qsizetype bytes = 0;
    };

    // Cuts complete responses off the bytes held.
    Outcome scan();
    Outcome finishResponse(qsizetype end);
    Outcome fail(Outcome outcome);

    QList<Command> m_inFlight;
    QQueue<Done> m_done;
    qsizetype m_doneBytes = 0;
    bool m_greeted = false;
    Outcome m_fault = Outcome::Ok;

    // The bytes of the response in progress from m_begin on; while a chunk is scanned, the
    // responses already cut off from it lie before m_begin. All offsets below are into m_current.
    QByteArray m_current;
    qsizetype m_begin = 0;
    qsizetype m_lineStart = 0;   // where its current line begins (after the last literal)
    qsizetype m_scanFrom = 0;    // where the search for that line's CR LF goes on
    qsizetype m_literalEnd = -1; // the end of a literal not yet complete
    qsizetype m_maxBytes = DefaultMaxBufferBytes;
};

} // namespace wrenkit
