// Checks after sleep and network changes: a logind stand-in on a private bus, a network stand-in,
// a wall clock the test moves, and a scripted POP3 server.
#include "CheckHarness.h"
#include "PrivateSessionBus.h"
#include "ScriptedPop3Server.h"
#include "main/RecheckScheduler.h"
#include "platform/SystemEvents.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QtTest>

using namespace testsupport;

namespace
{
QByteArray top(const QByteArray &headers)
{
    return "+OK\r\n" + headers + "\r\nbody\r\n.\r\n";
}

// systemd-logind as far as sleep goes: owns its name and announces PrepareForSleep.
class LogindStandIn
{
public:
    explicit LogindStandIn(PrivateSessionBus &bus) : m_bus(bus.connect(QStringLiteral("logind")))
    {
        m_registered = m_bus.registerService(QStringLiteral("org.freedesktop.login1"));
    }
    bool isValid() const { return m_registered; }
    void prepareForSleep(bool sleeping)
    {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                         QStringLiteral("org.freedesktop.login1.Manager"),
                                                         QStringLiteral("PrepareForSleep"));
        signal << sleeping;
        m_bus.send(signal);
    }

private:
    QDBusConnection m_bus;
    bool m_registered = false;
};

class NetworkStandIn : public NetworkMonitor
{
public:
    void goDown() { emit unreachable(); }
    void comeBack() { emit reachableAgain(); }
};

constexpr qint64 Minute = 60000;

// The check cycle with a scheduler on a moved clock: 50 ms of settling, one check a minute.
struct RecheckRig {
    CheckHarness h{20};
    QDateTime clock = QDateTime(QDate(2026, 3, 1), QTime(8, 0), Qt::UTC);
    bool configOpen = false;
    RecheckScheduler scheduler{h.cycle, [this] { return configOpen; },
                               RecheckOptions{50, int(Minute), int(Minute), [this] { return clock; }}};
    QList<bool> handled; // triggerHandled, in order

    RecheckRig()
    {
        QObject::connect(&scheduler, &RecheckScheduler::triggerHandled, [this](bool checking) { handled << checking; });
    }
    void advance(qint64 ms) { clock = clock.addMSecs(ms); }
};
} // namespace

class TestRecheck : public QObject
{
    Q_OBJECT
private slots:
    // logind announces sleep during a check: the check ends without QUIT, so the DELE sent counts
    // for nothing; on waking one check follows after the settling delay, and a second wake-up and
    // the network's return within the minute bring none.
    void sleepEndsTheCheckAndWakingChecksOnce()
    {
        PrivateSessionBus bus;
        QVERIFY2(bus.isValid(), qPrintable(bus.error()));
        LogindStandIn logind(bus);
        QVERIFY(logind.isValid());
        LogindSleepMonitor sleep(bus.connect(QStringLiteral("mailvane")));
        NetworkStandIn network;
        RecheckRig rig;
        rig.scheduler.watch(&sleep, &network);

        ScriptedPop3Server server;
        server.login({100, 200});
        server.expect("TOP 1 1").send(top("From: spam@example.org\r\nSubject: Offer\r\n"));
        server.expect("DELE 1").send("+OK\r\n");
        server.expect("TOP 2 1"); // no answer: the machine goes to sleep meanwhile
        server.nextConnection().login({200}).expect("TOP 1 1").send(top("From: Ann\r\nSubject: Hi\r\n"));
        server.expect("QUIT").send("+OK\r\n");
        rig.h.addAccount("only", "user", "secret", server.port());
        POPConfig &config = rig.h.loadConfig();
        config.AddBlockedSender("spam@example.org");
        config.setPlay(0);
        config.setShowList(0);
        connect(&server, &ScriptedPop3Server::commandReceived, this, [&](const QByteArray &line) {
            if (line == "TOP 2 1")
                logind.prepareForSleep(true);
        });

        rig.h.cycle.CheckMail();
        QCOMPARE(rig.h.finished, QList<bool>{false});
        QVERIFY(!rig.h.cycle.Busy());
        QCOMPARE(rig.h.status.panel(2), QString("Check ended: the computer is going to sleep"));
        QCOMPARE(rig.h.rejected.size(), 1);
        QVERIFY(!rig.h.rejected[0].deleted);
        QVERIFY(!server.received().contains("QUIT"));
        QCOMPARE(rig.h.list.rowCount(), 0);

        logind.prepareForSleep(false);
        QTRY_COMPARE(rig.h.finished, (QList<bool>{false, true}));
        QCOMPARE(rig.handled, QList<bool>{true});
        QCOMPARE(rig.h.keys(), QStringList{"A0 M1"});
        QVERIFY2(server.unexpected().isEmpty(), server.unexpected());

        // Within the minute: neither another wake-up nor the network's return checks again.
        logind.prepareForSleep(false);
        network.goDown();
        network.comeBack();
        QTRY_COMPARE(rig.handled, (QList<bool>{true, false}));
        QCOMPARE(rig.h.finished.size(), 2);
        QCOMPARE(server.connectionCount(), 2);
    }

