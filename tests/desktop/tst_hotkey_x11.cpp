// HotKeyCtrl against a real X server: keys are pressed through XTEST on a private Xvfb, and the
// server tells the control of them through its key grab.
#include "HotKeyCtrl.h"
#include "HotKeyTestHelpers.h"
#include "X11Client.h"
#include "X11HotKeyGrab.h"
#include "XvfbServer.h"

#include <QApplication>
#include <QSignalSpy>
#include <QtTest>

using namespace wrenkit;

namespace
{
constexpr short F5 = 116;

// A control of the real X source, armed for F5 with the modifier; waits until the grab is answered.
std::unique_ptr<HotKeyCtrl> armedControl(short modifier)
{
    auto ctrl = std::make_unique<HotKeyCtrl>();
    ctrl->setHotKey(F5);
    ctrl->setModifier(modifier);
    ctrl->setEnabled(true);
    if (!QTest::qWaitFor([&] { return ctrl->state() != HotKeySource::State::Idle; }))
        return nullptr;
    return ctrl;
}
} // namespace

class TestHotKeyX11 : public QObject
{
    Q_OBJECT

    std::unique_ptr<testsupport::X11Client> m_x;

    // Presses and releases a key: a lock key changes its lock state.
    void toggle(const char *key)
    {
        QVERIFY2(m_x->pressKey(key), key);
        m_x->releaseAllKeys();
    }

private slots:
    void initTestCase()
    {
        m_x = std::make_unique<testsupport::X11Client>();
        QVERIFY2(m_x->isUsable(), "the X server offers no XTEST");
    }
    void cleanup() { m_x->releaseAllKeys(); }
    void cleanupTestCase() { m_x.reset(); }

    void pressedCombinationRaisesTheEventOnce_data()
    {
        QTest::addColumn<short>("modifier");
        QTest::addColumn<QStringList>("locks");
        QTest::addColumn<QStringList>("held");
        QTest::addColumn<bool>("raised");

        const QStringList none;
        QTest::newRow("F5, no modifier") << short(0) << none << QStringList{"F5"} << true;
        QTest::newRow("F6, no modifier") << short(0) << none << QStringList{"F6"} << false;
        QTest::newRow("F5 alone, Control needed") << short(17) << none << QStringList{"F5"} << false;
        QTest::newRow("left Control and F5") << short(17) << none << QStringList{"Control_L", "F5"} << true;
        QTest::newRow("right Control and F5") << short(17) << none << QStringList{"Control_R", "F5"} << true;
        QTest::newRow("left Alt and F5") << short(18) << none << QStringList{"Alt_L", "F5"} << true;
        QTest::newRow("Shift and F5") << short(16) << none << QStringList{"Shift_L", "F5"} << true;
        QTest::newRow("Shift and F5, Control needed")
            << short(17) << none << QStringList{"Shift_L", "F5"} << false;
        QTest::newRow("NumLock on") << short(17) << QStringList{"Num_Lock"} << QStringList{"Control_L", "F5"}
                                    << true;
        QTest::newRow("CapsLock on") << short(0) << QStringList{"Caps_Lock"} << QStringList{"F5"} << true;
        QTest::newRow("both locks on") << short(18) << QStringList{"Num_Lock", "Caps_Lock"}
                                       << QStringList{"Alt_L", "F5"} << true;
    }
    void pressedCombinationRaisesTheEventOnce()
    {
        QFETCH(short, modifier);
        QFETCH(QStringList, locks);
        QFETCH(QStringList, held);
        QFETCH(bool, raised);

        const auto ctrl = armedControl(modifier);
        QVERIFY(ctrl);
        QCOMPARE(ctrl->state(), HotKeySource::State::Listening);
        QVERIFY(ctrl->findChildren<QTimer *>().isEmpty());
        for (const QString &lock : locks)
            toggle(qPrintable(lock));
        auto unlock = qScopeGuard([&] {
            for (const QString &lock : locks)
                toggle(qPrintable(lock));
        });

        QSignalSpy pressed(ctrl.get(), &HotKeyCtrl::HotKeyPressed);
        for (const QString &key : held)
            QVERIFY2(m_x->pressKey(qPrintable(key)), qPrintable(key));
        // A key held raises the event once; the wait is bounded either way. Without a match the
        // release is all there is to wait for: the grab sees neither.
        if (raised)
            QVERIFY(pressed.wait(5000));
        m_x->releaseAllKeys();
        // The release and a second press of the same combination.
        for (const QString &key : held)
            QVERIFY(m_x->pressKey(qPrintable(key)));
        m_x->releaseAllKeys();
        if (raised)
            QTRY_COMPARE(pressed.count(), 2);
        else
            QVERIFY(!pressed.wait(300));
        QCOMPARE(pressed.count(), raised ? 2 : 0);
    }

    // Another client grabbed the combination first: the control says so, nothing breaks, and once
    // the other client lets go, re-enabling the control gets the key.
    void keyGrabbedByAnotherClientIsTaken()
    {
        auto other = X11HotKeyGrab::open();
        QVERIFY(other);
        other->listen(F5, 17);
        QCOMPARE(other->state(), HotKeySource::State::Listening);

        const auto ctrl = armedControl(17);
        QVERIFY(ctrl);
        QCOMPARE(ctrl->state(), HotKeySource::State::Taken);
        QVERIFY(ctrl->isAvailable());
        QSignalSpy pressed(ctrl.get(), &HotKeyCtrl::HotKeyPressed);
        QSignalSpy otherPressed(other.get(), &HotKeySource::pressed);
        QVERIFY(m_x->pressKey("Control_L") && m_x->pressKey("F5"));
        QVERIFY(otherPressed.wait(5000));
        QCOMPARE(pressed.count(), 0);
        m_x->releaseAllKeys();

        other.reset();
        ctrl->setEnabled(true);
        QTRY_COMPARE(ctrl->state(), HotKeySource::State::Listening);
        QVERIFY(m_x->pressKey("Control_L") && m_x->pressKey("F5"));
        QVERIFY(pressed.wait(5000));
    }

    // Qt runs through xcb here, as it does under XWayland: the session decides, not the platform.
    void waylandSessionGivesNoGrabUnderXcb_data()
    {
        QTest::addColumn<QByteArray>("waylandDisplay");
        QTest::addColumn<QByteArray>("sessionType");
        QTest::addColumn<bool>("grab");

        QTest::newRow("X11 session") << QByteArray() << QByteArray("x11") << true;
        QTest::newRow("Wayland display") << QByteArray("wayland-0") << QByteArray() << false;
        QTest::newRow("Wayland session type") << QByteArray() << QByteArray("wayland") << false;
    }
    void waylandSessionGivesNoGrabUnderXcb()
    {
        QFETCH(QByteArray, waylandDisplay);
        QFETCH(QByteArray, sessionType);
        QFETCH(bool, grab);
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        const hotkeytest::ScopedEnv waylandEnv("WAYLAND_DISPLAY", waylandDisplay);
        const hotkeytest::ScopedEnv sessionEnv("XDG_SESSION_TYPE", sessionType);

        const std::unique_ptr<HotKeySource> source = createHotKeySource();
        QCOMPARE(qobject_cast<X11HotKeyGrab *>(source.get()) != nullptr, grab);
    }
};

MAILVANE_XVFB_TEST_MAIN(TestHotKeyX11)
#include "tst_hotkey_x11.moc"
