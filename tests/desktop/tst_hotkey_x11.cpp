// HotKeyCtrl against a real X server: keys are pressed through XTEST on a private Xvfb.
#include "HotKeyCtrl.h"
#include "HotKeyTestHelpers.h"
#include "X11Client.h"
#include "XvfbServer.h"

#include <QApplication>
#include <QSignalSpy>
#include <QtTest>

using namespace wrenkit;

class TestHotKeyX11 : public QObject
{
    Q_OBJECT

    std::unique_ptr<testsupport::X11Client> m_x;

private slots:
    void initTestCase()
    {
        m_x = std::make_unique<testsupport::X11Client>();
        QVERIFY2(m_x->isUsable(), "the X server offers no XTEST");
    }
    void cleanup() { m_x->releaseAllKeys(); }
    void cleanupTestCase() { m_x.reset(); }

    void heldKeysRaiseTheEventAtEveryTick_data()
    {
        QTest::addColumn<short>("modifier");
        QTest::addColumn<QStringList>("held");
        QTest::addColumn<bool>("raised");

        QTest::newRow("F5, no modifier") << short(0) << QStringList{"F5"} << true;
        QTest::newRow("nothing held") << short(0) << QStringList{} << false;
        QTest::newRow("F5 alone, Control needed") << short(17) << QStringList{"F5"} << false;
        QTest::newRow("left Control and F5") << short(17) << QStringList{"Control_L", "F5"} << true;
        QTest::newRow("right Control and F5") << short(17) << QStringList{"Control_R", "F5"} << true;
        QTest::newRow("left Alt and F5") << short(18) << QStringList{"Alt_L", "F5"} << true;
        QTest::newRow("AltGr and F5, Alt needed")
            << short(18) << QStringList{"ISO_Level3_Shift", "F5"} << true;
        QTest::newRow("Shift and F5, Control needed") << short(17) << QStringList{"Shift_L", "F5"} << false;
    }
    void heldKeysRaiseTheEventAtEveryTick()
    {
        QFETCH(short, modifier);
        QFETCH(QStringList, held);
        QFETCH(bool, raised);

        HotKeyCtrl ctrl;
        QVERIFY(ctrl.isAvailable());
        ctrl.setHotKey(116);
        ctrl.setModifier(modifier);
        for (const QString &key : held)
            QVERIFY2(m_x->pressKey(qPrintable(key)), qPrintable(key));

        QSignalSpy pressed(&ctrl, &HotKeyCtrl::HotKeyPressed);
        const int ticks = hotkeytest::runTicks(ctrl, 25, 4);
        QVERIFY(ticks >= 4);
        QCOMPARE(pressed.count(), raised ? ticks : 0);
    }

    // Qt runs through xcb here, as it does under XWayland: the session decides, not the platform.
    void waylandSessionGivesNoKeySourceUnderXcb_data()
    {
        QTest::addColumn<QByteArray>("waylandDisplay");
        QTest::addColumn<QByteArray>("sessionType");
        QTest::addColumn<bool>("available");

        QTest::newRow("X11 session") << QByteArray() << QByteArray("x11") << true;
        QTest::newRow("Wayland display") << QByteArray("wayland-0") << QByteArray() << false;
        QTest::newRow("Wayland session type") << QByteArray() << QByteArray("wayland") << false;
    }
    void waylandSessionGivesNoKeySourceUnderXcb()
    {
        QFETCH(QByteArray, waylandDisplay);
        QFETCH(QByteArray, sessionType);
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        const hotkeytest::ScopedEnv waylandEnv("WAYLAND_DISPLAY", waylandDisplay);
        const hotkeytest::ScopedEnv sessionEnv("XDG_SESSION_TYPE", sessionType);

        QTEST(HotKeyCtrl().isAvailable(), "available");
    }
};

MAILVANE_XVFB_TEST_MAIN(TestHotKeyX11)
#include "tst_hotkey_x11.moc"
