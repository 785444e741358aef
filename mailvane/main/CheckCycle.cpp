#include "main/CheckCycle.h"

#include "main/HeaderDecoder.h"
#include "main/StatusSink.h"
#include "platform/Beeper.h"
#include "platform/Connectivity.h"
#include "platform/DesktopNotifier.h"
#include "platform/Dialer.h"
#include "platform/Prompter.h"
#include "platform/SoundPlayer.h"
#include "settings/POPConfig.h"

#include "BasicPOP.h"
#include "HeaderValue.h"

#include <QCryptographicHash>
#include <QLocale>
#include <QSet>
#include <QTime>
#include <algorithm>
#include <functional>

namespace
{
const QString ProgramTitle = QStringLiteral("Mailvane 1.0");

// The desktop notification's body: sender and subject of the first five messages, as shown.
QString notificationBody(const QList<ListedMessage> &messages)
{
    constexpr int Shown = 5;
    QStringList lines;
    for (const ListedMessage &m : messages.mid(0, Shown))
        lines << decodeHeaderForDisplay(m.from) + QStringLiteral(": ") + decodeHeaderForDisplay(m.subject);
    if (messages.size() > Shown)
        lines << QStringLiteral("and %1 more").arg(messages.size() - Shown);
    return lines.join(u'\n');
}
} // namespace

QString KnownMessageId(const ListedMessage &message)
{
    const QString identity =
        message.uniqueId.isEmpty()
            ? QStringList{"H", QString::number(message.sizeBytes), message.from, message.subject, message.date,
                          message.to}
                  .join(u'\n')
            : QStringLiteral("U\n") + message.uniqueId;
    // 96 bits: no two messages of a mailbox share them; hex, as value texts compare without case.
    return QString::fromLatin1(
        QCryptographicHash::hash(identity.toUtf8(), QCryptographicHash::Sha256).toHex().left(24));
}

QString rejectReasonName(RejectReason reason)
{
    switch (reason) {
    case RejectReason::BlankFrom:
        return QStringLiteral("blankFrom");
    case RejectReason::BlankSubject:
        return QStringLiteral("blankSubject");
    case RejectReason::OverSize:
        return QStringLiteral("overSize");
    case RejectReason::ZeroLength:
        return QStringLiteral("zeroLength");
    case RejectReason::BlockedSender:
        return QStringLiteral("blockedSender");
    }
    return {};
}

CheckCycle::CheckCycle(wrenkit::BasicPOP &bp1, MessageListModel &list, StatusSink &status,
                       const CheckServices &services, QObject *parent)
    : QObject(parent), m_bp1(bp1), m_list(list), m_status(status), m_services(services)
{
    connect(&m_bp1, &wrenkit::BasicPOP::Error, this, &CheckCycle::OnError);
    if (m_services.notifier) {
        connect(m_services.notifier, &DesktopNotifier::activated, this, [this] {
            m_status.showWindow();
            emit showListRequested();
        });
    }
}

bool CheckCycle::Connected()
{
    return m_services.connectivity.isConnected();
}

void CheckCycle::RequestCheck()
{
    if (!m_config || m_config->NumberOfAccounts() == 0) {
        m_services.prompter.message(QStringLiteral("No Accounts"),
                                    QStringLiteral("You must set up an account first\r\n"
                                                   "Please go to the configuration screen"));
        return;
    }
    if (!Connected() && !m_config->Connect()) {
        m_status.setPanel(2, QStringLiteral("Not Connected"));
        if (!m_services.prompter.question(QStringLiteral("Mailvane"),
                                          QStringLiteral("Not Connected\r\nCheck Anyway?")))
            return;
    }
    CheckMail();
}

