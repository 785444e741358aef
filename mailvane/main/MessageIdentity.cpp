#include "main/MessageIdentity.h"

#include "main/CheckCycle.h"
#include "settings/POPConfig.h"

MessageIdentity::MessageIdentity(const ListedMessage &message)
    : m_account(message.account), m_id(KnownMessageId(message))
{
}

bool MessageIdentity::matches(const ListedMessage &message) const
{
    return isValid() && message.account == m_account && KnownMessageId(message) == m_id;
}

const ListedMessage *MessageIdentity::findIn(const MessageListModel &list) const
{
    const ListedMessage *found = nullptr;
    for (const ListedMessage &message : list.messages()) {
        if (!matches(message))
            continue;
        if (found)
            return nullptr;
        found = &message;
    }
    return found;
}
