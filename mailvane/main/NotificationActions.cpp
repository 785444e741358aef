#include "main/NotificationActions.h"

#include "main/CheckCycle.h"
#include "main/ListCommands.h"
#include "main/StatusSink.h"
#include "settings/POPConfig.h"

#include "HeaderValue.h"

QList<NotificationAction> NotificationActions::forMessages(int count)
{
    if (count == 1)
        return {{Delete, QStringLiteral("Delete")},
                {BlockSender, QStringLiteral("Block Sender")},
                {OpenMailClient, QStringLiteral("Open Mail Client")}};
    if (count > 1)
        return {{ShowList, QStringLiteral("Show List")}, {OpenMailClient, QStringLiteral("Open Mail Client")}};
    return {};
}

NotificationActions::NotificationActions(DesktopNotifier &notifier, CheckCycle &cycle, ListCommands &commands,
                                         MessageListModel &list, StatusSink &status,
                                         std::function<void()> showList, QObject *parent)
    : QObject(parent), m_cycle(cycle), m_commands(commands), m_list(list), m_status(status),
      m_showList(std::move(showList))
{
    connect(&cycle, &CheckCycle::desktopNotified, this, &NotificationActions::onNotified);
    connect(&notifier, &DesktopNotifier::actionInvoked, this, &NotificationActions::onAction);
}

void NotificationActions::onNotified(const QList<ListedMessage> &messages)
{
    m_notified = messages.size() == 1 ? MessageIdentity(messages.first()) : MessageIdentity();
}

const ListedMessage *NotificationActions::notifiedMessage(const QString &whatWasNotDone) const
{
    const ListedMessage *message = m_notified.isValid() ? m_notified.findIn(m_list) : nullptr;
    if (!message)
        m_status.setPanel(3, QStringLiteral("The message of the notification is no longer listed: ") +
                                 whatWasNotDone);
    return message;
}

void NotificationActions::onAction(const QString &key)
{
    if (key == Delete) {
        if (m_cycle.Busy()) {
            m_status.setPanel(3, QStringLiteral("Mailvane is checking: nothing was deleted"));
            return;
        }
        if (const ListedMessage *message = notifiedMessage(QStringLiteral("nothing was deleted")))
            m_commands.DeleteServerMessage(QString(message->key));
    } else if (key == BlockSender) {
        const ListedMessage *message = notifiedMessage(QStringLiteral("no sender was blocked"));
        POPConfig *config = m_cycle.config();
        if (!message || !config)
            return;
        if (message->from == wrenkit::notFoundMarker()) {
            m_status.setPanel(3, QStringLiteral("The message has no sender to block"));
            return;
        }
        config->AddBlockedSender(message->from);
        m_status.setPanel(3, QStringLiteral("Blocked sender: ") + message->from);
    } else if (key == OpenMailClient) {
        m_commands.Launch();
    } else if (key == ShowList) {
        m_status.showWindow();
        if (m_showList)
            m_showList();
    }
}
