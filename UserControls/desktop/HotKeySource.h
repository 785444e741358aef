#pragma once

#include <QObject>

#include <memory>

namespace wrenkit
{

// Tells when one key combination is pressed anywhere on the desktop, by an event of the system: a key
// grab of the X server, or a shortcut of the desktop portal. Nothing is sampled.
// Keys are Windows virtual-key codes: 112 to 123 are F1 to F12; the modifier is 16 Shift, 17 Control,
// 18 Alt or 0 for none (either side of a modifier counts).
class HotKeySource : public QObject
{
    Q_OBJECT
public:
    enum class State {
        Idle,      // listening for nothing
        Pending,   // asked the system, no answer yet
        Listening, // the combination raises pressed()
        Taken,     // another program holds the combination
        Failed,    // the system refused for another reason, or the connection to it ended
        Unavailable, // this session offers no way to a hot key (a Wayland desktop without the portal)
    };
    Q_ENUM(State)

    using QObject::QObject;

    // Listens for this combination in place of any earlier one. Asking again for the combination
    // already held does nothing; asking again after Taken or Failed tries once more.
    virtual void listen(int virtualKey, int modifier) = 0;
    // Listens for nothing.
    virtual void stop() = 0;
    State state() const { return m_state; }
    // How many times the source woke the program up (read from the system) so far.
    int wakeUps() const { return m_wakeUps; }

signals:
    void pressed();
    void stateChanged(wrenkit::HotKeySource::State state);
    // The source read from the system: every wake-up of the program it causes.
    void wokeUp();

protected:
    void setState(State state)
    {
        if (state == m_state)
            return;
        m_state = state;
        emit stateChanged(state);
    }
    void countWakeUp()
    {
        ++m_wakeUps;
        emit wokeUp();
    }

private:
    State m_state = State::Idle;
    int m_wakeUps = 0;
};

// The source of this session: a key grab on X11, the GlobalShortcuts portal on Wayland where the
// desktop offers it; null where neither can work (Wayland without the portal, no display, a build
// without X11).
std::unique_ptr<HotKeySource> createHotKeySource();

} // namespace wrenkit
