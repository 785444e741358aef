// The desktop notification of a check, against a stand-in notification service on a private bus.
#include "CheckHarness.h"
#include "PrivateSessionBus.h"
#include "ScriptedPop3Server.h"
#include "platform/DesktopNotifier.h"

#include <QDBusConnection>
#include <QtTest>

using namespace testsupport;

namespace
{
const QString NotificationService = QStringLiteral("org.freedesktop.Notifications");
const QString NotificationPath = QStringLiteral("/org/freedesktop/Notifications");

QByteArray top(const QByteArray &headers)
{
    return "+OK\r\n" + headers + "\r\nbody\r\n.\r\n";
}
} // namespace

// Records every notification it is asked to show.
class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString appName;
        uint replacesId;
        QString summary;
        QString body;
        QStringList actions;
    };
    QList<Call> calls;
    QStringList capabilities{QStringLiteral("body"), QStringLiteral("actions")};

public slots:
    QStringList GetCapabilities() { return capabilities; }
    uint Notify(const QString &appName, uint replacesId, const QString &, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &, int)
    {
        calls << Call{appName, replacesId, summary, body, actions};
        return replacesId != 0 ? replacesId : ++m_lastId;
    }

signals:
    void ActionInvoked(uint id, const QString &actionKey);
    void NotificationClosed(uint id, uint reason);

private:
    uint m_lastId = 41;
};

class TestCheckNotification : public QObject
{
    Q_OBJECT
private slots:
    void notificationPerCheckReplacedAndClicked();
    void markupServiceGetsEscapedBody();
};

void TestCheckNotification::notificationPerCheckReplacedAndClicked()
{
    PrivateSessionBus bus;
    QVERIFY2(bus.isValid(), qPrintable(bus.error()));
    FakeNotifications service;
    QDBusConnection serviceBus = bus.connect("service");
    QVERIFY(serviceBus.registerObject(NotificationPath, &service,
                                      QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
    QVERIFY(serviceBus.registerService(NotificationService));
    FreedesktopNotifier notifier(bus.connect("client"));

    CheckHarness h(20, &notifier);
    ScriptedPop3Server server;
    server.login({100, 200});
    server.expect("TOP 1 1").send(top("From: =?UTF-8?Q?J=C3=B6rg?= <jorg@example.org>\r\n"
                                      "Subject: =?ISO-8859-1?Q?Gr=FC=DFe?=\r\n"));
    server.expect("TOP 2 1")
        .send(top("From: Ann <ann@example.org>\r\nSubject: Lunch\r\n"))
        .expect("QUIT")
        .send("+OK\r\n");
    server.nextConnection().login({300}).expect("TOP 1 1").send(top("From: Bob\r\nSubject: Later\r\n"));
    server.expect("QUIT").send("+OK\r\n");
    h.addAccount("only", "user", "secret", server.port());
    POPConfig &config = h.loadConfig();
    config.setPlay(0);
    config.setShowList(0);
    QCOMPARE(config.Popup(), 1);
    QSignalSpy showList(&h.cycle, &CheckCycle::showListRequested);

    h.cycle.CheckMail();
    QTRY_COMPARE(service.calls.size(), 1);
    QCOMPARE(service.calls[0].appName, QString("Mailvane"));
    QCOMPARE(service.calls[0].replacesId, 0u);
    QCOMPARE(service.calls[0].summary, QString("2 new message(s)"));
    QCOMPARE(service.calls[0].body, u"Jörg <jorg@example.org>: Grüße\nAnn <ann@example.org>: Lunch"_qs);
    QVERIFY(service.calls[0].actions.contains("default"));

    // The next check's notification takes the place of the first.
    h.cycle.CheckMail();
    QTRY_COMPARE(service.calls.size(), 2);
    QCOMPARE(service.calls[1].replacesId, 42u);
    QCOMPARE(service.calls[1].summary, QString("1 new message(s)"));
    QCOMPARE(service.calls[1].body, QString("Bob: Later"));
    QVERIFY2(server.unexpected().isEmpty(), server.unexpected());

    // Silenced by "No Notification" and by the setting itself; the call after them is the only one
    // that arrives (the bus keeps the order of calls).
    config.setNoNotify(1);
    h.cycle.NotifyNewMail();
    config.setNoNotify(0);
    config.setPopup(0);
    h.cycle.NotifyNewMail();
    config.setPopup(1);
    h.cycle.NotifyNewMail();
    QTRY_COMPARE(service.calls.size(), 3);
    QCOMPARE(service.calls[2].summary, QString("1 new message(s)"));
    QVERIFY(!h.status.isWindowVisible());

    // Clicking an older notification does nothing; clicking the current one shows the list.
    emit service.ActionInvoked(7, "default");
    emit service.ActionInvoked(42, "default");
    QTRY_COMPARE(showList.size(), 1);
    QVERIFY(h.status.isWindowVisible());
}

void TestCheckNotification::markupServiceGetsEscapedBody()
{
    PrivateSessionBus bus;
    QVERIFY2(bus.isValid(), qPrintable(bus.error()));
    FakeNotifications service;
    service.capabilities << "body-markup";
    QDBusConnection serviceBus = bus.connect("service");
    QVERIFY(serviceBus.registerObject(NotificationPath, &service, QDBusConnection::ExportAllSlots));
    QVERIFY(serviceBus.registerService(NotificationService));
    FreedesktopNotifier notifier(bus.connect("client"));

    notifier.notify("1 new message(s)", "Ann <ann@example.org>: Fish & chips");
    QTRY_COMPARE(service.calls.size(), 1);
    QCOMPARE(service.calls[0].body, QString("Ann &lt;ann@example.org&gt;: Fish &amp; chips"));
}

QTEST_GUILESS_MAIN(TestCheckNotification)
#include "tst_checknotification.moc"
