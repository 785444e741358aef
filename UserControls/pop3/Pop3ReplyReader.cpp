#include "Pop3ReplyReader.h"

namespace wrenkit {

void Pop3ReplyReader::clearBuffer()
{
    m_buffer.clear();
    expect(m_shape);
}

void Pop3ReplyReader::expect(Shape shape)
{
    m_shape = shape;
    m_replyStart = m_scanFrom = m_buffer.size();
    m_statusEnd = -1;
    m_mark = 0;
    m_complete = false;
}

bool Pop3ReplyReader::append(QByteArrayView chunk)
{
    if (chunk.size() > m_maxBytes - m_buffer.size())
        return false;
    m_buffer.append(chunk);
    scan();
    return true;
}

QByteArrayView Pop3ReplyReader::statusLine() const
{
    if (m_statusEnd < 0)
        return {};
    return QByteArrayView(m_buffer).sliced(m_replyStart, m_statusEnd - m_replyStart);
}

void Pop3ReplyReader::scan()
{
    if (m_complete)
        return;
    if (m_statusEnd == -1) {
        const qsizetype crlf = m_buffer.indexOf("\r\n", std::max(m_replyStart, m_scanFrom - 1));
        if (crlf < 0) {
            m_scanFrom = m_buffer.size();
            return;
        }
        m_statusEnd = crlf;
        m_mark = crlf > m_replyStart ? m_buffer.at(m_replyStart) : 0;
        if (m_shape == Shape::SingleLine || m_mark == '-') {
            m_complete = true;
            return;
        }
        // The terminating line may follow the status line at once ("+OK\r\n.\r\n").
        m_scanFrom = crlf;
    }
    // Multi-line: the reply ends with a line holding a single full stop, that is CR LF "." CR LF
    // counted from the CR LF that ends the status line. Lines starting with "." are byte-stuffed,
    // so no other line can be a lone full stop.
    const qsizetype from = std::max<qsizetype>(m_scanFrom, 0);
    const qsizetype end = m_buffer.indexOf("\r\n.\r\n", from);
    if (end >= 0) {
        m_complete = true;
        return;
    }
    m_scanFrom = std::max<qsizetype>(from, m_buffer.size() - 4);
}

} // namespace wrenkit
