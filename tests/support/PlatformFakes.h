#pragma once

#include "platform/AccessTokens.h"
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

// Answers every request for an access token with the result a test sets, and records the accounts
// asked for.
class ScriptedTokenSource : public TokenSource
{
public:
    TokenResult answer{TokenResult::Status::Ok, QStringLiteral("scripted-token"), {}, 3600, {}};
    QList<TokenAccount> asked;
    int cancels = 0;
    TokenSource *forward = nullptr; // when set, asks this one instead of answering
    TokenResult accessToken(const TokenAccount &account) override
    {
        asked << account;
        return forward ? forward->accessToken(account) : answer;
    }
    void remember(const QString &account, const QString &token, qint64 expiresIn) override
    {
        if (forward)
            forward->remember(account, token, expiresIn);
    }
    void forget(const QString &account) override
    {
        if (forward)
            forward->forget(account);
    }
    void cancel() override
    {
        ++cancels;
        if (forward)
            forward->cancel();
    }
};

} // namespace testsupport
