#include "Beeper.h"
#include "HotKeyCtrl.h"
#include "HotKeyTestHelpers.h"
#include "KeyStateSource.h"

#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <set>
#include <stdexcept>

using namespace wrenkit;

namespace
{
constexpr short F1 = 112, F5 = 116, F12 = 123;
constexpr short Shift = 16, Control = 17, Alt = 18;

// Keys the test holds down, by virtual-key code; counts the readings of the keyboard.
class FakeKeys : public KeyStateSource
{
public:
    FakeKeys(const std::set<int> *down, int *readings) : m_down(down), m_readings(readings) {}
    std::vector<bool> keysDown(std::span<const int> virtualKeys) override
    {
        ++*m_readings;
        std::vector<bool> result;
        for (const int key : virtualKeys)
            result.push_back(m_down->count(key) != 0);
        return result;
    }

private:
    const std::set<int> *m_down;
    int *m_readings;
};

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

    std::set<int> m_down;
    int m_readings = 0;
    int m_beeps = 0;
    std::unique_ptr<HotKeyCtrl> m_ctrl;

    QTimer *timer() const { return m_ctrl->findChild<QTimer *>(QStringLiteral("hkTimer")); }

private slots:
    void init()
    {
        m_down.clear();
        m_readings = 0;
        m_beeps = 0;
        m_ctrl = std::make_unique<HotKeyCtrl>(std::make_unique<FakeKeys>(&m_down, &m_readings),
                                              std::make_unique<CountingBeeper>(&m_beeps));
    }
    void cleanup() { m_ctrl.reset(); }

    void newControlSamplesNothing()
    {
        QCOMPARE(m_ctrl->HotKey(), short(0));
        QCOMPARE(m_ctrl->Modifier(), short(0));
        QCOMPARE(m_ctrl->Interval(), 0);
        QVERIFY(m_ctrl->Enabled());
        QVERIFY(m_ctrl->isAvailable());
        QVERIFY(!timer()->isActive());

        m_ctrl->setInterval(25);
        QVERIFY(timer()->isActive());
        m_ctrl->setInterval(-5);
        QCOMPARE(m_ctrl->Interval(), 25);
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
        m_ctrl->setInterval(25);
        m_ctrl->setEnabled(false);
        QVERIFY(m_ctrl->Enabled());
        QVERIFY(timer()->isActive());

        m_ctrl->setHotKey(F5);
        m_ctrl->setEnabled(false);
        QVERIFY(!m_ctrl->Enabled());
        QVERIFY(!timer()->isActive());
        m_ctrl->setEnabled(true);
        QVERIFY(timer()->isActive());
    }

    void everyTickWithTheCombinationDownRaisesTheEvent_data()
    {
        QTest::addColumn<short>("modifier");
        QTest::addColumn<QList<int>>("down");
        QTest::addColumn<bool>("raised");

        QTest::newRow("F5, no modifier") << short(0) << QList<int>{F5} << true;
        QTest::newRow("Control and F5, no modifier") << short(0) << QList<int>{Control, F5} << true;
        QTest::newRow("F6, no modifier") << short(0) << QList<int>{F5 + 1} << false;
        QTest::newRow("F5 alone, Control needed") << Control << QList<int>{F5} << false;
        QTest::newRow("Control alone, Control needed") << Control << QList<int>{Control} << false;
        QTest::newRow("Shift and F5, Control needed") << Control << QList<int>{Shift, F5} << false;
        QTest::newRow("Control and F5, Control needed") << Control << QList<int>{Control, F5} << true;
        QTest::newRow("Alt and F5, Alt needed") << Alt << QList<int>{Alt, F5} << true;
    }
    void everyTickWithTheCombinationDownRaisesTheEvent()
    {
        QFETCH(short, modifier);
        QFETCH(QList<int>, down);
        QFETCH(bool, raised);
        m_down.insert(down.begin(), down.end());
        m_ctrl->setHotKey(F5);
        m_ctrl->setModifier(modifier);
        QSignalSpy pressed(m_ctrl.get(), &HotKeyCtrl::HotKeyPressed);

        const int ticks = hotkeytest::runTicks(*m_ctrl, 1);

        QVERIFY(ticks >= 5);
        QCOMPARE(pressed.count(), raised ? ticks : 0);
        QCOMPARE(m_readings, ticks); // one reading of the keyboard per tick, with or without a modifier
    }