    void networkReturnChecksWhenACheckWasDueOrMissed_data()
    {
        QTest::addColumn<qint64>("away");     // wall-clock time since the last check
        QTest::addColumn<bool>("missed");     // the timer could not check for want of a connection
        QTest::addColumn<bool>("configOpen"); // the configuration dialog is open
        QTest::addColumn<bool>("checkOn");    // automatic checking
        QTest::addColumn<bool>("checks");

        QTest::newRow("nothing due") << 3 * Minute << false << false << true << false;
        QTest::newRow("due while away") << 11 * Minute << false << false << true << true;
        QTest::newRow("missed for want of a connection") << 3 * Minute << true << false << true << true;
        QTest::newRow("configuration dialog open") << 11 * Minute << true << true << true << false;
        QTest::newRow("automatic checking off") << 11 * Minute << true << false << false << false;
    }
    void networkReturnChecksWhenACheckWasDueOrMissed()
    {
        QFETCH(qint64, away);
        QFETCH(bool, missed);
        QFETCH(bool, configOpen);
        QFETCH(bool, checkOn);
        QFETCH(bool, checks);

        NetworkStandIn network;
        RecheckRig rig;
        rig.scheduler.watch(nullptr, &network);
        ScriptedPop3Server server;
        server.login({}).expect("QUIT").send("+OK\r\n");
        rig.h.addAccount("only", "user", "secret", server.port());
        POPConfig &config = rig.h.loadConfig();
        config.setInterval(10);
        config.setCheck(checkOn);
        rig.configOpen = configOpen;

        network.goDown();
        rig.advance(away);
        if (missed)
            rig.scheduler.noteCheckMissed();
        network.comeBack();
        QVERIFY(rig.scheduler.isSettling());
        QTRY_COMPARE(rig.handled.size(), 1);
        QCOMPARE(rig.handled[0], checks);
        if (checks)
            QTRY_COMPARE(rig.h.finished, QList<bool>{true});
        QCOMPARE(server.connectionCount(), checks ? 1 : 0);
    }

    // No connection when the wake-up's check would start, and the user does not let Mailvane dial:
    // nothing runs, and the network's return then brings the check.
    void wakeWithoutConnectionWaitsForTheNetwork()
    {
        NetworkStandIn network;
        SleepMonitor sleep;
        RecheckRig rig;
        rig.scheduler.watch(&sleep, &network);
        ScriptedPop3Server server;
        server.login({}).expect("QUIT").send("+OK\r\n");
        rig.h.addAccount("only", "user", "secret", server.port());
        rig.h.loadConfig().setInterval(10);
        rig.h.connectivity.connected = false;

        rig.advance(20 * Minute);
        emit sleep.resumed();
        QTRY_COMPARE(rig.handled, QList<bool>{false});
        rig.h.connectivity.connected = true;
        rig.advance(2 * Minute);
        network.comeBack();
        QTRY_COMPARE(rig.h.finished, QList<bool>{true});
        QCOMPARE(rig.handled, (QList<bool>{false, true}));
    }

    void minutesMissedAtTickCountTheWallClock_data()
    {
        QTest::addColumn<qint64>("gap");
        QTest::addColumn<int>("missed");

        QTest::newRow("one tick") << Minute << 0;
        QTest::newRow("a late tick") << Minute * 3 / 2 << 0;
        QTest::newRow("slept 20 minutes") << 21 * Minute << 20;
        QTest::newRow("clock set back") << -5 * Minute << 0;
    }
    void minutesMissedAtTickCountTheWallClock()
    {
        QFETCH(qint64, gap);
        RecheckRig rig;
        rig.advance(Minute);
        QCOMPARE(rig.scheduler.minutesMissedAtTick(), 0);
        rig.advance(gap);
        QTEST(rig.scheduler.minutesMissedAtTick(), "missed");
    }
};

QTEST_GUILESS_MAIN(TestRecheck)
#include "tst_recheck.moc"
