#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QString>

// The key of a listed message: "A", the 0-based account index, a space, "M", the 1-based message
// number of the check's session ("A0 M3").
struct MessageKey
{
    int account = -1;
    int message = -1;

    QString text() const;
    // Reads a key; an account or message of -1 when the text is not one.
    static MessageKey parse(const QString &key);
    bool isValid() const { return account >= 0 && message >= 1; }
};

// One message as the list shows it, with what identifies it on its server later: the unique id
// when the server gave one, else the size and header values.
struct ListedMessage
{
    QString key;
    QString from;    // the header texts as read
    QString subject;
    QString size;    // the Size column
    QString account; // the account name
    int sizeBytes = -1;
    QString uniqueId{}; // empty when the server gave none
    QString to{};
    QString date{};
    bool notSeenBefore{}; // no earlier check listed it (kept only with "NotifyNewOnly" on)
};

// The message list of the main window: one row per message, with the columns From, Subject,
// Size and Account; the key is the row's Qt::UserRole data. A message not seen before shows in
// bold (Qt::FontRole). From and Subject are shown decoded (international characters);
// RawTextRole gives them as the check read them, the text that the filters and Block Sender use.
class MessageListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { From, Subject, Size, Account, ColumnCount };
    enum Role { RawTextRole = Qt::UserRole + 1 };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    void clear();
    void add(const ListedMessage &message);
    void setNotSeenBefore(int row, bool notSeenBefore);
    // Removes the row with this key; false when there is none.
    bool remove(const QString &key);
    // After message `deleted` of an account was deleted on the server, the server numbers the later
    // messages of that account one lower: their keys follow.
    void renumberAfterDeletion(int account, int deleted);
    // The message with this key, or null.
    const ListedMessage *find(const QString &key) const;
    // Both name the same message under the same key: the same account, unique id, size and
    // headers. What a command chosen on one row checks before it acts on the row there now.
    static bool isSameMessage(const ListedMessage &a, const ListedMessage &b);
    const QList<ListedMessage> &messages() const { return m_messages; }

    // The Size column for a size in bytes: a space, the kilobytes rounded half to even, two spaces
    // and "k"; a question mark in place of the number when the size is unknown (-1).
    static QString sizeText(int bytes);

private:
    // From and Subject as shown, decoded once when the message is added.
    struct Shown {
        QString from;
        QString subject;
    };

    QList<ListedMessage> m_messages;
    QList<Shown> m_shown; // one per message, in the same order
};