void CheckCycle::CheckMail()
{
    if (m_busy)
        return;
    // Busy holds for the whole check, whatever errors come in between, so that nothing starts a
    // second exchange on the control in the middle of this one.
    m_busy = true;
    m_newMessageCount = 0;
    m_notSeenBeforeCount = 0;
    m_cancelled = false;
    m_errorAccount.clear();
    m_status.setPanel(2, QString());
    m_status.setPanel(3, QString());
    m_list.clear();
    if (m_config)
        m_bp1.setTimeOut(m_config->Timeout());
    if (m_bp1.Status() != 0)
        m_bp1.KillConn();

    bool dialled = false;
    const int accounts = m_config ? m_config->NumberOfAccounts() : 0;
    for (int i = 0; i < accounts; ++i) {
        // The settings may have been replaced during a wait: accounts that are gone are skipped.
        if (!m_config || i >= m_config->NumberOfAccounts() || !m_config->AcctSel(i))
            continue;
        if (!checkAccount(i, dialled)) {
            m_busy = false;
            emit checkFinished(false);
            return;
        }
    }

    m_status.setPanel(2, QStringLiteral("Done - Checked at:") +
                             QLocale::system().toString(QTime::currentTime(), QLocale::ShortFormat));
    m_status.setPanel(3, QString::number(m_newMessageCount) + QStringLiteral(" New Message(s)"));
    // "NotifyNewOnly": only mail that no earlier check listed is news.
    const bool newOnly = m_config && m_config->NotifyNewOnly();
    if (m_newMessageCount > 0 && (!newOnly || m_notSeenBeforeCount > 0))
        NotifyNewMail();
    if (m_config && m_config->HangUpWhenDone && dialled)
        m_services.dialer.hangUp(m_dialConnection);
    // Cleared only now: the sound of the notification runs an event loop in which a timer could
    // otherwise start the next check.
    m_busy = false;
    emit checkFinished(true);
}

bool CheckCycle::checkAccount(int i, bool &dialled)
{
    // A Cancel counts for the account it was pressed on, never for the next one.
    m_cancelled = false;
    const QString accountName = m_config->AccountName(i);
    const QString checkingText = QStringLiteral("Checking ") + accountName + QStringLiteral(" for mail");
    m_status.setPanel(2, checkingText);
    // Reading the password may wait; a Cancel meanwhile abandons the account before its log-in.
    if (!applyAccount(i) || m_cancelled) {
        m_cancelled = false;
        return true;
    }

    m_status.setPanel(2, QStringLiteral("Connecting to ") + accountName);
    // With no connection profile there is nothing to dial: the server is tried as it is, since
    // the system's report may be wrong (a VPN, a container), and a real lack of network then
    // gives the socket's own error.
    if (!Connected() && !(m_config && m_config->ConnectionToUse.isEmpty())) {
        m_dialConnection = 0;
        m_dialConnection = m_services.dialer.dial(m_config ? m_config->ConnectionToUse : QString());
        if (m_dialConnection == 0) {
            m_status.setPanel(2, QStringLiteral("Internet Connection Failed"));
            return false;
        }
        dialled = true;
    }
    m_status.setPanel(2, checkingText);

    // Connect returns when the log-in is over. A log-in that failed without an error of its own
    // (a refused STAT) is reported here, unless the user cancelled it.
    const int errorsBefore = m_errorCount;
    m_bp1.Connect();
    if (m_bp1.Status() != 1) {
        if (m_errorCount == errorsBefore && !m_cancelled)
            OnError(QStringLiteral("Login Failed"));
        m_bp1.KillConn();
        m_cancelled = false;
        return true;
    }

    // Without a listing the count alone bounds the walk; a server that refuses message after
    // message is not walked to the end of a count it may have made up.
    constexpr int MaxRefusedInARow = 10;
    int refusedInARow = 0;
    QList<RejectedMessage> rejected;
    const qsizetype firstRow = m_list.messages().size();
    const int errorsAtLogIn = m_errorCount;
    const int count = m_bp1.NumberOfMessages();
    for (int j = 1; j <= count; ++j) {
        const ReadOutcome outcome = checkMessage(i, accountName, j, rejected);
        // Without a connection no later message can be read: its loss has been reported once,
        // by the read that found it gone, and the account ends here.
        if (outcome == ReadOutcome::Lost)
            break;
        if (outcome != ReadOutcome::Refused || m_bp1.MsgSize() >= 0) {
            refusedInARow = 0;
        } else if (++refusedInARow == MaxRefusedInARow) {
            OnError(TooManyRefused);
            break;
        }
    }
    const bool walkedCleanly = m_errorCount == errorsAtLogIn && !m_cancelled;
    m_cancelled = false;
    m_bp1.Disconnect();
    if (m_config && m_config->NotifyNewOnly())
        noteKnownMessages(accountName, firstRow, walkedCleanly);
    // A deletion is done only once the server confirmed it by accepting QUIT. The server then
    // numbers the later messages anew, and the keys of this account's rows follow, highest
    // deletion first, so that each key names the message's number in the next session.
    QList<int> deletedNumbers;
    for (RejectedMessage &message : rejected) {
        message.deleted = !m_dryRun && m_bp1.MessageDeleted(message.number);
        if (message.deleted)
            deletedNumbers << message.number;
    }
    std::sort(deletedNumbers.begin(), deletedNumbers.end(), std::greater<>());
    for (int number : deletedNumbers)
        m_list.renumberAfterDeletion(i, number);
    for (const RejectedMessage &message : rejected)
        emit messageRejected(message);
    return true;
}

