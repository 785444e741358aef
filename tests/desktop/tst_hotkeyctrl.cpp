#include "Beeper.h"
#include "HotKeyCtrl.h"
#include "HotKeyTestHelpers.h"

#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <stdexcept>

using namespace wrenkit;

namespace
{
constexpr short F1 = 112, F5 = 116, F12 = 123;
constexpr short Shift = 16, Control = 17, Alt = 18;

class CountingBeeper : public Beeper
{
public:
    explicit CountingBeeper(int *beeps) : m_beeps(beeps) {}
    void beep() override { ++*m_beeps; }

private:
    int *m_beeps;
};
} // namespace

class TestHotKeyCtrl : public QObject
{
    Q_OBJECT

    hotkeytest::FakeHotKeySource *m_source = nullptr;
    int m_beeps = 0;
    std::unique_ptr<HotKeyCtrl> m_ctrl;

    // Sets key and modifier, enables the control and lets the queued change reach the source.
    void arm(short key, short modifier = 0)
    {
        m_ctrl->setHotKey(key);
        m_ctrl->setModifier(modifier);
        m_ctrl->setEnabled(true);
        QTRY_COMPARE(m_source->state(), m_source->answer);
    }

private slots:
    void init()
    {
        m_beeps = 0;
        auto source = std::make_unique<hotkeytest::FakeHotKeySource>();
        m_source = source.get();
        m_ctrl = std::make_unique<HotKeyCtrl>(std::move(source), std::make_unique<CountingBeeper>(&m_beeps));
    }
    void cleanup() { m_ctrl.reset(); }

    void newControlListensForNothingAndRunsNoTimer()
    {
        QCOMPARE(m_ctrl->HotKey(), short(0));
        QCOMPARE(m_ctrl->Modifier(), short(0));
        QCOMPARE(m_ctrl->Interval(), 0);
        QVERIFY(m_ctrl->Enabled());
        QVERIFY(m_ctrl->isAvailable());

        // The interval is kept for the settings but drives nothing.
        m_ctrl->setInterval(25);
        m_ctrl->setInterval(-5);
        QCOMPARE(m_ctrl->Interval(), 25);
        QCoreApplication::processEvents();
        QVERIFY(m_source->asked.isEmpty());
        QVERIFY(m_ctrl->findChildren<QTimer *>().isEmpty());
    }

    void hotKeyTakesOnlyFunctionKeys_data()
    {
        QTest::addColumn<QList<short>>("assigned");
        QTest::addColumn<short>("read");

        QTest::newRow("F5") << QList<short>{F5} << F5;
        QTest::newRow("F1 and F12 are the bounds") << QList<short>{F1, F12} << F12;
        QTest::newRow("letter A keeps F5") << QList<short>{F5, 65} << F5;
        QTest::newRow("111 and 124 keep F1") << QList<short>{F1, 111, 124} << F1;
        QTest::newRow("letter A on a new control") << QList<short>{65} << short(0);
    }
    void hotKeyTakesOnlyFunctionKeys()
    {
        QFETCH(QList<short>, assigned);
        for (const short key : assigned)
            m_ctrl->setHotKey(key);
        QTEST(m_ctrl->HotKey(), "read");
    }

    void modifierOutsideShiftControlAltIsNone_data()
    {
        QTest::addColumn<short>("assigned");
        QTest::addColumn<short>("read");

        QTest::newRow("Shift") << Shift << Shift;
        QTest::newRow("Control") << Control << Control;
        QTest::newRow("Alt") << Alt << Alt;
        QTest::newRow("20") << short(20) << short(0);
        QTest::newRow("15") << short(15) << short(0);
        QTest::newRow("-1") << short(-1) << short(0);
    }
    void modifierOutsideShiftControlAltIsNone()
    {
        QFETCH(short, assigned);
        m_ctrl->setModifier(Control);
        m_ctrl->setModifier(assigned);
        QTEST(m_ctrl->Modifier(), "read");
    }

    void enabledNeedsAHotKey()
    {
        m_ctrl->setEnabled(false);
        QVERIFY(m_ctrl->Enabled());

        arm(F5);
        m_ctrl->setEnabled(false);
        QVERIFY(!m_ctrl->Enabled());
        QTRY_COMPARE(m_source->state(), HotKeySource::State::Idle);
        m_ctrl->setEnabled(true);
        QTRY_COMPARE(m_source->state(), HotKeySource::State::Listening);
    }

    // Key and modifier set one after the other reach the source as one combination, and setting
    // them again (the host does so every minute) asks nothing more.
    void settingsTakeEffectTogetherAndOnce()
    {
        m_ctrl->setHotKey(F12);
        m_ctrl->setModifier(Alt);
        m_ctrl->setEnabled(true);
        QTRY_COMPARE(m_source->asked.size(), 1);
        QCOMPARE(m_source->asked.first(), std::pair(int(F12), int(Alt)));

        m_ctrl->setHotKey(F12);
        m_ctrl->setModifier(Alt);
        QCoreApplication::processEvents();
        QCOMPARE(m_source->asked.size(), 1);

        m_ctrl->setModifier(Control);
        QTRY_COMPARE(m_source->asked.size(), 2);
        QCOMPARE(m_source->asked.last(), std::pair(int(F12), int(Control)));
    }

