#include "BasicPOP.h"

#include "CertificateFingerprint.h"
#include "HeaderValue.h"

#include <QCoreApplication>
#include <QSslConfiguration>
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

// True when a positive CAPA reply lists the capability (a line of its own, or its first word).
bool hasCapability(QByteArrayView reply, QByteArrayView name)
{
    qsizetype from = reply.indexOf("\r\n");
    while (from >= 0 && from + 2 < reply.size()) {
        from += 2;
        const qsizetype end = reply.indexOf("\r\n", from);
        const QByteArrayView line = reply.sliced(from, (end < 0 ? reply.size() : end) - from);
        if (line == ".")
            break;
        if (piece(line, 0).compare(name, Qt::CaseInsensitive) == 0)
            return true;
        from = end;
    }
    return false;
}

} // namespace

BasicPOP::BasicPOP(QObject *parent) : QObject(parent), m_socket(this), m_timer(this)
{
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, [this] { ++m_elapsedSeconds; });
    connect(&m_socket, &QTcpSocket::readyRead, this, &BasicPOP::onReadyRead);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &BasicPOP::onSocketError);
    connect(&m_socket, &QTcpSocket::disconnected, this, &BasicPOP::onSocketDisconnected);
    connect(&m_socket, &QSslSocket::sslErrors, this, &BasicPOP::onSslErrors);
}

void BasicPOP::setSecurity(int mode)
{
    if (mode >= PlainPop3 && mode <= ImplicitTls)
        m_security = mode;
}

void BasicPOP::setTrustedCertificate(const QString &fingerprint)
{
    m_trustedCertificate = normalizedFingerprint(fingerprint);
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
    m_reader.clearReplyMark();
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        closeSocket();
    if (m_timeOut == 0)
        return;

    m_peerCertificate = QSslCertificate();
    m_certificateProblem.clear();
    if (m_security != PlainPop3 && !QSslSocket::supportsSsl()) {
        emit Error(TlsNotAvailable);
        return;
    }

    m_localClose = false;
    m_reader.expect(Shape::SingleLine); // the greeting
    // The system's certificate authorities, the host name as given, nothing older than TLS 1.2.
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    m_socket.setSslConfiguration(tls);
    m_socket.setPeerVerifyName(m_host);
    if (m_security == ImplicitTls)
        m_socket.connectToHostEncrypted(m_host, quint16(m_port), m_host);
    else
        m_socket.connectToHost(m_host, quint16(m_port));
    if (!awaitReply(ConnectionTimedOut))
        return;
    if (m_reader.replyMark() != '+') {
        emit Error(InvalidUserName);
        return;
    }
    if (m_security != PlainPop3 && !secureSession())
        return;
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
    if (m_numberOfMessages <= 0)
        return;
    parseListing();
}

bool BasicPOP::secureSession()
{
    if (m_security == Stls && !upgradeWithStls())
        return false;
    // A certificate that failed verification got this far only when it is the trusted one; one
    // that passed must still be that one when the account trusts a single certificate.
    m_peerCertificate = m_socket.peerCertificate();
    const QString fingerprint = certificateFingerprint(m_peerCertificate);
    if (!m_socket.isEncrypted() || (!m_trustedCertificate.isEmpty() && fingerprint != m_trustedCertificate)) {
        refuse(CertificateNotTrusted +
               QStringLiteral("It is not the certificate trusted for this account (SHA-256 fingerprint %1)")
                   .arg(fingerprint));
        return false;
    }
    return true;
}

bool BasicPOP::upgradeWithStls()
{
    using Shape = Pop3ReplyReader::Shape;
    m_reader.clearBuffer();
    if (!exchange("CAPA", Shape::MultiLine, ConnectionTimedOut))
        return false;
    if (m_reader.replyMark() != '+' || !hasCapability(m_reader.buffer(), "STLS")) {
        refuse(StlsNotOffered);
        return false;
    }
    m_reader.clearBuffer();
    if (!exchange("STLS", Shape::SingleLine, ConnectionTimedOut))
        return false;
    if (m_reader.replyMark() != '+') {
        refuse(StlsRefused);
        return false;
    }
    // Bytes after the reply to STLS came in clear text, where anyone on the way could have put
    // them: nothing may be read past that reply.
    QCoreApplication::processEvents();
    if (m_reader.buffer().size() != m_reader.statusLine().size() + 2 || m_socket.bytesAvailable() > 0) {
        refuse(QStringLiteral("Server Out Of Step"));
        return false;
    }
    m_reader.clearBuffer();
    m_socket.startClientEncryption();
    return awaitEncrypted();
}

bool BasicPOP::awaitEncrypted()
{
    m_elapsedSeconds = 0;
    m_timer.start();
    while (!m_socket.isEncrypted() && m_elapsedSeconds <= m_timeOut && !m_abortFlag)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    m_timer.stop();
    if (m_abortFlag)
        return false;
    if (m_socket.isEncrypted())
        return true;
    refuse(ConnectionTimedOut);
    return false;
}

// Ends the log-in: the connection is closed first, so nothing more can be sent on it.
void BasicPOP::refuse(const QString &errorText)
{
    closeSocket();
    emit Error(errorText);
}

void BasicPOP::onSslErrors(const QList<QSslError> &errors)
{
    m_peerCertificate = m_socket.peerCertificate();
    const QString fingerprint = certificateFingerprint(m_peerCertificate);
    if (!m_trustedCertificate.isEmpty() && fingerprint == m_trustedCertificate) {
        m_socket.ignoreSslErrors();
        return;
    }
    // Not ignored, the errors end the handshake; onSocketError then reports this text.
    QStringList reasons;
    for (const QSslError &error : errors) {
        if (!reasons.contains(error.errorString()))
            reasons.append(error.errorString());
    }
    if (!m_trustedCertificate.isEmpty())
        reasons.append(QStringLiteral("it is not the certificate trusted for this account"));
    m_certificateProblem =
        reasons.join(QStringLiteral("; ")) +
        (fingerprint.isEmpty() ? QString() : QStringLiteral(" (SHA-256 fingerprint %1)").arg(fingerprint));
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
    m_reader.clearBuffer();
    if (!exchange("TOP " + number + " 1", Shape::MultiLine, NoMessageReply))
        return;
    if (m_reader.replyMark() == '-') {
        // TOP is optional in POP3: fall back to the whole message.
        m_reader.clearBuffer();
        if (!exchange("RETR " + number, Shape::MultiLine, NoMessageReply))
            return;
    }
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
    // A refused certificate ends the handshake with a generic error; its reason says more.
    const QString description =
        error == QAbstractSocket::SslHandshakeFailedError && !m_certificateProblem.isEmpty()
            ? CertificateNotTrusted + m_certificateProblem
            : m_socket.errorString();
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
