#include "CvSysTrayControl.h"
#include "PropertyBag.h"
#include "TrayTestHelpers.h"

#include <QSignalSpy>
#include <QtTest>

#include <vector>

using namespace wrenkit;
using traytest::buttons;
using traytest::redIcon;

namespace
{
struct ShellCall {
    TrayShell::Message message;
    TrayIconData data;
};

// Records every request and lets the test play the shell's mouse notifications.
class FakeShell : public ShellNotifyIcon
{
public:
    explicit FakeShell(std::vector<ShellCall> *calls) : m_calls(calls) {}
    void notify(TrayShell::Message message, const TrayIconData &data) override
    {
        m_calls->push_back({message, data});
    }
    void report(int code) { emit mouseEvent(code); }

private:
    std::vector<ShellCall> *m_calls;
};

QByteArray tipOf(const TrayIconData &data)
{
    return QByteArray(data.szTip.data(), int(data.szTip.size()));
}
} // namespace

class TestCvSysTrayControl : public QObject
{
    Q_OBJECT

    std::vector<ShellCall> m_calls;
    FakeShell *m_shell = nullptr;
    std::unique_ptr<CvSysTrayControl> m_tray;

private slots:
    void init()
    {
        m_calls.clear();
        auto shell = std::make_unique<FakeShell>(&m_calls);
        m_shell = shell.get();
        m_tray = std::make_unique<CvSysTrayControl>(std::move(shell));
    }
    void cleanup() { m_tray.reset(); }

    void placeAndRemoveSendTheFullRecord()
    {
        const QIcon icon = redIcon();
        m_tray->setTrayIcon(icon);
        m_tray->setToolTip(QStringLiteral("Mailvane"));
        m_tray->PlaceInTray();
        m_tray->RemoveFromTray();

        QCOMPARE(m_calls.size(), size_t(2));
        QCOMPARE(m_calls[0].message, TrayShell::Add);
        QCOMPARE(m_calls[1].message, TrayShell::Delete);
        for (const ShellCall &call : m_calls) {
            QCOMPARE(call.data.cbSize, 88u);
            QCOMPARE(call.data.hWnd, reinterpret_cast<quintptr>(m_tray.get()));
            QCOMPARE(call.data.uID, 1u);
            QCOMPARE(call.data.uFlags, 7u);
            QCOMPARE(call.data.uCallbackMessage, 512u);
            QCOMPARE(call.data.hIcon.cacheKey(), icon.cacheKey());
            QCOMPARE(trayTipText(call.data), QStringLiteral("Mailvane"));
        }
    }

    void tipIsTerminatedPaddedAndCut_data()
    {
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QString>("shown");

        const QByteArray seventy = QByteArray(70, 'x');
        QTest::newRow("ten characters")
            << QStringLiteral("0123456789") << QByteArray("0123456789") + '\0' + QByteArray(53, ' ')
            << QStringLiteral("0123456789");
        QTest::newRow("empty") << QString() << QByteArray(1, '\0') + QByteArray(63, ' ') << QString();
        QTest::newRow("63 characters, NUL last")
            << QString(63, 'x') << QByteArray(63, 'x') + '\0' << QString(63, 'x');
        QTest::newRow("70 characters, no room for NUL")
            << QString::fromLatin1(seventy) << seventy.left(64) << QString(63, 'x');
        QTest::newRow("Latin-1") << QStringLiteral("Nachrichten für Jörg")
                                 << QStringLiteral("Nachrichten für Jörg").toLatin1() + '\0' +
                                        QByteArray(43, ' ')
                                 << QStringLiteral("Nachrichten für Jörg");
    }
    void tipIsTerminatedPaddedAndCut()
    {
        QFETCH(QString, toolTip);
        m_tray->setTrayIcon(redIcon());
        m_tray->setToolTip(toolTip);
        m_tray->PlaceInTray();

        QCOMPARE(m_calls.size(), size_t(1));
        QTEST(tipOf(m_calls[0].data), "record");
        QTEST(trayTipText(m_calls[0].data), "shown");
    }

    void nothingReachesTheShellWithoutAnIcon()
    {
        m_tray->setToolTip(QStringLiteral("Mailvane"));
        m_tray->PlaceInTray();
        m_tray->UpdateInTray();
        m_tray->RemoveFromTray();
        m_tray.reset();
        QVERIFY(m_calls.empty());
    }

