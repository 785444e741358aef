#include "BasicPOP.h"

#include "CertificateFingerprint.h"
#include "HeaderValue.h"
#include "SaslMechanism.h"

#include <QCoreApplication>
#include <QSslConfiguration>
#include <algorithm>
#include <limits>
#include <memory>

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

// The lines of a positive multi-line reply between its status line and its terminator, each
// without its CR LF.
template <typename Fn>
void forEachDataLine(const Pop3ReplyReader::Reply &reply, Fn fn)
{
    const QByteArrayView bytes(reply.bytes);
    qsizetype from = bytes.indexOf("\r\n");
    if (from < 0 || reply.mark != '+')
        return;
    from += 2;
    while (from < bytes.size()) {
        qsizetype end = bytes.indexOf("\r\n", from);
        if (end < 0)
            end = bytes.size();
        const QByteArrayView line = bytes.sliced(from, end - from);
        if (line == ".")
            break;
        fn(line);
        from = end + 2;
    }
}

// True when a positive CAPA reply lists the capability (the first word of one of its lines).
bool hasCapability(const Pop3ReplyReader::Reply &reply, QByteArrayView name)
{
    bool found = false;
    forEachDataLine(reply, [&](QByteArrayView line) {
        found = found || piece(line, 0).compare(name, Qt::CaseInsensitive) == 0;
    });
    return found;
}

// The mechanisms a positive CAPA reply lists on its SASL line.
QList<QByteArray> saslMechanisms(const Pop3ReplyReader::Reply &reply)
{
    QList<QByteArray> names;
    forEachDataLine(reply, [&](QByteArrayView line) {
        if (piece(line, 0).compare("SASL", Qt::CaseInsensitive) != 0)
            return;
        for (const QByteArray &name : line.toByteArray().split(' ').mid(1)) {
            if (!name.isEmpty())
                names.append(name.toUpper());
        }
    });
    return names;
}

// A continuation ("+ " and base64) rather than a status ("+OK").
bool isContinuation(const Pop3ReplyReader::Reply &reply)
{
    const QByteArrayView line = reply.statusLine();
    return reply.mark == '+' && !(line.size() >= 3 && line.sliced(1, 2).compare("OK", Qt::CaseInsensitive) == 0);
}

// RFC 5034: a command line, CR LF included, is at most 255 octets.
constexpr qsizetype MaxCommandLine = 255;

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

