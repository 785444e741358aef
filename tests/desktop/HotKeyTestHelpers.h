#pragma once

#include "HotKeyCtrl.h"

#include <QTimer>
#include <QtTest>

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

} // namespace hotkeytest
