#include "MessageListModel.h"

#include "main/HeaderDecoder.h"

#include <QFont>
#include <cmath>

QString MessageKey::text() const
{
    return QStringLiteral("A%1 M%2").arg(account).arg(message);
}

MessageKey MessageKey::parse(const QString &key)
{
    const QStringList parts = key.split(u' ');
    if (parts.size() != 2 || !parts[0].startsWith(u'A') || !parts[1].startsWith(u'M'))
        return {};
    bool accountOk = false;
    bool messageOk = false;
    const int account = parts[0].mid(1).toInt(&accountOk);
    const int message = parts[1].mid(1).toInt(&messageOk);
    if (!accountOk || !messageOk)
        return {};
    return {account, message};
}

int MessageListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_messages.size());
}

int MessageListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant MessageListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_messages.size())
        return {};
    const ListedMessage &message = m_messages[index.row()];
    if (role == Qt::UserRole)
        return message.key;
    if (role == RawTextRole && index.column() == From)
        return message.from;
    if (role == RawTextRole && index.column() == Subject)
        return message.subject;
    if (role == Qt::FontRole && message.notSeenBefore) {
        QFont bold;
        bold.setBold(true);
        return bold;
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case From:
        return m_shown[index.row()].from;
    case Subject:
        return m_shown[index.row()].subject;
    case Size:
        return message.size;
    case Account:
        return message.account;
    }
    return {};
}

QVariant MessageListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char *const titles[] = {"From", "Subject", "Size", "Account"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(titles[section]) : QVariant();
}

void MessageListModel::clear()
{
    beginResetModel();
    m_messages.clear();
    m_shown.clear();
    endResetModel();
}

void MessageListModel::add(const ListedMessage &message)
{
    const int row = int(m_messages.size());
    beginInsertRows({}, row, row);
    m_messages.append(message);
    m_shown.append({decodeHeaderForDisplay(message.from), decodeHeaderForDisplay(message.subject)});
    endInsertRows();
}

void MessageListModel::setNotSeenBefore(int row, bool notSeenBefore)
{
    if (row < 0 || row >= m_messages.size() || m_messages[row].notSeenBefore == notSeenBefore)
        return;
    m_messages[row].notSeenBefore = notSeenBefore;
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1), {Qt::FontRole});
}

bool MessageListModel::remove(const QString &key)
{
    for (int row = 0; row < m_messages.size(); ++row) {
        if (m_messages[row].key == key) {
            beginRemoveRows({}, row, row);
            m_messages.removeAt(row);
            m_shown.removeAt(row);
            endRemoveRows();
            return true;
        }
    }
    return false;
}

QString MessageListModel::sizeText(int bytes)
{
    // nearbyint rounds halves to the even neighbour in the default rounding mode.
    const QString number = bytes < 0 ? QStringLiteral("?") : QString::number(qint64(std::nearbyint(bytes / 1024.0)));
    return u' ' + number + QStringLiteral("  k");
}

#include "moc_MessageListModel.cpp"

void MessageListModel::renumberAfterDeletion(int account, int deleted)
{
    for (int row = 0; row < m_messages.size(); ++row) {
        ListedMessage &message = m_messages[row];
        const MessageKey key = MessageKey::parse(message.key);
        if (key.account == account && key.message > deleted) {
            message.key = MessageKey{key.account, key.message - 1}.text();
            emit dataChanged(index(row, 0), index(row, ColumnCount - 1), {Qt::UserRole});
        }
    }
}

bool MessageListModel::isSameMessage(const ListedMessage &a, const ListedMessage &b)
{
    return a.key == b.key && a.account == b.account && a.uniqueId == b.uniqueId &&
           a.sizeBytes == b.sizeBytes && a.from == b.from && a.subject == b.subject && a.to == b.to &&
           a.date == b.date;
}

const ListedMessage *MessageListModel::find(const QString &key) const
{
    for (const ListedMessage &message : m_messages)
        if (message.key == key)
            return &message;
    return nullptr;
}
