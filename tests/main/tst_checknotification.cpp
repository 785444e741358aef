// The desktop notification of a check, against a stand-in notification service on a private bus.
#include "CheckHarness.h"
#include "NotificationStandIn.h"
#include "PrivateSessionBus.h"
#include "ScriptedPop3Server.h"
#include "platform/DesktopNotifier.h"

#include <QDBusConnection>
#include <QGuiApplication>
#include <QtTest>

using namespace testsupport;

namespace
{
const QString NotificationService = NotificationStandIn::Service;
const QString NotificationPath = NotificationStandIn::Path;

QByteArray top(const QByteArray &headers)
{
    return "+OK\r\n" + headers + "\r\nbody\r\n.\r\n";
}
} // namespace

using FakeNotifications = NotificationStandIn;

class TestCheckNotification : public QObject
{
    Q_OBJECT
private slots:
    void notificationPerCheckReplacedAndClicked();
    void markupServiceGetsEscapedBody();
    void buttonsOnlyWhereTheServiceShowsThem_data();
    void buttonsOnlyWhereTheServiceShowsThem();
    void entryAndCategoryHints();
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

void TestCheckNotification::buttonsOnlyWhereTheServiceShowsThem_data()
{
    QTest::addColumn<bool>("actionsCapability");
    QTest::addColumn<int>("messages");
    QTest::addColumn<QStringList>("keys");

    const QStringList one{"default", "delete", "block-sender", "open-mail-client"};
    const QStringList several{"default", "show-list", "open-mail-client"};
    QTest::newRow("one message") << true << 1 << one;
    QTest::newRow("several messages") << true << 3 << several;
    QTest::newRow("one message, no buttons on this desktop") << false << 1 << QStringList{"default"};
}

void TestCheckNotification::buttonsOnlyWhereTheServiceShowsThem()
{
    QFETCH(bool, actionsCapability);
    QFETCH(int, messages);
    PrivateSessionBus bus;
    QVERIFY2(bus.isValid(), qPrintable(bus.error()));
    NotificationStandIn service;
    if (!actionsCapability)
        service.capabilities.removeAll("actions");
    QVERIFY(service.offerOn(bus.connect("service")));
    FreedesktopNotifier notifier(bus.connect("client"));
    QSignalSpy invoked(&notifier, &DesktopNotifier::actionInvoked);

    CheckHarness h(20, &notifier);
    ScriptedPop3Server server;
    QList<int> sizes(messages, 100);
    server.login(sizes);
    for (int j = 1; j <= messages; ++j)
        server.expect("TOP " + QByteArray::number(j) + " 1").send(top("From: Ann\r\nSubject: Hi\r\n"));
    server.expect("QUIT").send("+OK\r\n");
    h.addAccount("only", "user", "secret", server.port());
    POPConfig &config = h.loadConfig();
    config.setPlay(0);
    config.setShowList(0);
    QSignalSpy notified(&h.cycle, &CheckCycle::desktopNotified);
    h.cycle.CheckMail();
    QTRY_COMPARE(service.calls.size(), 1);
    QTEST(NotificationStandIn::actionKeys(service.calls[0]), "keys");
    QCOMPARE(notified.size(), 1);
    QCOMPARE(notified[0][0].value<QList<ListedMessage>>().size(), messages);

    // A button the notification does not have, or one of an older notification, is not passed on.
    const QStringList keys = NotificationStandIn::actionKeys(service.calls[0]);
    service.invoke("nonsense");
    emit service.ActionInvoked(7, keys.last());
    service.invoke(keys.last());
    if (keys.size() > 1) {
        QVERIFY(invoked.wait(5000));
        QCOMPARE(invoked.size(), 1);
        QCOMPARE(invoked[0][0].toString(), keys.last());
    }
}

// The desktop finds the program's name and icon through its desktop entry.
void TestCheckNotification::entryAndCategoryHints()
{
    PrivateSessionBus bus;
    QVERIFY2(bus.isValid(), qPrintable(bus.error()));
    NotificationStandIn service;
    QVERIFY(service.offerOn(bus.connect("service")));
    FreedesktopNotifier notifier(bus.connect("client"));
    const QString before = QGuiApplication::desktopFileName();
    QGuiApplication::setDesktopFileName("org.example.Checker");
    notifier.notify("1 new message(s)", "Ann: Hi");
    QTRY_COMPARE(service.calls.size(), 1);
    QGuiApplication::setDesktopFileName(before);
    QCOMPARE(service.calls[0].hints.value("desktop-entry").toString(), QString("org.example.Checker"));
    QCOMPARE(service.calls[0].hints.value("category").toString(), QString("email.arrived"));
}

QTEST_MAIN(TestCheckNotification)
#include "tst_checknotification.moc"