void BasicPOP::setAuthentication(int mode)
{
    if (mode == PasswordLogIn || mode == OAuthLogIn)
        m_authentication = mode;
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
    // A bearer token is as good as a password, and replayable: it never crosses in clear text.
    if (m_authentication == OAuthLogIn && m_security == PlainPop3) {
        emit Error(OAuthNeedsSecureConnection);
        return;
    }
    if (m_authentication == OAuthLogIn && m_accessToken.isEmpty()) {
        emit Error(NoAccessToken);
        return;
    }
    m_status = 0;
    // Nothing of an earlier session carries over: its count, ids and deletions.
    m_numberOfMessages = 0;
    m_uniqueIds.clear();
    m_deletesAccepted.clear();
    m_deletesDone.clear();
    m_reply = {};
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
    m_quitting = false;
    m_pipelining = false;
    m_aheadNext = 0;
    m_lastInfo = 0;
    m_reader.reset();
    m_pending.clear();
    m_stashedBytes = 0;
    m_reader.expect(Shape::Greeting);
    m_pending.append(Pending{++m_lastSerial});
    const quint64 greeting = m_lastSerial;
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
    if (!awaitReply(greeting, ConnectionTimedOut))
        return;
    if (m_reply.mark != '+') {
        emit Error(InvalidUserName);
        return;
    }
    if (m_security != PlainPop3 && !secureSession())
        return;
    // Commands go out as they are written: small commands sent ahead must not wait for the
    // acknowledgement of the previous ones.
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // CAPA is optional in POP3: a server that refuses it is a server without extensions. After
    // STLS it is asked again, as what was said in clear text may have been forged.
    if (!exchange("CAPA", Shape::MultiLine, ConnectionTimedOut))
        return;
    m_pipelining = m_pipeliningAllowed && m_reply.mark == '+' && hasCapability(m_reply, "PIPELINING");
    if (!(m_authentication == OAuthLogIn ? logInWithToken() : logInWithPassword()))
        return;
    if (!exchange("STAT", Shape::SingleLine, ConnectionTimedOut))
        return;

    if (m_reply.mark == '+') {
        // "+OK 2 320": without a whole-number count there is nothing to walk safely.
        const int count = parseCount(piece(m_reply.statusLine(), 1));
        if (count < 0) {
            emit Error(InvalidMessageCount);
            return;
        }
        m_numberOfMessages = count;
        emit Connected();
        m_status = 1;
    }

    if (!exchange("LIST", Shape::MultiLine, ConnectionTimedOut))
        return;
    m_contents = m_reply.bytes;
    if (m_numberOfMessages <= 0)
        return;
    parseListing();
    if (m_status != 1)
        return;

    // UIDL is optional in POP3: a refusal leaves every message without a unique id.
    if (!exchange("UIDL", Shape::MultiLine, ConnectionTimedOut))
        return;
    forEachDataLine(m_reply, [this](QByteArrayView line) {
        // The message number, a space, the id (printable ASCII).
        const int number = parseCount(piece(line, 0));
        const QByteArrayView id = piece(line, 1);
        const bool printable = std::all_of(id.begin(), id.end(), [](char c) { return c > 0x20 && c < 0x7f; });
        if (number > 0 && !id.isEmpty() && printable)
            m_uniqueIds.insert(number, QString::fromLatin1(id));
    });
}

bool BasicPOP::logInWithPassword()
{
    using Shape = Pop3ReplyReader::Shape;
    if (!exchange("USER " + commandText(m_userName), Shape::SingleLine, ConnectionTimedOut))
        return false;
    if (m_reply.mark != '+') {
        emit Error(InvalidUserNameOrPassword);
        return false;
    }
    if (!exchange("PASS " + commandText(m_password), Shape::SingleLine, ConnectionTimedOut))
        return false;
    if (m_reply.mark != '+') {
        emit Error(ServerNotResponding);
        return false;
    }
    return true;
}

