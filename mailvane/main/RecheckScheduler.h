#pragma once

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <functional>

class CheckCycle;
class NetworkMonitor;
class SleepMonitor;

struct RecheckOptions {
    // How long after waking up or the network's return the check waits, so that the network can
    // settle (Wi-Fi associating, DHCP, VPN).
    int settlingDelayMs = 10000;
    // At most one check from wake-ups and network changes in this time.
    int minimumGapMs = 60000;
    // The period of the window's minute timer, whose ticks the wall clock is compared at.
    int tickIntervalMs = 60000;
    // The wall clock; the system's by default.
    std::function<QDateTime()> clock;
};

// Keeps automatic checking going across sleep and network changes. Going to sleep ends a check in
// progress; waking up, or the network coming back after it was down, runs a check after a settling
// delay when automatic checking is on and a check was due or missed meanwhile, or one was cut short
// by the sleep. Never more than one such check in a minute, and none while the configuration dialog
// is open or a check runs. The window's minute timer asks it at every tick how many minutes the
// wall clock moved beyond the tick, since the timer does not run while the machine sleeps.
class RecheckScheduler : public QObject
{
    Q_OBJECT
public:
    RecheckScheduler(CheckCycle &cycle, std::function<bool()> configOpen, RecheckOptions options = {},
                     QObject *parent = nullptr);

    // Either may be null: nothing is then heard of that source.
    void watch(SleepMonitor *sleep, NetworkMonitor *network);

    // At a tick of the minute timer: the whole minutes that passed since the previous tick (or since
    // a check of this scheduler started) beyond the tick itself; 0 when the clock went back.
    int minutesMissedAtTick();
    // The timer's check was due but did not start for want of a connection.
    void noteCheckMissed() { m_missed = true; }

    bool isSettling() const { return m_settle.isActive(); }

signals:
    // A check of this scheduler started: the minute count starts again.
    void recheckStarted();
    // A wake-up or the network's return was weighed after settling: checking tells whether a check
    // started (false: nothing was due, or it had to wait).
    void triggerHandled(bool checking);

private:
    void onAboutToSleep();
    void onResumed();
    void onNetworkBack();
    void onCheckFinished(bool withSummary);
    void settleThenCheck();
    void checkIfWanted();
    bool startCheckIfWanted();
    QDateTime now() const;

    CheckCycle &m_cycle;
    std::function<bool()> m_configOpen;
    RecheckOptions m_options;
    QTimer m_settle;
    QDateTime m_lastTick;
    QDateTime m_lastCheckEnd;
    QDateTime m_lastRecheck;
    bool m_cutShort = false; // a check was ended by going to sleep
    bool m_missed = false;   // a due check did not run for want of a connection
};
