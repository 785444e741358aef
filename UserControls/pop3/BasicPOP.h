#pragma once

#include "Pop3ReplyReader.h"

#include <QHash>
#include <QObject>
#include <QSslCertificate>
#include <QSslError>
#include <QSslSocket>
#include <QSet>
#include <QString>
#include <QTimer>

namespace wrenkit {

// One POP3 session over one TCP connection. Every method is synchronous for its caller: it
// returns when its exchange is over, failed or was aborted, and keeps the caller's event loop
// running while it waits, so that a cancel command (KillConn) can arrive. Outcomes are reported
// through the Connected, Error and Disconnected signals and the Status property.
class BasicPOP : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString Host READ Host WRITE setHost)
    Q_PROPERTY(QString UserName READ UserName WRITE setUserName)
    Q_PROPERTY(QString Password READ Password WRITE setPassword)
    Q_PROPERTY(int Port READ Port WRITE setPort)
    Q_PROPERTY(int TimeOut READ TimeOut WRITE setTimeOut)
    Q_PROPERTY(int Security READ Security WRITE setSecurity)
    Q_PROPERTY(QString TrustedCertificate READ TrustedCertificate WRITE setTrustedCertificate)
    Q_PROPERTY(int Authentication READ Authentication WRITE setAuthentication)
    Q_PROPERTY(QString AccessToken READ AccessToken WRITE setAccessToken)
    Q_PROPERTY(QString MsgFrom READ MsgFrom)
    Q_PROPERTY(QString MsgTo READ MsgTo)
    Q_PROPERTY(QString MsgSubject READ MsgSubject)
    Q_PROPERTY(QString MsgDate READ MsgDate)
    Q_PROPERTY(QString MsgContentType READ MsgContentType)
    Q_PROPERTY(QString MsgContentTranferEncoding READ MsgContentTranferEncoding)
    Q_PROPERTY(int MsgPriority READ MsgPriority)
    Q_PROPERTY(QString MsgContents READ MsgContents)
    Q_PROPERTY(int MsgSize READ MsgSize)
    Q_PROPERTY(int NumberOfMessages READ NumberOfMessages)
    Q_PROPERTY(int Status READ Status)
    Q_PROPERTY(QString StatusText READ StatusText)
    Q_PROPERTY(bool InfoComplete READ InfoComplete)

