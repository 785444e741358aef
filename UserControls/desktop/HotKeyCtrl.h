#pragma once

#include "HotKeySource.h"

#include <QObject>

#include <memory>
#include <utility>

namespace wrenkit
{

class Beeper;

// Watches one function key, optionally with a modifier, and raises HotKeyPressed when the
// combination is pressed anywhere on the desktop. The system tells of the press (a key grab on X11,
// the desktop portal's shortcut on Wayland): nothing is sampled. Each press raises the event once
// (a key held down repeats as the keyboard repeats it). Keys are Windows virtual-key codes: HotKey 112 to 123 (F1 to F12), Modifier 16 Shift,
// 17 Control, 18 Alt or 0 for none.
//
// Changes of the properties take effect together once control returns to the event loop, so that
// setting key and modifier one after the other never grabs the key alone in between.
//
// A handler of HotKeyPressed reports failure by throwing: the control then beeps once and stops
// listening (Enabled reads false) until the host enables it again. The exception goes no further.
// Handlers must therefore be connected directly (Qt::DirectConnection, which Qt::AutoConnection is
// on the control's thread). Presses that come while a handler runs an event loop of its own are
// ignored.
class HotKeyCtrl : public QObject
{
    Q_OBJECT
    Q_PROPERTY(short HotKey READ HotKey WRITE setHotKey)
    Q_PROPERTY(short Modifier READ Modifier WRITE setModifier)
    Q_PROPERTY(int Interval READ Interval WRITE setInterval)
    Q_PROPERTY(bool Enabled READ Enabled WRITE setEnabled)
    Q_PROPERTY(bool Available READ isAvailable NOTIFY stateChanged)
    Q_PROPERTY(wrenkit::HotKeySource::State State READ state NOTIFY stateChanged)
    Q_PROPERTY(int WakeUps READ wakeUps)

public:
    explicit HotKeyCtrl(QObject *parent = nullptr);
    // source may be null: the control then listens for nothing and reports itself unavailable.
    HotKeyCtrl(std::unique_ptr<HotKeySource> source, std::unique_ptr<Beeper> beeper, QObject *parent = nullptr);
    ~HotKeyCtrl() override;

    // 0 unless a function key is set; other values given to the setter are ignored.
    short HotKey() const;
    void setHotKey(short key);
    // Values other than Shift, Control and Alt store 0 (no modifier).
    short Modifier() const { return m_modifier; }
    void setModifier(short key);
    // Kept for the settings (milliseconds between samples, once); nothing is sampled any more.
    // Negative values are ignored.
    int Interval() const { return m_interval; }
    void setInterval(int milliseconds);
    // Whether the control listens; the setter is ignored while no function key is set. Enabling it
    // again retries a combination that another program held.
    bool Enabled() const { return m_enabled; }
    void setEnabled(bool enabled);

    // False when this session offers no way to a hot key (Wayland without the portal, no display).
    bool isAvailable() const;
    // What the system answered to the last request: listening, or taken by another program, ...
    HotKeySource::State state() const;
    // How often the control's source woke the program up: a hook for tests and diagnostics.
    int wakeUps() const;

signals:
    void HotKeyPressed();
    void stateChanged();

private:
    void scheduleApply();
    void apply();
    void onPressed();

    std::unique_ptr<HotKeySource> m_source;
    std::unique_ptr<Beeper> m_beeper;
    short m_hotKey = 0;
    short m_modifier = 0;
    int m_interval = 0;
    bool m_enabled = true;
    std::pair<short, short> m_asked{}; // the combination last asked of the source
    bool m_retry = false;        // the next apply asks the system again
    bool m_applyPending = false; // an apply is queued
    bool m_raising = false;      // HotKeyPressed is being raised
};

} // namespace wrenkit
