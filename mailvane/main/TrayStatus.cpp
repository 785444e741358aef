#include "main/TrayStatus.h"

#include "main/CheckCycle.h"
#include "main/MessageListModel.h"
#include "settings/POPConfig.h"

TrayStatus::TrayStatus(CheckCycle &cycle, const MessageListModel &list, QObject *parent)
    : QObject(parent), m_cycle(cycle), m_list(list)
{
    connect(&cycle, &CheckCycle::checkStarted, this, [this] {
        m_checking = true;
        m_failed = false;
        m_failing.clear();
    });
    connect(&cycle, &CheckCycle::errorReported, this, &TrayStatus::onErrorReported);
    connect(&cycle, &CheckCycle::checkFinished, this, &TrayStatus::onCheckFinished);
    // A deleted message leaves the list between checks.
    connect(&list, &QAbstractItemModel::rowsRemoved, this, [this] {
        if (!m_checking)
            emit changed();
    });
}

void TrayStatus::onErrorReported()
{
    // Errors of deletions between checks are shown where they happen, not by the icon.
    if (!m_checking)
        return;
    m_failed = true;
    if (!m_cycle.errorAccount().isEmpty())
        m_failing = m_cycle.errorAccount();
}

void TrayStatus::onCheckFinished()
{
    m_checking = false;
    m_checked = true;
    m_lastCheckFailed = m_failed;
    m_lastCheckFailing = m_failing;
    emit changed();
}

TrayStatus::State TrayStatus::state() const
{
    if (m_lastCheckFailed)
        return State::Errors;
    return count() > 0 ? State::NewMail : State::NoMail;
}

int TrayStatus::count() const
{
    return int(m_list.messages().size());
}

QString TrayStatus::toolTip() const
{
    if (!m_checked)
        return {};
    if (m_lastCheckFailed)
        return m_lastCheckFailing.isEmpty() ? QStringLiteral("Mailvane: the last check failed")
                                            : QStringLiteral("Mailvane: error checking ") + m_lastCheckFailing;
    return QStringLiteral("Mailvane: %1 new message(s)").arg(count());
}