    void eachPressRaisesTheEventOnce()
    {
        arm(F5, Control);
        QSignalSpy pressed(m_ctrl.get(), &HotKeyCtrl::HotKeyPressed);
        m_source->press();
        QCOMPARE(pressed.count(), 1);
        m_source->press();
        QCOMPARE(pressed.count(), 2);
        QCOMPARE(m_ctrl->wakeUps(), 2);

        m_ctrl->setEnabled(false);
        QTRY_COMPARE(m_source->state(), HotKeySource::State::Idle);
        m_source->press();
        QCOMPARE(pressed.count(), 2);
    }

    // Another program holds the key: the control says so, and the host's next enabling (its
    // one-minute re-arming) asks again; a different key is asked for at once.
    void keyTakenByAnotherProgramIsToldAndRetried()
    {
        m_source->answer = HotKeySource::State::Taken;
        QSignalSpy changed(m_ctrl.get(), &HotKeyCtrl::stateChanged);
        arm(F5);
        QCOMPARE(m_ctrl->state(), HotKeySource::State::Taken);
        QVERIFY(m_ctrl->isAvailable());
        QVERIFY(changed.count() >= 1);
        const qsizetype asked = m_source->asked.size();

        m_ctrl->setHotKey(F5);
        QCoreApplication::processEvents();
        QCOMPARE(m_source->asked.size(), asked);

        m_source->answer = HotKeySource::State::Listening;
        m_ctrl->setEnabled(true);
        QTRY_COMPARE(m_ctrl->state(), HotKeySource::State::Listening);
        QCOMPARE(m_source->asked.size(), asked + 1);
    }

    void failingHandlerBeepsOnceAndStopsListening()
    {
        arm(F5);
        int calls = 0;
        connect(m_ctrl.get(), &HotKeyCtrl::HotKeyPressed, this, [&calls] {
            ++calls;
            throw std::runtime_error("handler failed");
        });

        m_source->press();
        QVERIFY(!m_ctrl->Enabled());
        QCOMPARE(calls, 1);
        QCOMPARE(m_beeps, 1);
        QCOMPARE(m_source->state(), HotKeySource::State::Idle);
        m_source->press();
        QCOMPARE(calls, 1);

        // The host switches it on again.
        m_ctrl->setEnabled(true);
        QTRY_COMPARE(m_source->state(), HotKeySource::State::Listening);
        m_source->press();
        QCOMPARE(m_beeps, 2);
        QVERIFY(!m_ctrl->Enabled());
    }

    void handlerRunningAnEventLoopIsNotEnteredAgain()
    {
        arm(F5);
        int calls = 0, callsWhenHandlerEnded = 0;
        connect(m_ctrl.get(), &HotKeyCtrl::HotKeyPressed, this, [&] {
            if (++calls > 1)
                return;
            // A message box's event loop, in which the user presses the key twice more and the host
            // re-arms the control.
            QEventLoop loop;
            QTimer::singleShot(0, &loop, [&] {
                m_source->press();
                m_ctrl->setEnabled(true);
                m_source->press();
                loop.quit();
            });
            loop.exec();
            callsWhenHandlerEnded = calls;
        });

        m_source->press();
        QCOMPARE(callsWhenHandlerEnded, 1);
        m_source->press();
        QCOMPARE(calls, 2);
    }

    void waylandWithoutPortalOrNoDisplayGivesNoHotKey_data()
    {
        QTest::addColumn<QByteArray>("display");
        QTest::addColumn<QByteArray>("waylandDisplay");
        QTest::addColumn<QByteArray>("sessionType");

        QTest::newRow("Wayland display") << QByteArray(":0") << QByteArray("wayland-0") << QByteArray();
        QTest::newRow("Wayland session type") << QByteArray(":0") << QByteArray() << QByteArray("wayland");
        QTest::newRow("no display") << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("display that does not open") << QByteArray(":59999") << QByteArray() << QByteArray();
    }
    void waylandWithoutPortalOrNoDisplayGivesNoHotKey()
    {
        QFETCH(QByteArray, display);
        QFETCH(QByteArray, waylandDisplay);
        QFETCH(QByteArray, sessionType);
        const hotkeytest::ScopedEnv displayEnv("DISPLAY", display);
        const hotkeytest::ScopedEnv waylandEnv("WAYLAND_DISPLAY", waylandDisplay);
        const hotkeytest::ScopedEnv sessionEnv("XDG_SESSION_TYPE", sessionType);

        // Under Wayland the portal is asked, on the session bus if there is one; none answers here.
        HotKeyCtrl ctrl;
        QTRY_VERIFY(!ctrl.isAvailable());
    }

    void withoutASourceItIsUnavailableAndSilent()
    {
        HotKeyCtrl ctrl(nullptr, std::make_unique<CountingBeeper>(&m_beeps));
        QVERIFY(!ctrl.isAvailable());
        QVERIFY(!ctrl.property("Available").toBool());
        QCOMPARE(ctrl.state(), HotKeySource::State::Unavailable);
        ctrl.setHotKey(F5);
        ctrl.setEnabled(true);
        QCoreApplication::processEvents();
        QCOMPARE(ctrl.wakeUps(), 0);
    }

    void sourceThatBecomesUnavailableMakesTheControlUnavailable()
    {
        QSignalSpy changed(m_ctrl.get(), &HotKeyCtrl::stateChanged);
        m_source->becomeUnavailable();
        QVERIFY(!m_ctrl->isAvailable());
        QCOMPARE(changed.count(), 1);
    }
};

QTEST_MAIN(TestHotKeyCtrl)
#include "tst_hotkeyctrl.moc"
