#include "main/RecheckScheduler.h"

#include "main/CheckCycle.h"
#include "platform/SystemEvents.h"
#include "settings/POPConfig.h"

RecheckScheduler::RecheckScheduler(CheckCycle &cycle, std::function<bool()> configOpen, RecheckOptions options,
                                   QObject *parent)
    : QObject(parent), m_cycle(cycle), m_configOpen(std::move(configOpen)), m_options(std::move(options))
{
    if (!m_options.clock)
        m_options.clock = [] { return QDateTime::currentDateTimeUtc(); };
    m_lastTick = m_lastCheckEnd = now();
    m_settle.setSingleShot(true);
    connect(&m_settle, &QTimer::timeout, this, &RecheckScheduler::checkIfWanted);
    connect(&m_cycle, &CheckCycle::checkFinished, this, &RecheckScheduler::onCheckFinished);
}

void RecheckScheduler::watch(SleepMonitor *sleep, NetworkMonitor *network)
{
    if (sleep) {
        connect(sleep, &SleepMonitor::aboutToSleep, this, &RecheckScheduler::onAboutToSleep);
        connect(sleep, &SleepMonitor::resumed, this, &RecheckScheduler::onResumed);
    }
    if (network)
        connect(network, &NetworkMonitor::reachableAgain, this, &RecheckScheduler::onNetworkBack);
}

QDateTime RecheckScheduler::now() const
{
    return m_options.clock();
}

int RecheckScheduler::minutesMissedAtTick()
{
    const QDateTime tick = now();
    const qint64 elapsed = m_lastTick.msecsTo(tick);
    m_lastTick = tick;
    if (elapsed <= 0 || m_options.tickIntervalMs <= 0)
        return 0;
    const qint64 missed = elapsed / m_options.tickIntervalMs - 1;
    return missed > 0 ? int(qMin<qint64>(missed, 0x7fff)) : 0;
}

void RecheckScheduler::onAboutToSleep()
{
    m_settle.stop();
    if (m_cycle.Busy()) {
        m_cutShort = true;
        m_cycle.EndCheck();
    }
}

void RecheckScheduler::onResumed()
{
    settleThenCheck();
}

void RecheckScheduler::onNetworkBack()
{
    settleThenCheck();
}

void RecheckScheduler::onCheckFinished(bool withSummary)
{
    if (!withSummary)
        return;
    m_lastCheckEnd = now();
    m_cutShort = false;
    m_missed = false;
}

void RecheckScheduler::settleThenCheck()
{
    // A second trigger while settling (wake-up and network together) waits for the same check.
    if (!m_settle.isActive())
        m_settle.start(m_options.settlingDelayMs);
}

void RecheckScheduler::checkIfWanted()
{
    const bool checking = startCheckIfWanted();
    emit triggerHandled(checking);
}

bool RecheckScheduler::startCheckIfWanted()
{
    const POPConfig *config = m_cycle.config();
    if (!config || !config->Check() || config->NumberOfAccounts() == 0)
        return false;
    if (m_configOpen() || m_cycle.Busy())
        return false;
    const QDateTime current = now();
    if (m_lastRecheck.isValid()) {
        const qint64 since = m_lastRecheck.msecsTo(current);
        if (since >= 0 && since < m_options.minimumGapMs) {
            // Too soon after the last one: once the minute is over, if it is still wanted then.
            m_settle.start(int(m_options.minimumGapMs - since));
            return false;
        }
    }
    const bool due = m_lastCheckEnd.msecsTo(current) >= qint64(config->Interval()) * m_options.tickIntervalMs;
    if (!due && !m_missed && !m_cutShort)
        return false;
    if (!m_cycle.Connected() && !config->Connect()) {
        m_missed = true;
        return false;
    }
    m_lastRecheck = current;
    m_lastTick = current;
    m_cutShort = false;
    m_missed = false;
    emit recheckStarted();
    // Reported before the check runs: the check pumps events until it ends.
    QTimer::singleShot(0, this, [this] { m_cycle.CheckMail(); });
    return true;
}