    void failingHandlerBeepsOnceAndStopsTheTimer()
    {
        m_down.insert(F5);
        m_ctrl->setHotKey(F5);
        int calls = 0;
        connect(m_ctrl.get(), &HotKeyCtrl::HotKeyPressed, this, [&calls] {
            ++calls;
            throw std::runtime_error("handler failed");
        });

        m_ctrl->setInterval(1);
        QTRY_VERIFY(!m_ctrl->Enabled());
        QCOMPARE(calls, 1);
        QCOMPARE(m_beeps, 1);
        QVERIFY(!timer()->isActive());

        // The host switches it on again.
        m_ctrl->setEnabled(true);
        QTRY_COMPARE(m_beeps, 2);
        QVERIFY(!m_ctrl->Enabled());
    }

    void handlerRunningAnEventLoopIsNotEnteredAgain()
    {
        m_down.insert(F5);
        m_ctrl->setHotKey(F5);
        int calls = 0, ticksInHandler = 0, callsWhenHandlerEnded = 0;
        connect(m_ctrl.get(), &HotKeyCtrl::HotKeyPressed, this, [&] {
            if (++calls > 1)
                return;
            // The host re-arms the control, as its one-minute timer may do meanwhile (a restarted
            // timer is free to tick again), then runs an event loop of its own, as a message box
            // would, here for three ticks.
            m_ctrl->setInterval(1);
            QEventLoop loop;
            connect(timer(), &QTimer::timeout, &loop, [&] {
                if (++ticksInHandler == 3)
                    loop.quit();
            });
            QTimer::singleShot(5000, &loop, &QEventLoop::quit);
            loop.exec();
            callsWhenHandlerEnded = calls;
        });

        m_ctrl->setInterval(1);
        QTRY_VERIFY(calls >= 2);
        QCOMPARE(ticksInHandler, 3);
        QCOMPARE(callsWhenHandlerEnded, 1);
    }

    void waylandOrNoDisplayGivesNoKeySource_data()
    {
        QTest::addColumn<QByteArray>("display");
        QTest::addColumn<QByteArray>("waylandDisplay");
        QTest::addColumn<QByteArray>("sessionType");

        QTest::newRow("Wayland display") << QByteArray(":0") << QByteArray("wayland-0") << QByteArray();
        QTest::newRow("Wayland session type") << QByteArray(":0") << QByteArray() << QByteArray("wayland");
        QTest::newRow("no display") << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("display that does not open") << QByteArray(":59999") << QByteArray() << QByteArray();
    }
    void waylandOrNoDisplayGivesNoKeySource()
    {
        QFETCH(QByteArray, display);
        QFETCH(QByteArray, waylandDisplay);
        QFETCH(QByteArray, sessionType);
        const hotkeytest::ScopedEnv displayEnv("DISPLAY", display);
        const hotkeytest::ScopedEnv waylandEnv("WAYLAND_DISPLAY", waylandDisplay);
        const hotkeytest::ScopedEnv sessionEnv("XDG_SESSION_TYPE", sessionType);

        QVERIFY(!HotKeyCtrl().isAvailable());
    }

    void withoutAKeySourceItIsUnavailableAndSilent()
    {
        HotKeyCtrl ctrl(nullptr, std::make_unique<CountingBeeper>(&m_beeps));
        QVERIFY(!ctrl.isAvailable());
        QVERIFY(!ctrl.property("Available").toBool());

        ctrl.setHotKey(F5);
        QSignalSpy pressed(&ctrl, &HotKeyCtrl::HotKeyPressed);
        QVERIFY(hotkeytest::runTicks(ctrl, 1) >= 5);
        QCOMPARE(pressed.count(), 0);
    }
};

QTEST_MAIN(TestHotKeyCtrl)
#include "tst_hotkeyctrl.moc"
