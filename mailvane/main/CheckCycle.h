#pragma once

#include "main/MessageListModel.h"
#include "platform/Beeper.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <optional>

namespace wrenkit {
class BasicPOP;
}

class Connectivity;
class DesktopNotifier;
class Dialer;
class MessageListModel;
class POPConfig;
class Prompter;
class SoundPlayer;
class StatusSink;

// What a check needs of the system besides the POP3 control.
struct CheckServices
{
    Connectivity &connectivity;
    Dialer &dialer;
    SoundPlayer &soundPlayer;
    Beeper &beeper;
    Prompter &prompter;
    DesktopNotifier *notifier = nullptr; // none: no desktop notifications
};

// What identifies a listed message across checks: its unique id where the server gave one, else
// its size and header values. A short digest, so that it fits a value of the store.
QString KnownMessageId(const ListedMessage &message);

// Why a filter rejected a message, in the order the filters run.
enum class RejectReason { BlankFrom, BlankSubject, OverSize, ZeroLength, BlockedSender };
QString rejectReasonName(RejectReason reason); // "blankFrom", "blankSubject", ...

struct RejectedMessage
{
    int accountIndex = -1;
    QString account;
    int number = 0;
    QString from;
    QString subject;
    int size = -1; // bytes; -1 when the listing gave none
    RejectReason reason = RejectReason::BlankFrom;
    // The server accepted the DELE and then QUIT, which is when it carries deletions out.
    bool deleted = false;
};

// The mail check cycle: walks the selected accounts of the settings through the POP3 control,
// reads the headers of every waiting message, deletes on the server what a filter rejects, lists
// the rest and tells the user. It owns the Busy flag, the count of new messages and the handle of
// a connection it dialled. The settings object belongs to the owner, who may replace it between
// and during checks.
class CheckCycle : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool Busy READ Busy)
    Q_PROPERTY(int NewMessageCount READ NewMessageCount)
    Q_PROPERTY(quint32 DialConnection READ DialConnection)

public:
    // Reported once when a server refused this many unlisted messages in a row.
    static inline const QString TooManyRefused = QStringLiteral("Too Many Refused Messages");

    CheckCycle(wrenkit::BasicPOP &bp1, MessageListModel &list, StatusSink &status, const CheckServices &services,
               QObject *parent = nullptr);

    void setConfig(POPConfig *config) { m_config = config; }
    POPConfig *config() const { return m_config; }
    // Evaluates every filter but sends no DELE.
    void setDryRun(bool dryRun) { m_dryRun = dryRun; }
    // With "NotifyNewOnly" on, the messages listed are remembered in the store as seen; a check
    // that must not change that (mailvane-check) turns this off and still sees what is new.
    void setRemembersMessages(bool remembers) { m_remembersMessages = remembers; }

    bool Busy() const { return m_busy; }
    int NewMessageCount() const { return m_newMessageCount; }
    quint32 DialConnection() const { return m_dialConnection; }

    // True when the system reports a connection.
    bool Connected();

public slots:
    // One complete check; does nothing while Busy.
    void CheckMail();
    // "Check Now": asks for accounts and, without a connection, whether to check anyway.
    void RequestCheck();
    void NotifyNewMail();
    // The toolbar's Cancel: closes the connection, which ends the wait in progress.
    void Cancel();
    // Another exchange on the same control (a deletion on the server) holds Busy meanwhile, so that
    // no check starts in its middle.
    void setBusy(bool busy) { m_busy = busy; }
    // Points the control at account i of the settings: host, user name, password, port, security
    // mode and trusted certificate. Errors until Busy clears name that account. False, with the
    // error reported, when the password cannot be had (a locked keyring): no log-in then.
    bool applyAccount(int i);
    // Reports an error the way an Error event of the control is reported.
    void ReportError(const QString &text) { OnError(text); }

signals:
    void messageRejected(const RejectedMessage &message);
    // An error of the POP3 control, as the user was shown it: the account's name, ": ", the error.
    void errorReported(const QString &text);
    // The check is over: with its summary, or ended early by a failed dial.
    void checkFinished(bool withSummary);
    // The user clicked the desktop notification of new mail: the window has been made visible and
    // may now be brought to the front.
    void showListRequested();

private:
    void OnError(const QString &ErrorText);
    // Checks account i; false when the whole check must end (the dial failed).
    bool checkAccount(int i, bool &dialled);
    // Lost: the connection was gone before the read.
    enum class ReadOutcome { Read, Refused, Failed, Lost };
    // Examines message j: lists it, or notes it in rejected and sends its DELE.
    ReadOutcome checkMessage(int i, const QString &accountName, int j, QList<RejectedMessage> &rejected);
    // Marks the account's rows (from firstRow on) that no earlier check listed, and remembers the
    // listed messages; complete when the whole mailbox was walked without an error.
    void noteKnownMessages(const QString &accountName, qsizetype firstRow, bool complete);
    // The first filter that rejects the message the control holds, if any.
    std::optional<RejectReason> filter() const;

    wrenkit::BasicPOP &m_bp1;
    MessageListModel &m_list;
    StatusSink &m_status;
    CheckServices m_services;
    QPointer<POPConfig> m_config;

    bool m_busy = false;
    bool m_dryRun = false;
    bool m_remembersMessages = true;
    int m_notSeenBeforeCount = 0; // listed messages that no earlier check listed
    int m_newMessageCount = 0;
    quint32 m_dialConnection = 0;
    int m_errorCount = 0; // Error events so far: how a failed step is noticed
    QString m_lastError;
    QString m_errorAccount; // the account of the exchange that holds Busy, named in its errors
    bool m_cancelled = false;
};
