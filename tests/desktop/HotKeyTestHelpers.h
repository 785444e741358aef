#pragma once

#include "HotKeyCtrl.h"

#include <QTimer>
#include <QtTest>

#include <optional>

namespace hotkeytest
{

// Runs the control's timer at the given interval until it has ticked `ticks` times (or the wait
// timed out), stops it and returns the ticks seen. The counter runs after the control's own slot,
// so every counted tick has been sampled.
inline int runTicks(wrenkit::HotKeyCtrl &ctrl, int interval, int ticks = 5)
{
    auto *timer = ctrl.findChild<QTimer *>(QStringLiteral("hkTimer"));
    int seen = 0;
    const auto counter = QObject::connect(timer, &QTimer::timeout, [&seen] { ++seen; });
    ctrl.setInterval(interval);
    const bool done = QTest::qWaitFor([&] { return seen >= ticks; });
    Q_UNUSED(done)
    ctrl.setInterval(0);
    QObject::disconnect(counter);
    return seen;
}

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