// m_reply holds the answer to CAPA here.
bool BasicPOP::logInWithToken()
{
    using Shape = Pop3ReplyReader::Shape;
    const QList<QByteArray> offered = m_reply.mark == '+' ? saslMechanisms(m_reply) : QList<QByteArray>{};
    std::unique_ptr<sasl::SaslMechanism> mechanism;
    if (offered.contains("XOAUTH2"))
        mechanism = std::make_unique<sasl::XOAuth2>(m_userName, m_accessToken);
    else if (offered.contains("OAUTHBEARER"))
        mechanism = std::make_unique<sasl::OAuthBearer>(m_userName, m_accessToken, m_host, m_port);
    if (!mechanism) {
        refuse(OAuthNotOffered);
        return false;
    }
    // The initial response goes on the AUTH line only where the line stays within the limit;
    // otherwise it answers the server's first, empty challenge.
    const QByteArray response = mechanism->initialResponse().toBase64();
    QByteArray line = "AUTH " + mechanism->name();
    bool responseSent = false;
    if (line.size() + 1 + response.size() + 2 <= MaxCommandLine) {
        line += ' ' + response;
        responseSent = true;
    }
    if (!exchange(line, Shape::SingleLine, ConnectionTimedOut))
        return false;
    // The first challenge, then at most one error report; a server that goes on is cancelled.
    bool reportAnswered = false;
    bool cancelled = false;
    while (isContinuation(m_reply)) {
        QByteArray answer;
        if (!responseSent) {
            answer = response;
            responseSent = true;
        } else if (!reportAnswered) {
            const QByteArray challenge =
                QByteArray::fromBase64(m_reply.statusLine().sliced(1).trimmed().toByteArray());
            answer = mechanism->respond(challenge).toBase64();
            reportAnswered = true;
        } else if (!cancelled) {
            answer = "*";
            cancelled = true;
        } else {
            refuse(SignInRefused);
            return false;
        }
        if (!exchange(answer, Shape::SingleLine, ConnectionTimedOut))
            return false;
    }
    if (m_reply.mark != '+') {
        const QString status = mechanism->errorStatus();
        refuse(status.isEmpty() ? SignInRefused : SignInRefused + QStringLiteral(": status ") + status);
        return false;
    }
    return true;
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
    if (!exchange("CAPA", Shape::MultiLine, ConnectionTimedOut))
        return false;
    if (m_reply.mark != '+' || !hasCapability(m_reply, "STLS")) {
        refuse(StlsNotOffered);
        return false;
    }
    if (!exchange("STLS", Shape::SingleLine, ConnectionTimedOut))
        return false;
    if (m_reply.mark != '+') {
        refuse(StlsRefused);
        return false;
    }
    // Bytes after the reply to STLS came in clear text, where anyone on the way could have put
    // them: the reader finds them out of step, and none may reach the encrypted session.
    QCoreApplication::processEvents();
    if (m_abortFlag)
        return false;
    if (m_reader.heldBytes() > 0 || m_socket.bytesAvailable() > 0) {
        refuse(ServerOutOfStep);
        return false;
    }
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
    if (m_reply.mark != '+')
        return;
    int highest = 0;
    forEachDataLine(m_reply, [&](QByteArrayView line) {
        const int number = parseCount(piece(line, 0));
        const int size = parseCount(piece(line, 1));
        if (number > 0)
            highest = std::max(highest, number);
        if (number > 0 && size >= 0)
            m_messageSizes.insert(number, size);
    });
    // The listing names the messages there are; numbers beyond it are not walked.
    if (m_numberOfMessages > highest) {
        m_numberOfMessages = highest;
        emit Error(CountBeyondListing);
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
        // The server closed the connection, or we did after a time-out, before QUIT: it rolls the
        // session's deletions back. (A cancel or a reported socket failure has said so already.)
        if (!m_deletesAccepted.isEmpty() && !m_abortFlag)
            emit Error(DeletionsNotConfirmed);
        return;
    }
    // The server carries out the session's deletions only when it accepts QUIT, so its reply is
    // awaited. A session without deletions has nothing to lose when that reply does not come.
    const bool deletions = !m_deletesAccepted.isEmpty();
    for (Pending &pending : m_pending)
        pending.discard = pending.discard || !pending.answered;
    m_quitting = true;
    const bool replied = exchange("QUIT", Pop3ReplyReader::Shape::SingleLine,
                                  deletions ? DeletionsNotConfirmed : QString());
    m_quitting = false;
    if (replied && m_reply.mark == '+')
        m_deletesDone = m_deletesAccepted;
    else if (replied && deletions)
        emit Error(DeletionsNotConfirmed);
    closeSocket();
}

