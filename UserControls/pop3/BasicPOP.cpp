#include "BasicPOP.h"

#include "HeaderValue.h"

#include <QCoreApplication>
#include <algorithm>
#include <limits>

namespace wrenkit {

namespace {

// Whole non-negative decimal number that fits an int, or -1.
int parseCount(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > 10)
        return -1;
    qint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value <= std::numeric_limits<int>::max() ? int(value) : -1;
}

// The n-th piece of a text split at single spaces, or an empty view.
QByteArrayView piece(QByteArrayView line, int n)
{
    qsizetype from = 0;
    for (int i = 0; i < n; ++i) {
        const qsizetype space = line.indexOf(' ', from);
        if (space < 0)
            return {};
        from = space + 1;
    }
    const qsizetype space = line.indexOf(' ', from);
    return line.sliced(from, (space < 0 ? line.size() : space) - from);
}

// A command ends at its CR LF: a CR or LF inside a user name or password must not start a
// second command, so the text is cut there.
QByteArray commandText(const QString &text)
{
    QByteArray bytes = text.toLatin1();
    const auto position = [&](char c) { const qsizetype i = bytes.indexOf(c); return i < 0 ? bytes.size() : i; };
    bytes.truncate(std::min(position('\r'), position('\n')));
    return bytes;
}

} // namespace

BasicPOP::BasicPOP(QObject *parent) : QObject(parent), m_socket(this), m_timer(this)
{
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, [this] { ++m_elapsedSeconds; });
    connect(&m_socket, &QTcpSocket::readyRead, this, &BasicPOP::onReadyRead);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &BasicPOP::onSocketError);
    connect(&m_socket, &QTcpSocket::disconnected, this, &BasicPOP::onSocketDisconnected);
}

BasicPOP::~BasicPOP()
{
    m_timer.stop();
    closeSocket();
}

void BasicPOP::Connect()
{
    using Shape = Pop3ReplyReader::Shape;
    m_abortFlag = false;
    if (m_port <= 0 || m_port > 65535) {
        emit Error(PortNotSet);
        return;
    }
    m_status = 0;
    m_uniqueIds.clear();
    m_reader.clearReplyMark();
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        closeSocket();
    if (m_timeOut == 0)
        return;

    m_localClose = false;
    m_reader.expect(Shape::SingleLine); // the greeting
    m_socket.connectToHost(m_host, quint16(m_port));
    if (!awaitReply(ConnectionTimedOut))
        return;
    if (m_reader.replyMark() != '+') {
        emit Error(InvalidUserName);
        return;
    }
    if (!exchange("USER " + commandText(m_userName), Shape::SingleLine, ConnectionTimedOut))
        return;
    if (m_reader.replyMark() != '+') {
        emit Error(InvalidUserNameOrPassword);
        return;
    }
    if (!exchange("PASS " + commandText(m_password), Shape::SingleLine, ConnectionTimedOut))
        return;
    if (m_reader.replyMark() != '+') {
        emit Error(ServerNotResponding);
        return;
    }
    m_reader.clearBuffer();
    if (!exchange("STAT", Shape::SingleLine, ConnectionTimedOut))
        return;

    // "+OK 2 320": a count that is missing or does not fit leaves the previous count.
    if (const int count = parseCount(piece(m_reader.statusLine(), 1)); count >= 0)
        m_numberOfMessages = count;
    if (m_reader.replyMark() == '+') {
        emit Connected();
        m_status = 1;
    }

    m_reader.clearBuffer();
    if (!exchange("LIST", Shape::MultiLine, ConnectionTimedOut))
        return;
    m_contents = m_reader.buffer();
    if (m_numberOfMessages <= 0)
        return;
    parseListing();
    if (m_status != 1)
        return;

    // UIDL is optional in POP3: a refusal leaves every message without a unique id.
    m_reader.clearBuffer();
    if (!exchange("UIDL", Shape::MultiLine, ConnectionTimedOut))
        return;
    parseUniqueIds();
}

void BasicPOP::parseUniqueIds()
{
    // "+OK" then one line per message: its number, a space, its id (printable ASCII).
    const QByteArrayView reply(m_reader.buffer());
    qsizetype from = reply.indexOf("\r\n");
    if (from < 0 || m_reader.replyMark() != '+')
        return;
    from += 2;
    while (from < reply.size()) {
        qsizetype end = reply.indexOf("\r\n", from);
        if (end < 0)
            end = reply.size();
        const QByteArrayView line = reply.sliced(from, end - from);
        if (line == ".")
            break;
        const int number = parseCount(piece(line, 0));
        const QByteArrayView id = piece(line, 1);
        const bool printable = std::all_of(id.begin(), id.end(), [](char c) { return c > 0x20 && c < 0x7f; });
        if (number > 0 && !id.isEmpty() && printable)
            m_uniqueIds.insert(number, QString::fromLatin1(id));
        from = end + 2;
    }
}

void BasicPOP::parseListing()
{
    // Sizes are stored under the message number that starts each line; a line that cannot be
    // read leaves its message without a size (MsgSize -1), so no decision is taken on it.
    m_messageSizes.clear();
    const QByteArray &buffer = m_reader.buffer();
    const QByteArrayView reply(buffer);
    qsizetype from = reply.indexOf("\r\n");
    if (from < 0 || m_reader.replyMark() != '+')
        return;
    from += 2;
    while (from < reply.size()) {
        qsizetype end = reply.indexOf("\r\n", from);
        if (end < 0)
            end = reply.size();
        const QByteArrayView line = reply.sliced(from, end - from);
        if (line == ".")
            break;
        const int number = parseCount(piece(line, 0));
        const int size = parseCount(piece(line, 1));
        if (number > 0 && size >= 0)
            m_messageSizes.insert(number, size);
        from = end + 2;
    }
}

