#include "HotKeyCtrl.h"

#include "Beeper.h"

#include <QLoggingCategory>
#include <QScopedValueRollback>

#include <exception>

namespace wrenkit
{

namespace
{
// Off by default; QT_LOGGING_RULES="wrenkit.hotkey.warning=true" shows failing handlers, and
// "wrenkit.hotkey.debug=true" every wake-up and state.
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

HotKeyCtrl::HotKeyCtrl(QObject *parent) : HotKeyCtrl(createHotKeySource(), createSystemBeeper(), parent) {}

HotKeyCtrl::HotKeyCtrl(std::unique_ptr<HotKeySource> source, std::unique_ptr<Beeper> beeper, QObject *parent)
    : QObject(parent), m_source(std::move(source)), m_beeper(std::move(beeper))
{
    if (!m_source)
        return;
    connect(m_source.get(), &HotKeySource::pressed, this, &HotKeyCtrl::onPressed);
    connect(m_source.get(), &HotKeySource::stateChanged, this, [this](HotKeySource::State state) {
        qCDebug(lcHotKey) << "state" << state;
        emit stateChanged();
    });
    connect(m_source.get(), &HotKeySource::wokeUp, this,
            [this] { qCDebug(lcHotKey) << "woken up" << m_source->wakeUps(); });
}

HotKeyCtrl::~HotKeyCtrl() = default;

short HotKeyCtrl::HotKey() const
{
    return isFunctionKey(m_hotKey) ? m_hotKey : short(0);
}

void HotKeyCtrl::setHotKey(short key)
{
    if (!isFunctionKey(key) || key == m_hotKey)
        return;
    m_hotKey = key;
    scheduleApply();
}

void HotKeyCtrl::setModifier(short key)
{
    const short modifier = (key >= Shift && key <= Alt) ? key : short(0);
    if (modifier == m_modifier)
        return;
    m_modifier = modifier;
    scheduleApply();
}

void HotKeyCtrl::setInterval(int milliseconds)
{
    if (milliseconds >= 0)
        m_interval = milliseconds;
}

void HotKeyCtrl::setEnabled(bool enabled)
{
    if (!isFunctionKey(m_hotKey))
        return;
    m_enabled = enabled;
    m_retry = true;
    scheduleApply();
}

bool HotKeyCtrl::isAvailable() const
{
    return m_source && m_source->state() != HotKeySource::State::Unavailable;
}

HotKeySource::State HotKeyCtrl::state() const
{
    return m_source ? m_source->state() : HotKeySource::State::Unavailable;
}

int HotKeyCtrl::wakeUps() const
{
    return m_source ? m_source->wakeUps() : 0;
}

void HotKeyCtrl::scheduleApply()
{
    if (m_applyPending || !m_source)
        return;
    m_applyPending = true;
    QMetaObject::invokeMethod(this, &HotKeyCtrl::apply, Qt::QueuedConnection);
}

void HotKeyCtrl::apply()
{
    m_applyPending = false;
    const bool retry = std::exchange(m_retry, false);
    if (!m_enabled || !isFunctionKey(m_hotKey)) {
        if (m_source->state() != HotKeySource::State::Idle)
            m_source->stop();
        return;
    }
    const HotKeySource::State state = m_source->state();
    const bool refused = state == HotKeySource::State::Taken || state == HotKeySource::State::Failed;
    const std::pair asked{m_hotKey, m_modifier};
    if (refused && !retry && asked == m_asked)
        return;
    m_asked = asked;
    m_source->listen(m_hotKey, m_modifier);
}

void HotKeyCtrl::onPressed()
{
    // A handler may run an event loop of its own (a message box), in which further presses come:
    // they are ignored, so each handler ends before the next press counts.
    if (m_raising || !m_enabled)
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
    m_source->stop();
}

} // namespace wrenkit

#include "moc_HotKeyCtrl.cpp"