void BasicPOP::GetMessageInfo(int MessageNumber)
{
    using Shape = Pop3ReplyReader::Shape;
    m_infoComplete = false;
    if (MessageNumber < 1 || MessageNumber > m_numberOfMessages) {
        emit Error(NumMsgsInInfo);
        return;
    }
    m_currentMessage = MessageNumber;
    if (m_socket.state() != QAbstractSocket::ConnectedState) {
        emit Error(ConnectionLost);
        return;
    }

    // A caller walking the messages in order gets the next ones read ahead; reads ahead of any
    // other number are dropped as their replies come.
    const bool walking = MessageNumber == m_lastInfo + 1;
    m_lastInfo = MessageNumber;
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        const bool read = it->command == Command::Top;
        if (!read || it->number == MessageNumber || (walking && it->number > MessageNumber)) {
            ++it;
        } else if (it->answered) {
            m_stashedBytes -= it->reply.bytes.size();
            it = m_pending.erase(it);
        } else {
            it->discard = true;
            ++it;
        }
    }
    m_aheadNext = walking ? std::max(m_aheadNext, MessageNumber) : 0;
    readAhead();

    const QByteArray number = QByteArray::number(MessageNumber);
    m_contents.clear();
    const auto sentAhead = std::find_if(m_pending.begin(), m_pending.end(), [&](const Pending &p) {
        return p.command == Command::Top && p.number == MessageNumber && !p.discard;
    });
    quint64 top = sentAhead != m_pending.end() ? sentAhead->serial : 0;
    if (top == 0)
        top = send("TOP " + number + " 1", Shape::MultiLine, Command::Top, MessageNumber);
    if (top == 0) {
        if (!m_abortFlag)
            emit Error(NoMessageReply);
        return;
    }
    if (!awaitReply(top, NoMessageReply))
        return;
    if (m_reply.mark == '-') {
        // TOP is optional in POP3: fall back to the whole message.
        if (!exchange("RETR " + number, Shape::MultiLine, NoMessageReply))
            return;
    }
    readAhead(); // the pipe stays full while the caller examines this message
    m_contents = m_reply.bytes;
    // An error reply holds no headers; reading it would make up a message without From or
    // Subject, and filters would delete the real one on its strength.
    if (m_reply.mark != '+') {
        emit Error(MessageRefused);
        return;
    }

    // Only this reply's own bytes are read, up to its terminator.
    const QByteArray &buffer = m_reply.bytes;
    m_msgFrom = GetHeaderValue(buffer, "From:");
    m_msgTo = GetHeaderValue(buffer, "To:");
    m_msgSubject = GetHeaderValue(buffer, "Subject:");
    m_msgDate = GetHeaderValue(buffer, "Date:");
    if (const QString priority = GetHeaderValue(buffer, "X-Priority:"); priority != notFoundMarker())
        m_msgPriority = PriorityNumber(priority);
    m_msgContentType = GetHeaderValue(buffer, "Content-Type:");
    m_msgContentTransferEncoding = GetHeaderValue(buffer, "Content-Transfer-Encoding:");
    m_infoComplete = true;
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
    if (!exchange("DELE " + QByteArray::number(MessageNumber), Pop3ReplyReader::Shape::SingleLine, ServerTimedOut))
        return;
    m_contents += m_reply.bytes;
    if (m_reply.mark == '+')
        m_deletesAccepted.insert(MessageNumber);
    else
        emit Error(DeletionRefused);
}

void BasicPOP::onReadyRead()
{
    const Pop3ReplyReader::Outcome outcome = m_reader.append(m_socket.readAll());
    m_peakHeldBytes = std::max(m_peakHeldBytes, heldBytes());
    switch (outcome) {
    case Pop3ReplyReader::Outcome::Ok:
        // Each reply has the whole time-out, also when several are awaited.
        if (collectReplies())
            m_elapsedSeconds = 0;
        return;
    case Pop3ReplyReader::Outcome::TooLarge:
        closeSocket();
        emit Error(ReplyTooLarge);
        m_abortFlag = true;
        return;
    case Pop3ReplyReader::Outcome::OutOfStep:
        // Whatever follows the reply to QUIT no longer matters: the session is over.
        if (m_quitting && m_reader.hasReply())
            return;
        // The stream no longer lines up with our commands: no later reply can be trusted.
        closeSocket();
        emit Error(ServerOutOfStep);
        m_abortFlag = true;
        return;
    }
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
    // The server may close the connection as it answers QUIT: that is the session's normal end.
    if (m_quitting)
        return;
    m_status = 0;
    emit Disconnected();
}