void BasicPOP::KillConn()
{
    m_abortFlag = true;
    closeSocket();
}

void BasicPOP::Disconnect()
{
    if (m_socket.state() != QAbstractSocket::ConnectedState) {
        closeSocket();
        return;
    }
    // The server commits the session's deletions on QUIT, so the command is flushed and the
    // connection closed gracefully, without waiting for the reply.
    m_localClose = true;
    m_socket.write("QUIT \r\n");
    m_socket.flush();
    m_socket.disconnectFromHost();
}

void BasicPOP::GetMessageInfo(int MessageNumber)
{
    using Shape = Pop3ReplyReader::Shape;
    if (MessageNumber < 1 || MessageNumber > m_numberOfMessages) {
        emit Error(NumMsgsInInfo);
        return;
    }
    m_currentMessage = MessageNumber;
    if (m_socket.state() != QAbstractSocket::ConnectedState) {
        emit Error(ConnectionLost);
        return;
    }
    const QByteArray number = QByteArray::number(MessageNumber);
    m_contents.clear();
    m_reader.clearBuffer();
    if (!exchange("TOP " + number + " 1", Shape::MultiLine, NoMessageReply))
        return;
    if (m_reader.replyMark() == '-') {
        // TOP is optional in POP3: fall back to the whole message.
        m_reader.clearBuffer();
        if (!exchange("RETR " + number, Shape::MultiLine, NoMessageReply))
            return;
    }
    m_contents = m_reader.buffer();
    // An error reply holds no headers; reading it would make up a message without From or
    // Subject, and filters would delete the real one on its strength.
    if (m_reader.replyMark() != '+') {
        emit Error(MessageRefused);
        return;
    }

    const QByteArray &buffer = m_reader.buffer();
    m_msgFrom = GetHeaderValue(buffer, "From:");
    m_msgTo = GetHeaderValue(buffer, "To:");
    m_msgSubject = GetHeaderValue(buffer, "Subject:");
    m_msgDate = GetHeaderValue(buffer, "Date:");
    if (const QString priority = GetHeaderValue(buffer, "X-Priority:"); priority != notFoundMarker())
        m_msgPriority = PriorityNumber(priority);
    m_msgContentType = GetHeaderValue(buffer, "Content-Type:");
    m_msgContentTransferEncoding = GetHeaderValue(buffer, "Content-Transfer-Encoding:");
}

void BasicPOP::DeleteMessage(int MessageNumber)
{
    m_abortFlag = false;
    if (MessageNumber < 1 || MessageNumber > m_numberOfMessages) {
        emit Error(InvalidMessageNumber);
        return;
    }
    if (m_socket.state() != QAbstractSocket::ConnectedState) {
        emit Error(NotConnSock);
        return;
    }
    // The reply is appended to what the buffer holds; a refusal is not reported.
    exchange("DELE " + QByteArray::number(MessageNumber), Pop3ReplyReader::Shape::SingleLine, ServerTimedOut);
    m_contents = m_reader.buffer();
}

void BasicPOP::onReadyRead()
{
    const QByteArray chunk = m_socket.readAll();
    if (m_reader.append(chunk))
        return;
    closeSocket();
    emit Error(ReplyTooLarge);
    m_abortFlag = true;
}

void BasicPOP::onSocketError(QAbstractSocket::SocketError error)
{
    // A remote close is reported by the disconnected signal; errors of a socket we are closing
    // ourselves concern nobody.
    if (error == QAbstractSocket::RemoteHostClosedError || m_localClose)
        return;
    const QString description = m_socket.errorString();
    emit Error(description);
    closeSocket();
    m_abortFlag = true;
}

void BasicPOP::onSocketDisconnected()
{
    if (m_localClose)
        return;
    if (m_socket.bytesAvailable() > 0)
        onReadyRead();
    m_status = 0;
    emit Disconnected();
}

bool BasicPOP::exchange(const QByteArray &command, Pop3ReplyReader::Shape shape, const QString &timeoutError)
{
    m_reader.expect(shape);
    m_socket.write(command + "\r\n");
    m_socket.flush(); // out now, not on the next turn of the event loop
    return awaitReply(timeoutError);
}

bool BasicPOP::awaitReply(const QString &timeoutError)
{
    m_elapsedSeconds = 0;
    m_timer.start();
    while (!m_reader.responseComplete() && m_elapsedSeconds <= m_timeOut && !m_abortFlag)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    m_timer.stop();
    if (m_abortFlag)
        return false;
    if (m_reader.responseComplete())
        return true;
    // The stream can no longer be trusted to line up with our commands: a late reply would be
    // taken for the next one's.
    closeSocket();
    emit Error(timeoutError);
    return false;
}

void BasicPOP::closeSocket()
{
    if (m_socket.state() == QAbstractSocket::UnconnectedState)
        return;
    m_localClose = true;
    m_socket.abort();
}

} // namespace wrenkit

#include "moc_BasicPOP.cpp"
