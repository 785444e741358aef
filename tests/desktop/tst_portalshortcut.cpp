// The hot key through the desktop portal's GlobalShortcuts, against a portal stand-in on a private
// session bus: the session is created and the shortcut bound once, Activated raises the event.
#include "Beeper.h"
#include "HotKeyCtrl.h"
#include "PortalGlobalShortcut.h"
#include "PrivateSessionBus.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QSignalSpy>
#include <QtTest>

using namespace wrenkit;

namespace
{
const QString PortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString PortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString SessionPath = QStringLiteral("/org/freedesktop/portal/desktop/session/1_0/mailvane");
} // namespace

// One entry of BindShortcuts' a(sa{sv}).
struct Shortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument &operator<<(QDBusArgument &argument, const Shortcut &shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, Shortcut &shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

Q_DECLARE_METATYPE(Shortcut)

// org.freedesktop.portal.GlobalShortcuts as far as Mailvane uses it. Each request answers with its
// Response on the request object the caller's token names.
class PortalStandIn : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")
    Q_PROPERTY(uint version READ version)
public:
    explicit PortalStandIn(QDBusConnection bus) : m_bus(bus)
    {
        qDBusRegisterMetaType<Shortcut>();
        qDBusRegisterMetaType<QList<Shortcut>>();
    }
    uint version() const { return 1; }
    int sessions = 0;
    QStringList boundTriggers;
    uint bindAnswer = 0; // 0 bound, 1 the user declined

    void activate(const QString &shortcutId)
    {
        QDBusMessage signal = QDBusMessage::createSignal(PortalPath, "org.freedesktop.portal.GlobalShortcuts", "Activated");
        signal << QVariant::fromValue(QDBusObjectPath(SessionPath)) << shortcutId << qulonglong(1) << QVariantMap();
        m_bus.send(signal);
    }

public slots:
    QDBusObjectPath CreateSession(const QVariantMap &options)
    {
        ++sessions;
        return respond(options, 0, {{"session_handle", SessionPath}});
    }
    QDBusObjectPath BindShortcuts(const QDBusObjectPath &, const QList<Shortcut> &shortcuts, const QString &,
                                  const QVariantMap &options)
    {
        for (const Shortcut &shortcut : shortcuts)
            boundTriggers << shortcut.properties.value("preferred_trigger").toString();
        return respond(options, bindAnswer, {});
    }

private:
    QDBusObjectPath respond(const QVariantMap &options, uint response, const QVariantMap &results)
    {
        QString sender = message().service().mid(1);
        sender.replace('.', '_');
        const QString path = "/org/freedesktop/portal/desktop/request/" + sender + "/" +
                             options.value("handle_token").toString();
        QTimer::singleShot(0, this, [this, path, response, results] {
            QDBusMessage signal = QDBusMessage::createSignal(path, "org.freedesktop.portal.Request", "Response");
            signal << response << results;
            m_bus.send(signal);
        });
        return QDBusObjectPath(path);
    }
    QDBusConnection m_bus;
};

class TestPortalShortcut : public QObject
{
    Q_OBJECT
private slots:
    void triggerText_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifier");
        QTest::addColumn<QString>("text");
        QTest::newRow("F1") << 112 << 0 << "F1";
        QTest::newRow("Shift F5") << 116 << 16 << "SHIFT+F5";
        QTest::newRow("Control F9") << 120 << 17 << "CTRL+F9";
        QTest::newRow("Alt F12") << 123 << 18 << "ALT+F12";
    }
    void triggerText()
    {
        QFETCH(int, key);
        QFETCH(int, modifier);
        QTEST(PortalGlobalShortcut::triggerText(key, modifier), "text");
    }

    void shortcutBoundOnceAndActivatedRaisesTheEvent()
    {
        testsupport::PrivateSessionBus bus;
        QVERIFY2(bus.isValid(), qPrintable(bus.error()));
        QDBusConnection portalBus = bus.connect("portal");
        PortalStandIn portal(portalBus);
        QVERIFY(portalBus.registerObject(PortalPath, &portal,
                                         QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
        QVERIFY(portalBus.registerService(PortalService));

        HotKeyCtrl ctrl(std::make_unique<PortalGlobalShortcut>(bus.connect("mailvane")), std::make_unique<NullBeeper>());
        ctrl.setHotKey(123);
        ctrl.setModifier(18);
        ctrl.setEnabled(true);
        QTRY_COMPARE(ctrl.state(), HotKeySource::State::Listening);
        QCOMPARE(portal.sessions, 1);
        QCOMPARE(portal.boundTriggers, QStringList{"ALT+F12"});

        QSignalSpy pressed(&ctrl, &HotKeyCtrl::HotKeyPressed);
        portal.activate("show-list");
        QVERIFY(pressed.wait(5000));
        portal.activate("something-else");
        portal.activate("show-list");
        QTRY_COMPARE(pressed.size(), 2);

        // The host re-arms every minute: nothing is bound again.
        ctrl.setEnabled(true);
        QCoreApplication::processEvents();
        QCOMPARE(portal.boundTriggers.size(), 1);

        // Switched off, an activation does nothing.
        ctrl.setEnabled(false);
        QTRY_COMPARE(ctrl.state(), HotKeySource::State::Idle);
        const int wakeUps = ctrl.wakeUps();
        portal.activate("show-list");
        QTRY_VERIFY(ctrl.wakeUps() > wakeUps);
        ctrl.setEnabled(true);
        QTRY_COMPARE(ctrl.state(), HotKeySource::State::Listening);
        portal.activate("show-list");
        QTRY_COMPARE(pressed.size(), 3);
    }

    // The user declined in the desktop's dialog: the control says the desktop refused, and the
    // minute's re-arming does not ask again.
    void declinedShortcutIsNotAskedForAgain()
    {
        testsupport::PrivateSessionBus bus;
        QVERIFY2(bus.isValid(), qPrintable(bus.error()));
        QDBusConnection portalBus = bus.connect("portal");
        PortalStandIn portal(portalBus);
        portal.bindAnswer = 1;
        QVERIFY(portalBus.registerObject(PortalPath, &portal,
                                         QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
        QVERIFY(portalBus.registerService(PortalService));

        HotKeyCtrl ctrl(std::make_unique<PortalGlobalShortcut>(bus.connect("mailvane")), std::make_unique<NullBeeper>());
        ctrl.setHotKey(123);
        ctrl.setEnabled(true);
        QTRY_COMPARE(ctrl.state(), HotKeySource::State::Failed);
        ctrl.setEnabled(true);
        QCoreApplication::processEvents();
        QCOMPARE(portal.boundTriggers.size(), 1);
        QVERIFY(ctrl.isAvailable());
    }

    // A portal without GlobalShortcuts: the hot key is unavailable.
    void portalWithoutTheInterfaceIsUnavailable()
    {
        testsupport::PrivateSessionBus bus;
        QVERIFY2(bus.isValid(), qPrintable(bus.error()));
        HotKeyCtrl ctrl(std::make_unique<PortalGlobalShortcut>(bus.connect("mailvane")), std::make_unique<NullBeeper>());
        ctrl.setHotKey(123);
        ctrl.setEnabled(true);
        QTRY_VERIFY(!ctrl.isAvailable());
        QCOMPARE(ctrl.state(), HotKeySource::State::Unavailable);
    }
};

QTEST_GUILESS_MAIN(TestPortalShortcut)
#include "tst_portalshortcut.moc"
