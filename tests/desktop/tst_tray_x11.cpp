// CvSysTrayControl against a real X server with a tray host: Xvfb and Debian's trayer.
#include "CvSysTrayControl.h"
#include "TrayHost.h"
#include "TrayTestHelpers.h"
#include "X11Client.h"
#include "XvfbServer.h"

#include <QApplication>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QtTest>

#include <algorithm>

using namespace wrenkit;
using traytest::buttons;
using traytest::redIcon;

namespace
{

// The window QSystemTrayIcon shows in the tray, if any.
QWidget *trayWindow()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String("QSystemTrayIconSys"))
            return widget;
    }
    return nullptr;
}
} // namespace

class TestTrayX11 : public QObject
{
    Q_OBJECT

    std::unique_ptr<testsupport::TrayHost> m_host;
    std::unique_ptr<testsupport::X11Client> m_x;

    // Places the icon and waits until the host has embedded its window; returns that window.
    unsigned long placeAndWaitForEmbedding(CvSysTrayControl &tray)
    {
        tray.setTrayIcon(redIcon());
        tray.setToolTip(QStringLiteral("Mailvane"));
        tray.PlaceInTray();
        QWidget *window = trayWindow();
        if (!window)
            return 0;
        const unsigned long id = window->winId();
        const bool embedded = QTest::qWaitFor([&] {
            const unsigned long parent = m_x->parentOf(id);
            return parent != 0 && parent != m_x->rootWindow();
        });
        return embedded ? id : 0;
    }

private slots:
    void initTestCase()
    {
        m_x = std::make_unique<testsupport::X11Client>();
        QVERIFY2(m_x->isUsable(), "the X server offers no XTEST");
        m_host = std::make_unique<testsupport::TrayHost>();
        if (!m_host->start()) {
            if (testsupport::runningInCi())
                QFAIL(qPrintable("trayer did not start: " + m_host->errorString()));
            QSKIP("needs trayer (Debian package trayer)");
        }
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 20000);
    }
    void cleanupTestCase()
    {
        m_host.reset();
        m_x.reset();
    }

    void placedIconIsEmbeddedAndRemovedIconLeaves()
    {
        CvSysTrayControl tray;
        const unsigned long window = placeAndWaitForEmbedding(tray);
        QVERIFY(window);
        const unsigned long socket = m_x->parentOf(window);
        QVERIFY(socket != m_x->rootWindow());
        QCOMPARE(trayWindow()->toolTip(), QStringLiteral("Mailvane"));

        // A second add for the same icon is refused, as the shell does.
        tray.PlaceInTray();
        const auto windows = QApplication::topLevelWidgets();
        QCOMPARE(
            std::count_if(windows.begin(), windows.end(),
                          [](QWidget *w) { return w->objectName() == QLatin1String("QSystemTrayIconSys"); }),
            1);

        tray.RemoveFromTray();
        QVERIFY(!trayWindow());
        QTRY_VERIFY(!m_x->exists(window));
        // The host drops the place it had made for the icon.
        QTRY_VERIFY(!m_x->exists(socket));
    }

    void destroyingTheControlTakesTheIconAway()
    {
        auto tray = std::make_unique<CvSysTrayControl>();
        const unsigned long window = placeAndWaitForEmbedding(*tray);
        QVERIFY(window);
        const unsigned long socket = m_x->parentOf(window);
        tray.reset();
        QVERIFY(!trayWindow());
        QTRY_VERIFY(!m_x->exists(socket));
    }

    void clicksOnTheIconRaiseEvents_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<QList<int>>("doubleClicks");

        QTest::newRow("left click") << 1 << 1 << QList<int>{1} << QList<int>{};
        QTest::newRow("right click") << 3 << 1 << QList<int>{2} << QList<int>{};
        QTest::newRow("left double-click") << 1 << 2 << QList<int>{1} << QList<int>{1};
    }
    void clicksOnTheIconRaiseEvents()
    {
        QFETCH(int, button);
        QFETCH(int, count);
        CvSysTrayControl tray;
        QSignalSpy clickSpy(&tray, &CvSysTrayControl::TrayClick);
        QSignalSpy doubleClickSpy(&tray, &CvSysTrayControl::TrayDoubleClick);
        const unsigned long window = placeAndWaitForEmbedding(tray);
        QVERIFY(window);

        // The host may still be laying out its icons: point at the icon until Qt sees the pointer on it.
        QTRY_VERIFY((m_x->movePointer(m_x->screenGeometry(window).center()), trayWindow()->underMouse()));
        m_x->click(button, count);

        QFETCH(QList<int>, clicks);
        QFETCH(QList<int>, doubleClicks);
        QTRY_COMPARE(buttons(doubleClickSpy), doubleClicks);
        QTRY_COMPARE(buttons(clickSpy), clicks);
    }
};

MAILVANE_XVFB_TEST_MAIN(TestTrayX11)
#include "tst_tray_x11.moc"