bool CheckCycle::applyAccount(int i)
{
    if (!m_config || i < 0 || i >= m_config->NumberOfAccounts())
        return false;
    // The account is read as one record before the keyring is asked: that read may wait with the
    // event loop running, and the configuration dialog may replace the settings meanwhile, after
    // which index i can name another account on another server.
    const QPointer<POPConfig> config = m_config;
    const QString name = config->AccountName(i);
    const QString host = config->Host(i);
    const QString userName = config->UserName(i);
    const int port = config->Port(i);
    const int security = config->Security(i);
    const QString trustedCertificate = config->TrustedCertificate(i);
    m_errorAccount = name;
    // A password kept in the keyring that cannot be read now fails the account: a log-in with an
    // empty password would only look like a wrong one to the server.
    const POPConfig::PasswordLookup password = config->LookUpPassword(i);
    if (!config || config != m_config)
        return false; // the settings were replaced: the account is skipped
    if (!password.ok) {
        OnError(QStringLiteral("Password Not Available: ") + password.error);
        return false;
    }
    m_bp1.setHost(host);
    m_bp1.setUserName(userName);
    m_bp1.setPassword(password.password);
    m_bp1.setPort(port);
    m_bp1.setSecurity(security);
    m_bp1.setTrustedCertificate(trustedCertificate);
    return true;
}

CheckCycle::ReadOutcome CheckCycle::checkMessage(int i, const QString &accountName, int j,
                                                 QList<RejectedMessage> &rejected)
{
    // A read that failed or was cut short (by Cancel) leaves the control with the previous
    // message's headers: the message is skipped, neither filtered nor listed. It stays on the
    // server for the next check.
    const int errorsBefore = m_errorCount;
    m_bp1.GetMessageInfo(j);
    if (m_errorCount != errorsBefore || !m_bp1.InfoComplete()) {
        const bool failed = m_errorCount != errorsBefore;
        if (failed && m_lastError == wrenkit::BasicPOP::ConnectionLost)
            return ReadOutcome::Lost;
        return failed && m_lastError == wrenkit::BasicPOP::MessageRefused ? ReadOutcome::Refused
                                                                          : ReadOutcome::Failed;
    }

    if (const std::optional<RejectReason> reason = filter()) {
        rejected.append({i, accountName, j, m_bp1.MsgFrom(), m_bp1.MsgSubject(), m_bp1.MsgSize(), *reason});
        if (!m_dryRun)
            m_bp1.DeleteMessage(j);
        return ReadOutcome::Read;
    }

    const int size = m_bp1.MsgSize();
    m_list.add({MessageKey{i, j}.text(), m_bp1.MsgFrom(), m_bp1.MsgSubject(),
                MessageListModel::sizeText(size), accountName, size, m_bp1.UniqueID(j), m_bp1.MsgTo(),
                m_bp1.MsgDate()});
    ++m_newMessageCount;
    return ReadOutcome::Read;
}

