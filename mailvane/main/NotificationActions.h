#pragma once

#include "main/MessageIdentity.h"
#include "platform/DesktopNotifier.h"

#include <QList>
#include <QObject>

#include <functional>

class CheckCycle;
class ListCommands;
class MessageListModel;
class StatusSink;

// The buttons of the new-mail notification: for one message "Delete", "Block Sender" and "Open
// Mail Client", for several "Show List" and "Open Mail Client". A button acts on exactly the
// message the notification told of, found again in the list by its identity; when it is no longer
// listed nothing happens, and the result panel says so.
class NotificationActions : public QObject
{
    Q_OBJECT
public:
    static inline const QString Delete = QStringLiteral("delete");
    static inline const QString BlockSender = QStringLiteral("block-sender");
    static inline const QString OpenMailClient = QStringLiteral("open-mail-client");
    static inline const QString ShowList = QStringLiteral("show-list");

    // The buttons for a notification of this many messages.
    static QList<NotificationAction> forMessages(int count);

    NotificationActions(DesktopNotifier &notifier, CheckCycle &cycle, ListCommands &commands,
                        MessageListModel &list, StatusSink &status, std::function<void()> showList,
                        QObject *parent = nullptr);

private:
    void onNotified(const QList<ListedMessage> &messages);
    void onAction(const QString &key);
    // The notified message as listed now, or null with the reason in the result panel.
    const ListedMessage *notifiedMessage(const QString &whatWasNotDone) const;

    CheckCycle &m_cycle;
    ListCommands &m_commands;
    MessageListModel &m_list;
    StatusSink &m_status;
    std::function<void()> m_showList;
    MessageIdentity m_notified; // valid when the notification told of one message
};