public:
    // The error texts the control reports besides the socket's own descriptions.
    static inline const QString PortNotSet = QStringLiteral("Port Not Set");
    static inline const QString ConnectionTimedOut = QStringLiteral("Connection Timed Out");
    static inline const QString InvalidUserName = QStringLiteral("Invalid User Name");
    static inline const QString InvalidUserNameOrPassword = QStringLiteral("Invalid UserName or Password");
    static inline const QString ServerNotResponding = QStringLiteral("Server Not Responding To POP3 Commands");
    static inline const QString NumMsgsInInfo = QStringLiteral("NumMsgs in Info");
    static inline const QString ConnectionLost = QStringLiteral("Connection Lost");
    static inline const QString NoMessageReply = QStringLiteral("Server Not Responding or Zero-Length Message");
    static inline const QString MessageRefused = QStringLiteral("Server Refused Message");
    static inline const QString InvalidMessageNumber = QStringLiteral("Invalid Message Number");
    static inline const QString NotConnSock = QStringLiteral("Not Conn Sock");
    static inline const QString ServerTimedOut = QStringLiteral("Server Timed Out");
    static inline const QString ReplyTooLarge = QStringLiteral("Reply Too Large");
    static inline const QString StlsNotOffered = QStringLiteral("Server Does Not Offer STLS");
    static inline const QString StlsRefused = QStringLiteral("Server Refused STLS");
    // Followed by the reason and the certificate's SHA-256 fingerprint.
    static inline const QString CertificateNotTrusted = QStringLiteral("Certificate Not Trusted: ");
    static inline const QString TlsNotAvailable = QStringLiteral("Secure Connections Not Available");

    // The OAuth log-in's failures. Sign-in Refused may be followed by ": status " and what the
    // server's error report said.
    static inline const QString SignInRefused = QStringLiteral("Sign-in Refused");
    static inline const QString OAuthNotOffered = QStringLiteral("Server Does Not Offer OAuth");
    static inline const QString OAuthNeedsSecureConnection = QStringLiteral("OAuth Needs A Secure Connection");
    static inline const QString NoAccessToken = QStringLiteral("No Access Token");

    // The values of Authentication: USER and PASS, or SASL with an OAuth 2.0 bearer token.
    enum AuthenticationMode { PasswordLogIn = 0, OAuthLogIn = 1 };
    // The values of Security.
    enum SecurityMode { PlainPop3 = 0, Stls = 1, ImplicitTls = 2 };
    // Bytes came that answer no command sent: the server is out of step with the client.
    static inline const QString ServerOutOfStep = QStringLiteral("Server Out Of Step");
    // A positive STAT reply without a whole-number count.
    static inline const QString InvalidMessageCount = QStringLiteral("Invalid Message Count");
    // STAT counted messages beyond the highest number of the listing; those are not examined.
    static inline const QString CountBeyondListing = QStringLiteral("Message Count Beyond Listing");
    static inline const QString DeletionRefused = QStringLiteral("Server Refused Deletion");
    // The session had deletions, and the server did not accept QUIT, which carries them out.
    static inline const QString DeletionsNotConfirmed = QStringLiteral("Deletions Not Confirmed");

    explicit BasicPOP(QObject *parent = nullptr);
    ~BasicPOP() override;

    QString Host() const { return m_host; }
    void setHost(const QString &host) { m_host = host; }
    QString UserName() const { return m_userName; }
    void setUserName(const QString &userName) { m_userName = userName; }
    QString Password() const { return m_password; }
    void setPassword(const QString &password) { m_password = password; }
    int Port() const { return m_port; }
    void setPort(int port) { m_port = port; }
    int TimeOut() const { return m_timeOut; }
    void setTimeOut(int seconds) { m_timeOut = seconds; }
    // How Connect secures the session: plain POP3, plain upgraded with STLS before USER, or TLS
    // from the first byte. A value outside 0..2 is ignored.
    int Security() const { return m_security; }
    void setSecurity(int mode);
    // The SHA-256 fingerprint of the one certificate to accept although it fails verification;
    // with one set, every other certificate is refused. Colons, blanks and letter case do not
    // matter; text that is no SHA-256 fingerprint sets none. Reads as 64 lowercase hex digits.
    QString TrustedCertificate() const { return m_trustedCertificate; }
    void setTrustedCertificate(const QString &fingerprint);
    // How Connect logs in; a value other than 0 or 1 is ignored. With OAuth, AccessToken is sent
    // through SASL XOAUTH2 or OAUTHBEARER (whichever CAPA offers; XOAUTH2 first), only over an
    // encrypted connection, and neither USER nor PASS is ever sent.
    int Authentication() const { return m_authentication; }
    void setAuthentication(int mode);
    QString AccessToken() const { return m_accessToken; }
    void setAccessToken(const QString &token) { m_accessToken = token; }

    // The certificate the server presented in the latest Connect; null when there was none.
    QSslCertificate PeerCertificate() const { return m_peerCertificate; }

    QString MsgFrom() const { return m_msgFrom; }
    QString MsgTo() const { return m_msgTo; }
    QString MsgSubject() const { return m_msgSubject; }
    QString MsgDate() const { return m_msgDate; }
    QString MsgContentType() const { return m_msgContentType; }
    QString MsgContentTranferEncoding() const { return m_msgContentTransferEncoding; }
    int MsgPriority() const { return m_msgPriority; }
    QString MsgContents() const { return QString::fromLatin1(m_contents); }
    // Size in bytes from the LIST reply of the last message examined; -1 when the listing gave none.
    int MsgSize() const { return m_messageSizes.value(m_currentMessage, -1); }
    int NumberOfMessages() const { return m_numberOfMessages; }
    int Status() const { return m_status; }
    QString StatusText() const { return {}; }
    // True when the last GetMessageInfo filled the message properties from that message's own
    // complete reply; false after a failed, refused or cancelled read.
    bool InfoComplete() const { return m_infoComplete; }

    // Milliseconds per tick of the wait timer; one second unless a test shortens it.
    void setTickInterval(int ms) { m_timer.setInterval(ms); }
    // Cap on the bytes held from the server at once (see Pop3ReplyReader).
    void setMaxReplyBytes(qsizetype bytes) { m_reader.setMaxBufferBytes(bytes); }

    // When the server advertises PIPELINING (in its CAPA answer), a walk through the messages
    // sends the header reads of the next messages ahead, at most MaxInFlight commands and while
    // fewer than MaxAheadBytes of replies wait unread. On unless switched off here.
    static constexpr int MaxInFlight = 64;
    static constexpr qsizetype MaxAheadBytes = qsizetype(1) << 20;
    void setPipeliningAllowed(bool allowed) { m_pipeliningAllowed = allowed; }
    // True when the session in progress sends commands ahead.
    bool pipelining() const { return m_pipelining; }
    // The most reply bytes held unread at once since the control was created.
    qsizetype peakHeldBytes() const { return m_peakHeldBytes; }

