#include "Pop3ReplyReader.h"

namespace wrenkit {

void Pop3ReplyReader::reset()
{
    m_awaited.clear();
    m_done.clear();
    m_doneBytes = 0;
    m_current.clear();
    m_statusEnd = -1;
    m_scanFrom = 0;
}

void Pop3ReplyReader::expect(Shape shape)
{
    m_awaited.enqueue(shape);
}

Pop3ReplyReader::Outcome Pop3ReplyReader::append(QByteArrayView chunk)
{
    if (chunk.isEmpty())
        return Outcome::Ok;
    if (chunk.size() > m_maxBytes - heldBytes())
        return Outcome::TooLarge;
    m_current.append(chunk);
    if (scan())
        return Outcome::Ok;
    m_current.clear();
    m_statusEnd = -1;
    m_scanFrom = 0;
    m_awaited.clear();
    return Outcome::OutOfStep;
}

Pop3ReplyReader::Reply Pop3ReplyReader::takeReply()
{
    Reply reply = m_done.dequeue();
    m_doneBytes -= reply.bytes.size();
    return reply;
}

bool Pop3ReplyReader::scan()
{
    while (!m_current.isEmpty()) {
        if (m_awaited.isEmpty())
            return false;
        const Shape shape = m_awaited.head();
        if (m_statusEnd < 0) {
            const qsizetype crlf = m_current.indexOf("\r\n", std::max<qsizetype>(m_scanFrom - 1, 0));
            if (crlf < 0) {
                m_scanFrom = m_current.size();
                return true;
            }
            const char mark = crlf > 0 ? m_current.at(0) : 0;
            if (shape != Shape::Greeting && mark != '+' && mark != '-')
                return false;
            if (shape != Shape::MultiLine || mark == '-') {
                finishReply(crlf + 2, mark);
                continue;
            }
            // The terminating line may follow the status line at once ("+OK\r\n.\r\n").
            m_statusEnd = m_scanFrom = crlf;
        }
        // Multi-line: the reply ends with a line holding a single full stop, that is CR LF "." CR
        // LF counted from the CR LF that ends the status line. Lines starting with "." are
        // byte-stuffed, so no other line can be a lone full stop.
        const qsizetype end = m_current.indexOf("\r\n.\r\n", m_scanFrom);
        if (end < 0) {
            m_scanFrom = std::max<qsizetype>(m_scanFrom, m_current.size() - 4);
            return true;
        }
        finishReply(end + 5, '+');
    }
    return true;
}

void Pop3ReplyReader::finishReply(qsizetype end, char mark)
{
    Reply reply{m_current.first(end), mark};
    m_current.remove(0, end);
    m_doneBytes += reply.bytes.size();
    m_done.enqueue(std::move(reply));
    m_awaited.dequeue();
    m_statusEnd = -1;
    m_scanFrom = 0;
}

} // namespace wrenkit
