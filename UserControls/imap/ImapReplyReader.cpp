#include "ImapReplyReader.h"

#include <algorithm>

namespace wrenkit
{

void ImapReplyReader::reset()
{
    m_inFlight.clear();
    m_done.clear();
    m_doneBytes = 0;
    m_greeted = false;
    m_fault = Outcome::Ok;
    m_current.clear();
    m_begin = m_lineStart = m_scanFrom = 0;
    m_literalEnd = -1;
}

void ImapReplyReader::expect(QByteArrayView tag, bool mayContinue)
{
    m_inFlight.append({tag.toByteArray(), mayContinue});
}

ImapReplyReader::Outcome ImapReplyReader::append(QByteArrayView chunk)
{
    if (m_fault != Outcome::Ok)
        return m_fault;
    if (chunk.isEmpty())
        return Outcome::Ok;
    if (chunk.size() > m_maxBytes - heldBytes())
        return fail(Outcome::TooLarge);
    m_current.append(chunk);
    const Outcome outcome = scan();
    if (outcome != Outcome::Ok)
        return fail(outcome);
    // The bytes of the responses cut off go once per chunk, not once per response: a chunk may
    // hold thousands of small FETCH responses.
    m_current.remove(0, m_begin);
    m_lineStart -= m_begin;
    m_scanFrom -= m_begin;
    if (m_literalEnd >= 0)
        m_literalEnd -= m_begin;
    m_begin = 0;
    return Outcome::Ok;
}

ImapResponse ImapReplyReader::takeResponse()
{
    Done done = m_done.dequeue();
    m_doneBytes -= done.bytes;
    return std::move(done.response);
}

ImapReplyReader::Outcome ImapReplyReader::scan()
{
    while (m_begin < m_current.size()) {
        if (m_literalEnd >= 0) {
            if (m_current.size() < m_literalEnd)
                return Outcome::Ok;
            m_lineStart = m_scanFrom = m_literalEnd;
            m_literalEnd = -1;
        }
        const qsizetype crlf = m_current.indexOf("\r\n", std::max(m_scanFrom - 1, m_lineStart));
        if (crlf < 0) {
            m_scanFrom = m_current.size();
            return Outcome::Ok;
        }
        const QByteArrayView line = QByteArrayView(m_current).sliced(m_lineStart, crlf - m_lineStart);
        const qsizetype open = line.endsWith('}') ? line.lastIndexOf('{') : -1;
        if (open >= 0) {
            qsizetype literalStart = m_lineStart + open;
            qint64 length = 0;
            // A line ending in braces that hold no length is no announcement; parsing refuses it.
            if (ImapParse::readLiteralLength(m_current, literalStart, length) == ImapParse::Result::Ok) {
                // The literal and at least the CR LF that ends the response must fit.
                if (length > m_maxBytes - m_doneBytes - (literalStart - m_begin) - 2)
                    return Outcome::TooLarge;
                m_literalEnd = literalStart + qsizetype(length);
                continue;
            }
        }
        const Outcome outcome = finishResponse(crlf + 2);
        if (outcome != Outcome::Ok)
            return outcome;
    }
    return Outcome::Ok;
}

ImapReplyReader::Outcome ImapReplyReader::finishResponse(qsizetype end)
{
    const QByteArrayView bytes = QByteArrayView(m_current).sliced(m_begin, end - 2 - m_begin);

    // Who may answer is settled before the syntax, so that stray bytes read as out of step.
    const bool untagged = bytes.startsWith("* ");
    qsizetype tagged = -1;
    if (!m_greeted && !untagged)
        return Outcome::OutOfStep;
    if (bytes.startsWith('+')) {
        if (std::none_of(m_inFlight.cbegin(), m_inFlight.cend(),
                         [](const Command &c) { return c.mayContinue; }))
            return Outcome::OutOfStep;
    } else if (!untagged) {
        const qsizetype space = bytes.indexOf(' ');
        const QByteArrayView tag = space < 0 ? bytes : bytes.first(space);
        const auto it = std::find_if(m_inFlight.cbegin(), m_inFlight.cend(),
                                     [tag](const Command &c) { return c.tag == tag; });
        if (it == m_inFlight.cend())
            return Outcome::OutOfStep;
        tagged = it - m_inFlight.cbegin();
    }

    ImapResponse response;
    if (ImapParse::readResponse(bytes, response) != ImapParse::Result::Ok)
        return Outcome::Malformed;
    if (!m_greeted) {
        if (!response.isStatus() ||
            (response.name != "OK" && response.name != "PREAUTH" && response.name != "BYE"))
            return Outcome::OutOfStep;
        m_greeted = true;
    }
    if (tagged >= 0)
        m_inFlight.removeAt(tagged);

    const qsizetype size = end - m_begin;
    m_doneBytes += size;
    m_done.enqueue({std::move(response), size});
    m_begin = m_lineStart = m_scanFrom = end;
    return Outcome::Ok;
}

ImapReplyReader::Outcome ImapReplyReader::fail(Outcome outcome)
{
    m_fault = outcome;
    m_inFlight.clear();
    m_current.clear();
    m_begin = m_lineStart = m_scanFrom = 0;
    m_literalEnd = -1;
    return outcome;
}

} // namespace wrenkit