    // A new icon and tip reach the icon where it stands: the shell's modify request, no removal.
    void updateChangesTheShownIconInPlace()
    {
        m_tray->setTrayIcon(redIcon());
        m_tray->setToolTip(QStringLiteral("Mailvane 1.1"));
        m_tray->PlaceInTray();
        m_tray->setToolTip(QStringLiteral("Mailvane: 2 new message(s)"));
        m_tray->UpdateInTray();
        QCOMPARE(m_calls.size(), size_t(2));
        QCOMPARE(m_calls[1].message, TrayShell::Modify);
        QCOMPARE(m_calls[1].data.uFlags, 7u);
        QVERIFY(tipOf(m_calls[1].data).startsWith(QByteArray("Mailvane: 2 new message(s)\0", 27)));
    }

    void clearedIconLeavesTheShownIconInPlace()
    {
        m_tray->setTrayIcon(redIcon());
        m_tray->PlaceInTray();
        m_tray->setTrayIcon(QIcon());
        m_tray->RemoveFromTray();
        QCOMPARE(m_calls.size(), size_t(1));
    }

    void destructionRemovesTheIcon()
    {
        m_tray->setTrayIcon(redIcon());
        m_tray->PlaceInTray();
        const quintptr identity = reinterpret_cast<quintptr>(m_tray.get());
        m_tray.reset();

        QCOMPARE(m_calls.size(), size_t(2));
        QCOMPARE(m_calls[1].message, TrayShell::Delete);
        QCOMPARE(m_calls[1].data.hWnd, identity);
        QCOMPARE(m_calls[1].data.uID, 1u);
    }

    void eachCodeRaisesItsEvent_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<QList<int>>("doubleClicks");

        QTest::newRow("513 left down") << 513 << QList<int>{1} << QList<int>{};
        QTest::newRow("514 left up") << 514 << QList<int>{} << QList<int>{};
        QTest::newRow("515 left double-click") << 515 << QList<int>{} << QList<int>{1};
        QTest::newRow("516 right down") << 516 << QList<int>{2} << QList<int>{};
        QTest::newRow("517 right up") << 517 << QList<int>{} << QList<int>{};
        QTest::newRow("518 right double-click") << 518 << QList<int>{} << QList<int>{2};
        QTest::newRow("512 mouse move") << 512 << QList<int>{} << QList<int>{};
        QTest::newRow("519 middle down") << 519 << QList<int>{} << QList<int>{};
    }
    void eachCodeRaisesItsEvent()
    {
        QFETCH(int, code);
        QSignalSpy clicks(m_tray.get(), &CvSysTrayControl::TrayClick);
        QSignalSpy doubleClicks(m_tray.get(), &CvSysTrayControl::TrayDoubleClick);

        m_shell->report(code);

        QTEST(buttons(clicks), "clicks");
        QTEST(buttons(doubleClicks), "doubleClicks");
    }

    void propertyBagDefaultsAndRoundTrip()
    {
        QVERIFY(m_tray->ToolTip().isEmpty());

        PropertyBag empty;
        m_tray->readProperties(empty);
        QCOMPARE(m_tray->ToolTip(), QStringLiteral("CvSysTrayControl"));
        QVERIFY(m_tray->TrayIcon().isNull());

        PropertyBag defaults;
        m_tray->writeProperties(defaults);
        QVERIFY(!defaults.contains(QStringLiteral("ToolTip")));
        QVERIFY(!defaults.contains(QStringLiteral("TrayIcon")));

        const QIcon icon = redIcon();
        m_tray->setToolTip(QStringLiteral("Mailvane"));
        m_tray->setTrayIcon(icon);
        PropertyBag saved;
        m_tray->writeProperties(saved);

        CvSysTrayControl loaded(std::make_unique<FakeShell>(&m_calls));
        loaded.readProperties(saved);
        QCOMPARE(loaded.ToolTip(), QStringLiteral("Mailvane"));
        QCOMPARE(loaded.TrayIcon().cacheKey(), icon.cacheKey());
    }
};

QTEST_MAIN(TestCvSysTrayControl)
#include "tst_cvsystraycontrol.moc"
