#pragma once

#include "main/MessageListModel.h"
#include "settings/MailClient.h"

#include <QObject>
#include <QString>

#include <optional>

namespace wrenkit
{
class BasicPOP;
class Beeper;
} // namespace wrenkit

class CheckCycle;
class POPConfig;
class ProcessLauncher;
class Prompter;
class StatusSink;

// What the list commands ask of the window that shows the list.
class ListCommandHost
{
public:
    virtual ~ListCommandHost() = default;
    // The message the user selected, as it was listed when selected; none when the list is empty.
    // After a check refilled the list it may no longer be there.
    virtual std::optional<ListedMessage> selectedMessage() const = 0;
    virtual void ApplyMinStyle() = 0;
    // The "Configuration" steps: the dialog, then fresh settings and hot key.
    virtual void OpenConfiguration() = 0;
    virtual void ShowHelp() = 0;
    virtual void ExitProgram() = 0;
};

struct ListCommandServices {
    wrenkit::Beeper &beeper;
    Prompter &prompter;
    ProcessLauncher &launcher;
};

// How a deletion on the server ended.
enum class DeletionOutcome {
    Refused,       // Busy, or nothing to delete: nothing was tried
    Deleted,       // the message is gone from the server and from the list
    AlreadyGone,   // the server no longer holds it: the item left the list
    NotIdentified, // the message could not be identified for certain: nothing deleted, item kept
    Failed,        // log-in, DELE or the session's end failed, or the user cancelled: item kept
};

// The commands of the message list and of the toolbar: deleting a message on its server,
// blocking its sender, launching the mail client, cancelling, and the toolbar's dispatch. Uses the
// check cycle's POP3 control, settings, Busy flag and error report.
class ListCommands : public QObject
{
    Q_OBJECT
public:
    ListCommands(wrenkit::BasicPOP &bp1, MessageListModel &list, StatusSink &status, CheckCycle &cycle,
                 ListCommandHost &host, const ListCommandServices &services, QObject *parent = nullptr);

    // Panel 3 when a command's message is no longer in the list.
    static inline const QString NoLongerListed = QStringLiteral("The message is no longer in the list");

    // The command line of the client named `selected` (exact match): the last client of that name
    // wins. Empty when none matches.
    static QString clientCommand(const QList<MailClient> &clients, const QString &selected);

public slots:
    // Toolbar1's ButtonClick, by the button's key. A command refused while Busy beeps.
    void ButtonClick(const QString &key);
    // The Delete key, and the toolbar's Delete once Busy let it through: the selected message.
    void DeleteSelected();
    // mnuAddBlock on the selected message.
    void BlockSender();
    // mnuDelMessage and mnuAddBlock on the message the menu was opened on. When that message is
    // no longer the one listed under its key (a check refilled the list meanwhile), nothing is
    // done and panel 3 says so. Refusals while Busy are the deletion's own.
    void DeleteChosen(const ListedMessage &chosen);
    void BlockChosen(const ListedMessage &chosen);
    void Launch();
    void Cancel();
    void DeleteServerMessage(const QString &Key);

signals:
    void deletionFinished(const QString &key, DeletionOutcome outcome);

private:
    // True when the list still holds this very message under its key; else says so.
    bool stillListed(const ListedMessage &chosen);
    DeletionOutcome deleteMessage(const QString &Key);
    // The number of the recorded message in the session just opened; 0 when it is not there for
    // certain (outcome says why).
    int locate(const ListedMessage &recorded, int number, DeletionOutcome &outcome);
    bool errorSince(int before) const { return m_errorCount != before; }

    wrenkit::BasicPOP &m_bp1;
    MessageListModel &m_list;
    StatusSink &m_status;
    CheckCycle &m_cycle;
    ListCommandHost &m_host;
    ListCommandServices m_services;

    int m_errorCount = 0; // Error events of the control so far
    bool m_deleting = false;
    bool m_cancelled = false;
};