public slots:
    // The server's lasting identity of a message of this session (its UIDL answer), or the empty
    // text when the server gave none.
    QString UniqueID(int MessageNumber) const { return m_uniqueIds.value(MessageNumber); }
    // True once the server has deleted the message: it accepted its DELE and then QUIT, which is
    // when a POP3 server carries out the session's deletions. Until the next Connect.
    bool MessageDeleted(int MessageNumber) const { return m_deletesDone.contains(MessageNumber); }

    void Connect();
    void KillConn();
    void Disconnect();
    void GetMessageInfo(int MessageNumber);
    void DeleteMessage(int MessageNumber);

signals:
    void Connected();
    void Error(const QString &ErrorText);
    void Disconnected();

private:
    void onReadyRead();
    void onSocketError(QAbstractSocket::SocketError error);
    void onSocketDisconnected();
    void onSslErrors(const QList<QSslError> &errors);

    // The STLS upgrade where asked for, then the check of the certificate against the trusted
    // one. False, after reporting why, when the log-in must not go on.
    bool secureSession();
    bool upgradeWithStls();
    // The log-in with USER and PASS, or with SASL; false, after reporting why, when it failed.
    bool logInWithPassword();
    bool logInWithToken();
    bool awaitEncrypted();
    void refuse(const QString &errorText);

    // Header reads are told apart, as they may be sent ahead and dropped.
    enum class Command { Other, Top };
    // A command sent whose reply has not been taken yet. Replies come in the order of the
    // commands; one that nobody wants any more (discard) is dropped as it arrives.
    struct Pending
    {
        quint64 serial = 0;
        Command command = Command::Other;
        int number = 0;
        bool answered = false;
        bool discard = false;
        Pop3ReplyReader::Reply reply{};
    };

    // Sends one command line whose reply has the given shape; its serial, or 0 when nothing could
    // be sent (the connection is closed or the wait was aborted).
    quint64 send(const QByteArray &line, Pop3ReplyReader::Shape shape, Command command = Command::Other,
                 int number = 0, bool flush = true);
    // Sends one command line and awaits its reply, which then is m_reply; see awaitReply.
    bool exchange(const QByteArray &line, Pop3ReplyReader::Shape shape, const QString &timeoutError);
    // Pumps the event loop until the reply to the command with this serial is there (true; it
    // becomes m_reply), the wait is aborted (false, silently) or TimeOut seconds pass without a
    // reply arriving (false, after closing the connection and reporting timeoutError unless it
    // is empty).
    bool awaitReply(quint64 serial, const QString &timeoutError);
    // Hands the replies the reader has cut to their commands; true when there was any.
    bool collectReplies();
    // Sends the header reads of the next messages of a walk, within the bounds.
    void readAhead();
    qsizetype heldBytes() const { return m_reader.heldBytes() + m_stashedBytes; }
    void closeSocket();
    void parseListing();

    QSslSocket m_socket;
    QTimer m_timer;
    Pop3ReplyReader m_reader;

    QString m_host;
    QString m_userName;
    QString m_password;
    int m_port = 0;
    int m_timeOut = 0;
    int m_security = PlainPop3;
    int m_authentication = PasswordLogIn;
    QString m_accessToken;
    QString m_trustedCertificate;
    QSslCertificate m_peerCertificate;
    QString m_certificateProblem; // why the presented certificate is refused; empty when it is not

    QString m_msgFrom;
    QString m_msgTo;
    QString m_msgSubject;
    QString m_msgDate;
    QString m_msgContentType;
    QString m_msgContentTransferEncoding;
    int m_msgPriority = 0;
    int m_numberOfMessages = 0;
    int m_status = 0;

    int m_elapsedSeconds = 0;
    bool m_abortFlag = false;
    bool m_localClose = false; // the connection is being closed by us: no close event
    bool m_quitting = false;   // QUIT was sent: the server may close the connection
    bool m_infoComplete = false;
    Pop3ReplyReader::Reply m_reply; // the reply to the last command
    QSet<int> m_deletesAccepted;    // DELE answered positively in this session
    QSet<int> m_deletesDone;        // ... and QUIT too
    QList<Pending> m_pending;
    quint64 m_lastSerial = 0;
    qsizetype m_stashedBytes = 0; // replies answered and not yet taken
    qsizetype m_peakHeldBytes = 0;
    bool m_pipeliningAllowed = true;
    bool m_pipelining = false;
    int m_aheadNext = 0; // the next message whose header read goes ahead; 0: none
    int m_lastInfo = 0;  // the message of the last GetMessageInfo in this session
    QHash<int, int> m_messageSizes; // MessageSizes, by message number
    QHash<int, QString> m_uniqueIds; // UIDL answers of this session, by message number
    QByteArray m_contents;          // MsgContents: the last LIST, TOP or RETR reply
    int m_currentMessage = 0;
};

} // namespace wrenkit