void CheckCycle::noteKnownMessages(const QString &accountName, qsizetype firstRow, bool complete)
{
    const QStringList known = m_config->KnownMessages(accountName);
    const QSet<QString> knownSet(known.begin(), known.end());
    QStringList listed;
    for (qsizetype row = firstRow; row < m_list.messages().size(); ++row) {
        const QString id = KnownMessageId(m_list.messages().at(row));
        listed << id;
        if (!knownSet.contains(id)) {
            m_list.setNotSeenBefore(int(row), true);
            ++m_notSeenBeforeCount;
        }
    }
    if (!m_remembersMessages)
        return;
    // What the server no longer holds is forgotten; after an incomplete walk nothing is, since
    // the messages not read may still be there.
    QStringList remembered = listed;
    if (!complete) {
        for (const QString &id : known)
            if (!remembered.contains(id))
                remembered << id;
    }
    if (QSet<QString>(remembered.begin(), remembered.end()) != knownSet)
        m_config->setKnownMessages(accountName, remembered);
}

std::optional<RejectReason> CheckCycle::filter() const
{
    if (!m_config)
        return std::nullopt;
    const POPConfig &config = *m_config;
    const QString from = m_bp1.MsgFrom();
    const int size = m_bp1.MsgSize(); // -1: unknown, never rejected on size
    if (from == wrenkit::notFoundMarker() && config.BlockBlankFrom)
        return RejectReason::BlankFrom;
    if (m_bp1.MsgSubject() == wrenkit::notFoundMarker() && config.BlockBlankSubject)
        return RejectReason::BlankSubject;
    if (size >= 0 && size / 1024.0 > config.MaxMessageSize() && config.BlockOverSize)
        return RejectReason::OverSize;
    if (size == 0 && config.BlockZeroLength)
        return RejectReason::ZeroLength;
    // A From of nothing but blanks is contained in every entry with a blank in it; it names no
    // sender, so it is left to the blank-From filter.
    const bool namesNoSender = std::all_of(from.begin(), from.end(), [](QChar c) { return c == u' ' || c == u'\t'; });
    if (!namesNoSender && config.SenderIsBlocked(from))
        return RejectReason::BlockedSender;
    return std::nullopt;
}

void CheckCycle::NotifyNewMail()
{
    if (!m_config || m_config->NoNotify() == 1)
        return;
    if (m_config->Beep() == 1)
        m_services.beeper.beep();
    if (m_config->Popup() == 1 && m_services.notifier)
        m_services.notifier->notify(QStringLiteral("%1 new message(s)").arg(m_newMessageCount),
                                    notificationBody(m_list.messages()));
    if (m_config->Play() == 1 && !m_config->SoundFile().isEmpty())
        m_services.soundPlayer.playToEnd(m_config->SoundFile());
    if (m_config && m_config->ShowList() == 1)
        m_status.showWindow();
}

void CheckCycle::Cancel()
{
    m_cancelled = m_busy;
    m_bp1.KillConn();
}

void CheckCycle::OnError(const QString &ErrorText)
{
    ++m_errorCount;
    m_lastError = ErrorText;
    // With several accounts, the user must see which one failed.
    const QString text = m_busy && !m_errorAccount.isEmpty() ? m_errorAccount + QStringLiteral(": ") + ErrorText
                                                              : ErrorText;
    m_status.setPanel(2, QStringLiteral("Error on last attempt"));
    if (m_status.isWindowVisible())
        m_services.prompter.message(ProgramTitle, text);
    else
        m_status.setPanel(3, text);
    emit errorReported(text);
}

#include "moc_CheckCycle.cpp"
