#pragma once

#include "HotKeyCtrl.h"

#include <QtTest>

#include <optional>

namespace hotkeytest
{

// A hot-key source that the test drives: it answers listen() with the state the test chose and
// raises pressed() when told to, if it is listening.
class FakeHotKeySource : public wrenkit::HotKeySource
{
public:
    // What listen() answers: Listening, Taken or Failed.
    State answer = State::Listening;
    // The combinations asked for, in order.
    QList<std::pair<int, int>> asked;
    int stops = 0;

    void listen(int virtualKey, int modifier) override
    {
        asked.append({virtualKey, modifier});
        setState(answer);
    }
    void stop() override
    {
        ++stops;
        setState(State::Idle);
    }
    // The user presses the combination: the system tells only a listening source.
    void press()
    {
        countWakeUp();
        if (state() == State::Listening)
            emit pressed();
    }
    void becomeUnavailable() { setState(State::Unavailable); }
};

// Sets an environment variable (unsets it for an empty value) and restores it when it goes.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const QByteArray &value)
        : m_name(name), m_wasSet(qEnvironmentVariableIsSet(name)), m_saved(qgetenv(name))
    {
        set(value.isEmpty() ? std::nullopt : std::optional(value));
    }
    ~ScopedEnv() { set(m_wasSet ? std::optional(m_saved) : std::nullopt); }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    void set(const std::optional<QByteArray> &value) { value ? qputenv(m_name, *value) : qunsetenv(m_name); }
    const char *m_name;
    bool m_wasSet;
    QByteArray m_saved;
};

} // namespace hotkeytest
