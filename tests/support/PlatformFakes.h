#pragma once

#include "platform/Beeper.h"
#include "platform/Connectivity.h"
#include "platform/Dialer.h"
#include "platform/SoundPlayer.h"

#include <QList>
#include <QStringList>

// Stand-ins for the platform services that answer as a test sets them and record what they were asked.
namespace testsupport
{

class FakeConnectivity : public Connectivity
{
public:
    bool connected = true;
    int queries = 0;
    bool isConnected() override
    {
        ++queries;
        return connected;
    }
};

class RecordingDialer : public Dialer
{
public:
    quint32 handleToGive = 1; // 0 makes every dial fail
    QStringList dialled;
    QList<quint32> hungUp;
    quint32 dial(const QString &connectionName) override
    {
        dialled << connectionName;
        return handleToGive;
    }
    void hangUp(quint32 handle) override { hungUp << handle; }
};

class RecordingSoundPlayer : public SoundPlayer
{
public:
    QStringList played;
    void playToEnd(const QString &path) override { played << path; }
};

class RecordingBeeper : public Beeper
{
public:
    int beeps = 0;
    void beep() override { ++beeps; }
};

} // namespace testsupport