quint64 BasicPOP::send(const QByteArray &line, Pop3ReplyReader::Shape shape, Command command, int number,
                       bool flush)
{
    // Bytes that came in while nothing was awaited are found out of step now, before they could
    // be taken for this command's reply.
    if (m_pending.isEmpty())
        QCoreApplication::processEvents();
    if (m_abortFlag || m_socket.state() != QAbstractSocket::ConnectedState)
        return 0;
    m_reader.expect(shape);
    m_socket.write(line + "\r\n");
    if (flush)
        m_socket.flush(); // out now, not on the next turn of the event loop
    m_pending.append(Pending{++m_lastSerial, command, number});
    return m_lastSerial;
}

bool BasicPOP::exchange(const QByteArray &line, Pop3ReplyReader::Shape shape, const QString &timeoutError)
{
    const quint64 serial = send(line, shape);
    if (serial == 0) {
        if (!m_abortFlag && !timeoutError.isEmpty())
            emit Error(timeoutError);
        return false;
    }
    return awaitReply(serial, timeoutError);
}

bool BasicPOP::awaitReply(quint64 serial, const QString &timeoutError)
{
    const auto entry = [this, serial] {
        return std::find_if(m_pending.begin(), m_pending.end(),
                            [serial](const Pending &p) { return p.serial == serial; });
    };
    const auto answered = [&] {
        collectReplies();
        const auto it = entry();
        return it != m_pending.end() && it->answered;
    };
    // A server that closes the connection ends only the wait for QUIT; any other wait runs on to
    // its time-out, as a closed connection may still have delivered the reply.
    const auto closedWhileQuitting = [this] {
        return m_quitting && m_socket.state() == QAbstractSocket::UnconnectedState;
    };
    m_elapsedSeconds = 0;
    m_timer.start();
    while (!answered() && m_elapsedSeconds <= m_timeOut && !m_abortFlag && !closedWhileQuitting())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    m_timer.stop();
    if (m_abortFlag)
        return false;
    if (const auto it = entry(); it != m_pending.end() && it->answered) {
        m_reply = std::move(it->reply);
        m_stashedBytes -= m_reply.bytes.size();
        m_pending.erase(it);
        return true;
    }
    // The stream can no longer be trusted to line up with our commands: a late reply would be
    // taken for the next one's.
    closeSocket();
    if (!timeoutError.isEmpty())
        emit Error(timeoutError);
    return false;
}

bool BasicPOP::collectReplies()
{
    bool any = false;
    while (m_reader.hasReply()) {
        any = true;
        Pop3ReplyReader::Reply reply = m_reader.takeReply();
        const auto it =
            std::find_if(m_pending.begin(), m_pending.end(), [](const Pending &p) { return !p.answered; });
        if (it == m_pending.end())
            continue; // none: the reader awaits no more replies than there are commands
        if (it->discard) {
            m_pending.erase(it);
            continue;
        }
        it->answered = true;
        m_stashedBytes += reply.bytes.size();
        it->reply = std::move(reply);
    }
    return any;
}

void BasicPOP::readAhead()
{
    if (!m_pipelining || m_aheadNext < 1)
        return;
    // Written together, flushed once.
    bool sent = false;
    while (m_aheadNext <= m_numberOfMessages && m_pending.size() < MaxInFlight && heldBytes() < MaxAheadBytes) {
        const QByteArray number = QByteArray::number(m_aheadNext);
        if (send("TOP " + number + " 1", Pop3ReplyReader::Shape::MultiLine, Command::Top, m_aheadNext, false) == 0)
            break;
        sent = true;
        ++m_aheadNext;
    }
    if (sent)
        m_socket.flush();
}

void BasicPOP::closeSocket()
{
    // Whatever was in flight is dropped with the connection.
    m_pending.clear();
    m_stashedBytes = 0;
    m_aheadNext = 0;
    if (m_socket.state() == QAbstractSocket::UnconnectedState)
        return;
    m_localClose = true;
    m_socket.abort();
}

} // namespace wrenkit

#include "moc_BasicPOP.cpp"
