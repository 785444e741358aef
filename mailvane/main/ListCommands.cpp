#include "main/ListCommands.h"

#include "main/CheckCycle.h"
#include "main/StatusSink.h"
#include "platform/Beeper.h"
#include "platform/ProcessLauncher.h"
#include "platform/Prompter.h"
#include "settings/POPConfig.h"

#include "BasicPOP.h"
#include "HeaderValue.h"

#include <QPointer>

namespace
{
const QString GoneText = QStringLiteral("Message no longer on the server");
const QString NotIdentifiedText =
    QStringLiteral("The message could not be identified on the server for certain,\r\n"
                   "so nothing was deleted.");
} // namespace

ListCommands::ListCommands(wrenkit::BasicPOP &bp1, MessageListModel &list, StatusSink &status,
                           CheckCycle &cycle, ListCommandHost &host, const ListCommandServices &services,
                           QObject *parent)
    : QObject(parent), m_bp1(bp1), m_list(list), m_status(status), m_cycle(cycle), m_host(host),
      m_services(services)
{
    connect(&m_bp1, &wrenkit::BasicPOP::Error, this, [this] { ++m_errorCount; });
}

void ListCommands::ButtonClick(const QString &key)
{
    static const QStringList refusedWhileBusy{QStringLiteral("Check"), QStringLiteral("Launch"),
                                              QStringLiteral("Config"), QStringLiteral("Delete"),
                                              QStringLiteral("Exit")};
    if (m_cycle.Busy() && refusedWhileBusy.contains(key)) {
        m_services.beeper.beep();
        return;
    }
    if (key == QLatin1String("Check")) {
        m_cycle.RequestCheck();
    } else if (key == QLatin1String("Launch")) {
        Launch();
    } else if (key == QLatin1String("Min")) {
        m_host.ApplyMinStyle();
    } else if (key == QLatin1String("Config")) {
        m_host.OpenConfiguration();
        if (POPConfig *config = m_cycle.config())
            m_status.setPanel(1, QStringLiteral("Selected Client: ") + config->SelectedClient());
    } else if (key == QLatin1String("Delete")) {
        DeleteSelected();
    } else if (key == QLatin1String("Help")) {
        m_host.ShowHelp();
    } else if (key == QLatin1String("Cancel")) {
        Cancel();
    } else if (key == QLatin1String("Exit")) {
        m_host.ExitProgram();
    }
}

void ListCommands::DeleteSelected()
{
    if (m_list.rowCount() == 0)
        return;
    if (const std::optional<ListedMessage> selected = m_host.selectedMessage())
        DeleteChosen(*selected);
}

void ListCommands::BlockSender()
{
    if (m_list.rowCount() == 0)
        return;
    if (const std::optional<ListedMessage> selected = m_host.selectedMessage())
        BlockChosen(*selected);
}

void ListCommands::DeleteChosen(const ListedMessage &chosen)
{
    if (stillListed(chosen))
        DeleteServerMessage(chosen.key);
}

void ListCommands::BlockChosen(const ListedMessage &chosen)
{
    POPConfig *config = m_cycle.config();
    if (!config || !stillListed(chosen) || chosen.from == wrenkit::notFoundMarker())
        return;
    config->AddBlockedSender(chosen.from);
}

bool ListCommands::stillListed(const ListedMessage &chosen)
{
    const ListedMessage *listed = m_list.find(chosen.key);
    if (listed && MessageListModel::isSameMessage(*listed, chosen))
        return true;
    m_status.setPanel(3, NoLongerListed);
    return false;
}

QString ListCommands::clientCommand(const QList<MailClient> &clients, const QString &selected)
{
    QString command;
    for (const MailClient &client : clients)
        if (client.Name == selected)
            command = client.Command;
    return command;
}

void ListCommands::Launch()
{
    POPConfig *config = m_cycle.config();
    if (!config)
        return;
    const QString selected = config->SelectedClient();
    QList<MailClient> clients;
    for (int k = 0; k < config->NumberOfClients(); ++k)
        clients.append({config->ClientName(k), config->ClientCommand(k)});
    const QString command = clientCommand(clients, selected);
    if (command.trimmed().isEmpty()) {
        m_status.setPanel(3, QStringLiteral("No mail client to launch"));
        return;
    }
    if (!m_services.launcher.startDetached(command))
        m_status.setPanel(3, QStringLiteral("Could not start ") + selected);
}

void ListCommands::Cancel()
{
    m_cancelled = m_deleting;
    m_cycle.Cancel();
}

void ListCommands::DeleteServerMessage(const QString &Key)
{
    const DeletionOutcome outcome = deleteMessage(Key);
    if (outcome != DeletionOutcome::Refused)
        emit deletionFinished(Key, outcome);
}

