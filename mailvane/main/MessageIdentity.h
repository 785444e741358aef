#pragma once

#include "main/MessageListModel.h"

#include <QString>

// What tells one listed message from every other later on, when its key may have changed (an
// earlier message deleted) or the list was refilled: its account and its lasting identity, the
// server's unique id where there is one, else its size and header values.
class MessageIdentity
{
public:
    MessageIdentity() = default;
    explicit MessageIdentity(const ListedMessage &message);

    bool isValid() const { return !m_id.isEmpty(); }
    bool matches(const ListedMessage &message) const;
    // The message as the list shows it now; null when it is not listed any more (or listed twice,
    // which leaves it uncertain).
    const ListedMessage *findIn(const MessageListModel &list) const;

private:
    QString m_account;
    QString m_id;
};
