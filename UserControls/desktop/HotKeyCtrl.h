#pragma once

#include <QObject>

#include <memory>

class QTimer;

namespace wrenkit
{

class Beeper;
class KeyStateSource;

// Watches one function key, optionally with a modifier, by sampling the keyboard on its timer
// "hkTimer", and raises HotKeyPressed at every tick while the combination is down (no edge
// detection). Keys are Windows virtual-key codes: HotKey 112 to 123 (F1 to F12), Modifier 16 Shift,
// 17 Control, 18 Alt or 0 for none.
//
// A handler of HotKeyPressed reports failure by throwing: the control then beeps once and switches
// its timer off (Enabled reads false) until the host enables it again. The exception goes no further.
// Handlers must therefore be connected directly (Qt::DirectConnection, which Qt::AutoConnection is
// on the control's thread): a queued handler runs later, outside the tick, and its exception never
// reaches the control. Ticks that come while a handler runs an event loop of its own are skipped.
class HotKeyCtrl : public QObject
{
    Q_OBJECT
    Q_PROPERTY(short HotKey READ HotKey WRITE setHotKey)
    Q_PROPERTY(short Modifier READ Modifier WRITE setModifier)
    Q_PROPERTY(int Interval READ Interval WRITE setInterval)
    Q_PROPERTY(bool Enabled READ Enabled WRITE setEnabled)
    Q_PROPERTY(bool Available READ isAvailable CONSTANT)

public:
    explicit HotKeyCtrl(QObject *parent = nullptr);
    // keys may be null: the control then samples nothing and reports itself unavailable.
    HotKeyCtrl(std::unique_ptr<KeyStateSource> keys, std::unique_ptr<Beeper> beeper,
               QObject *parent = nullptr);
    ~HotKeyCtrl() override;

    // 0 unless a function key is set; other values given to the setter are ignored.
    short HotKey() const;
    void setHotKey(short key);
    // Values other than Shift, Control and Alt store 0 (no modifier).
    short Modifier() const { return m_modifier; }
    void setModifier(short key);
    // Milliseconds between samples; 0 samples nothing, negative values are ignored.
    int Interval() const;
    void setInterval(int milliseconds);
    // Whether the timer is on; the setter is ignored while no function key is set.
    bool Enabled() const { return m_enabled; }
    void setEnabled(bool enabled);

    // False when this session offers no key states (Wayland, no display): the hot key cannot work.
    bool isAvailable() const { return m_keys != nullptr; }

signals:
    void HotKeyPressed();

private:
    void tick();
    void updateTimer();

    std::unique_ptr<KeyStateSource> m_keys;
    std::unique_ptr<Beeper> m_beeper;
    QTimer *m_timer;
    short m_hotKey = 0;
    short m_modifier = 0;
    bool m_enabled = true;
    bool m_raising = false; // HotKeyPressed is being raised
};

} // namespace wrenkit
