#include "HotKeyCtrl.h"

#include "Beeper.h"
#include "KeyStateSource.h"

#include <QLoggingCategory>
#include <QScopedValueRollback>
#include <QTimer>

#include <exception>

namespace wrenkit
{

namespace
{
// Off by default; QT_LOGGING_RULES="wrenkit.hotkey.warning=true" shows failing handlers.
Q_LOGGING_CATEGORY(lcHotKey, "wrenkit.hotkey", QtCriticalMsg)

constexpr short FirstFunctionKey = 112; // F1
constexpr short LastFunctionKey = 123;  // F12
constexpr short Shift = 16;
constexpr short Alt = 18;

bool isFunctionKey(short key)
{
    return key >= FirstFunctionKey && key <= LastFunctionKey;
}
} // namespace

HotKeyCtrl::HotKeyCtrl(QObject *parent) : HotKeyCtrl(createKeyStateSource(), createSystemBeeper(), parent) {}

HotKeyCtrl::HotKeyCtrl(std::unique_ptr<KeyStateSource> keys, std::unique_ptr<Beeper> beeper, QObject *parent)
    : QObject(parent), m_keys(std::move(keys)), m_beeper(std::move(beeper)), m_timer(new QTimer(this))
{
    m_timer->setObjectName(QStringLiteral("hkTimer"));
    m_timer->setInterval(0);
    connect(m_timer, &QTimer::timeout, this, &HotKeyCtrl::tick);
}

HotKeyCtrl::~HotKeyCtrl() = default;

short HotKeyCtrl::HotKey() const
{
    return isFunctionKey(m_hotKey) ? m_hotKey : short(0);
}

void HotKeyCtrl::setHotKey(short key)
{
    if (isFunctionKey(key))
        m_hotKey = key;
}

void HotKeyCtrl::setModifier(short key)
{
    m_modifier = (key >= Shift && key <= Alt) ? key : short(0);
}

int HotKeyCtrl::Interval() const
{
    return m_timer->interval();
}

void HotKeyCtrl::setInterval(int milliseconds)
{
    if (milliseconds < 0)
        return;
    m_timer->setInterval(milliseconds);
    updateTimer();
}

void HotKeyCtrl::setEnabled(bool enabled)
{
    if (!isFunctionKey(m_hotKey))
        return;
    m_enabled = enabled;
    updateTimer();
}

void HotKeyCtrl::updateTimer()
{
    // A QTimer of interval 0 would fire at every turn of the event loop; here 0 means off.
    if (m_enabled && m_timer->interval() > 0) {
        if (!m_timer->isActive())
            m_timer->start();
    } else {
        m_timer->stop();
    }
}

void HotKeyCtrl::tick()
{
    // A handler may run an event loop of its own (a message box), and the timer, once restarted
    // (the host re-arming the control meanwhile), ticks inside it: such a tick does nothing, so each
    // handler ends before the next tick counts.
    if (m_raising)
        return;
    // Without a function key there is nothing that could be down.
    if (!m_keys || !isFunctionKey(m_hotKey))
        return;
    bool pressed;
    if (m_modifier < 1) {
        const int keys[] = {m_hotKey};
        pressed = m_keys->keysDown(keys)[0];
    } else {
        // One reading for both keys, the function key first.
        const int keys[] = {m_hotKey, m_modifier};
        const std::vector<bool> down = m_keys->keysDown(keys);
        pressed = down[0] && down[1];
    }
    if (!pressed)
        return;

    const QScopedValueRollback raising(m_raising, true);
    try {
        emit HotKeyPressed();
        return;
    } catch (const std::exception &e) {
        qCWarning(lcHotKey) << "HotKeyPressed handler failed:" << e.what();
    } catch (...) {
        qCWarning(lcHotKey) << "HotKeyPressed handler failed";
    }
    m_beeper->beep();
    m_enabled = false;
    updateTimer();
}

} // namespace wrenkit

#include "moc_HotKeyCtrl.cpp"
