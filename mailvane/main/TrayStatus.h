#pragma once

#include <QObject>
#include <QString>

class CheckCycle;
class MessageListModel;

// What the notification-area icon tells: whether there is new mail, or whether the last check had
// errors, and the tool tip that says how many messages or which account failed.
class TrayStatus : public QObject
{
    Q_OBJECT
public:
    enum class State { NoMail, NewMail, Errors };
    Q_ENUM(State)

    TrayStatus(CheckCycle &cycle, const MessageListModel &list, QObject *parent = nullptr);

    State state() const;
    // The messages listed now.
    int count() const;
    // "Mailvane: N new message(s)", or the account of the last check's last error; empty before the
    // first check ended.
    QString toolTip() const;

signals:
    void changed();

private:
    void onErrorReported();
    void onCheckFinished();

    CheckCycle &m_cycle;
    const MessageListModel &m_list;
    bool m_checking = false;
    bool m_checked = false;     // a check has ended
    QString m_failing;          // errors in this check: the account named last
    QString m_lastCheckFailing; // the same for the last check ended
    bool m_lastCheckFailed = false;
    bool m_failed = false;      // errors in this check
};