DeletionOutcome ListCommands::deleteMessage(const QString &Key)
{
    POPConfig *config = m_cycle.config();
    if (m_cycle.Busy() || m_list.rowCount() == 0 || !config)
        return DeletionOutcome::Refused;
    const MessageKey key = MessageKey::parse(Key);
    const ListedMessage *found = m_list.find(Key);
    if (!key.isValid() || !found)
        return DeletionOutcome::Refused;
    const ListedMessage recorded = *found;
    // The settings may have changed since the check: the index must still name the same account.
    if (key.account >= config->NumberOfAccounts() || config->AccountName(key.account) != recorded.account) {
        m_services.prompter.message(QStringLiteral("Mailvane"), NotIdentifiedText);
        return DeletionOutcome::NotIdentified;
    }

    m_cycle.setBusy(true);
    m_deleting = true;
    m_cancelled = false;
    struct Release {
        ListCommands *self;
        ~Release()
        {
            self->m_deleting = false;
            self->m_cycle.setBusy(false);
        }
    } release{this};

    // Reading the password may wait, and the settings may be replaced meanwhile: the key's
    // account index may then name another account, and nothing is deleted.
    const QPointer<POPConfig> settings = config;
    if (!m_cycle.applyAccount(key.account)) {
        if (!m_cycle.config() || m_cycle.config() == settings.data())
            return DeletionOutcome::Failed;
        m_services.prompter.message(QStringLiteral("Mailvane"), NotIdentifiedText);
        return DeletionOutcome::NotIdentified;
    }
    if (m_bp1.TimeOut() <= 0)
        m_bp1.setTimeOut(config->Timeout());

    // Connect returns when the log-in is over, failed or was cancelled.
    const int errorsBefore = m_errorCount;
    m_bp1.Connect();
    if (m_bp1.Status() != 1 || m_cancelled) {
        if (!errorSince(errorsBefore) && !m_cancelled)
            m_cycle.ReportError(QStringLiteral("Login Failed"));
        m_bp1.KillConn();
        return DeletionOutcome::Failed;
    }

    DeletionOutcome outcome = DeletionOutcome::Deleted;
    const int number = locate(recorded, key.message, outcome);
    if (number == 0 || m_cancelled) {
        m_bp1.Disconnect();
        if (m_cancelled)
            return DeletionOutcome::Failed;
        if (outcome == DeletionOutcome::AlreadyGone) {
            m_list.remove(Key);
            m_status.setPanel(3, GoneText);
        } else if (outcome == DeletionOutcome::NotIdentified) {
            m_services.prompter.message(QStringLiteral("Mailvane"), NotIdentifiedText);
        }
        return outcome;
    }

    const int errorsBeforeDelete = m_errorCount;
    m_bp1.DeleteMessage(number);
    if (errorSince(errorsBeforeDelete) || m_cancelled) {
        m_bp1.KillConn();
        return DeletionOutcome::Failed;
    }
    // The server carries the deletion out when it accepts QUIT; until then nothing is gone.
    m_bp1.Disconnect();
    if (!m_bp1.MessageDeleted(number))
        return DeletionOutcome::Failed;

    m_list.remove(Key);
    m_list.renumberAfterDeletion(key.account, key.message);
    return DeletionOutcome::Deleted;
}

int ListCommands::locate(const ListedMessage &recorded, int number, DeletionOutcome &outcome)
{
    const int count = m_bp1.NumberOfMessages();
    if (count == 0) {
        outcome = DeletionOutcome::AlreadyGone;
        return 0;
    }
    // By its lasting identity, wherever it stands now.
    if (!recorded.uniqueId.isEmpty()) {
        bool sessionHasIds = false;
        for (int n = 1; n <= count; ++n) {
            const QString id = m_bp1.UniqueID(n);
            sessionHasIds = sessionHasIds || !id.isEmpty();
            if (id == recorded.uniqueId) {
                outcome = DeletionOutcome::Deleted;
                return n;
            }
        }
        if (sessionHasIds) {
            outcome = DeletionOutcome::AlreadyGone;
            return 0;
        }
    }
    // Without one, only the message at the recorded number with the recorded size and headers.
    outcome = DeletionOutcome::NotIdentified;
    if (number > count)
        return 0;
    const int errorsBefore = m_errorCount;
    m_bp1.GetMessageInfo(number);
    if (errorSince(errorsBefore) || !m_bp1.InfoComplete()) {
        outcome = DeletionOutcome::Failed;
        return 0;
    }
    const bool same = m_bp1.MsgSize() == recorded.sizeBytes && m_bp1.MsgFrom() == recorded.from &&
                      m_bp1.MsgSubject() == recorded.subject && m_bp1.MsgTo() == recorded.to &&
                      m_bp1.MsgDate() == recorded.date;
    if (!same)
        return 0;
    outcome = DeletionOutcome::Deleted;
    return number;
}

#include "moc_ListCommands.cpp"
