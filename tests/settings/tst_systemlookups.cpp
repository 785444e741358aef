#include "TempStore.h"
#include "TestSupport.h"

#include "platform/MailClientView.h"
#include "platform/NetworkConnectionNames.h"

#include <QFile>
#include <QTest>

using testsupport::TempStore;

namespace
{
QStringList fixtureDataDirs()
{
    const QString data = testsupport::sourceDir() + QStringLiteral("/tests/settings/data/");
    return {data + QStringLiteral("xdg-home"), data + QStringLiteral("xdg-system")};
}

RegistryKey storedMailKey(RegistryStore &store)
{
    return store.open(QStringLiteral("HKEY_LOCAL_MACHINE\\Software"))
        .addSubKey(QStringLiteral("Clients"))
        .addSubKey(QStringLiteral("Mail"));
}

void mountFixtureClients(RegistryStore &store)
{
    store.mount(RegistryStore::Root::LocalMachine, QStringLiteral("Software\\Clients\\Mail"),
                [] { return mailClientsView(findMailClients(fixtureDataDirs())); });
}
} // namespace

class TestSystemLookups : public QObject
{
    Q_OBJECT

private slots:
    void mailClientsFromDesktopEntries();
    void storedClientKeysReadAsTheyStand_data();
    void storedClientKeysReadAsTheyStand();
    void stripFieldCodes_data();
    void stripFieldCodes();
    void connectionNames();
    void noNetworkManagerMeansNoConnections();
    void autostartEntryFollowsLoadOnStartup();
    void autostartExecIsQuoted();
};

void TestSystemLookups::mailClientsFromDesktopEntries()
{
    TempStore temp;
    mountFixtureClients(temp.store());
    POPConfig config(temp.services());
    QCOMPARE(config.NumberOfClients(), 3);
    QCOMPARE(config.ClientName(0), QStringLiteral("Claws Mail"));
    QCOMPARE(config.ClientCommand(0), QStringLiteral("claws-mail --compose"));
    QCOMPARE(config.ClientName(1), QStringLiteral("evolution"));
    QCOMPARE(config.ClientCommand(1), QStringLiteral("\"/usr/bin/evolution\" --component=mail 100%"));
    QCOMPARE(config.ClientName(2), QStringLiteral("Thunderbird (mine)"));
    QCOMPARE(config.ClientCommand(2), QStringLiteral("/opt/thunderbird/thunderbird -compose"));
    QCOMPARE(config.ClientName(3), QString());
    QCOMPARE(config.ClientCommand(-1), QString());
    QCOMPARE(config.SelectedClient(), QStringLiteral("Claws Mail"));
}

void TestSystemLookups::storedClientKeysReadAsTheyStand_data()
{
    QTest::addColumn<QString>("client");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("command");
    const QString netscape = QStringLiteral("\"C:\\Program Files\\Netscape\\netscape.exe\" \"%1\"");
    QTest::newRow("Netscape Messenger: mailto command with -mail")
        << "Netscape Messenger"
        << "Protocols\\mailto\\shell\\open\\command" << netscape
        << "\"C:\\Program Files\\Netscape\\netscape.exe\" -mail";
    QTest::newRow("Netscape Messenger: short command left as read")
        << "Netscape Messenger"
        << "Protocols\\mailto\\shell\\open\\command"
        << "abc"
        << "abc";
    QTest::newRow("other letter case: an ordinary client") << "netscape messenger"
                                                           << "Shell\\open\\Command" << netscape << netscape;
    QTest::newRow("ordinary client") << "Mutt"
                                     << "Shell\\open\\Command"
                                     << "mutt"
                                     << "mutt";
    QTest::newRow("no command key") << "Mutt"
                                    << "Shell\\open"
                                    << "mutt"
                                    << "";
}

void TestSystemLookups::storedClientKeysReadAsTheyStand()
{
    QFETCH(QString, client);
    QFETCH(QString, path);
    QFETCH(QString, stored);
    QFETCH(QString, command);
    TempStore temp;
    mountFixtureClients(temp.store());
    RegistryKey key = storedMailKey(temp.store()).addSubKey(client);
    for (const QString &name : path.split(QLatin1Char('\\')))
        key = key.addSubKey(name);
    key.addValue(QString(), stored);

    POPConfig config(temp.services());
    QCOMPARE(config.NumberOfClients(), 1);
    QCOMPARE(config.ClientName(0), client);
    QCOMPARE(config.ClientCommand(0), command);
}

void TestSystemLookups::stripFieldCodes_data()
{
    QTest::addColumn<QString>("exec");
    QTest::addColumn<QString>("command");
    QTest::newRow("trailing code") << "mutt %u"
                                   << "mutt";
    QTest::newRow("codes between arguments") << "app %F --x %i"
                                             << "app --x";
    QTest::newRow("percent sign") << "app 50%%"
                                  << "app 50%";
    QTest::newRow("code inside an argument") << "app --to=%u"
                                             << "app --to=";
    QTest::newRow("unknown code kept") << "app %z"
                                       << "app %z";
}

void TestSystemLookups::stripFieldCodes()
{
    QFETCH(QString, exec);
    QFETCH(QString, command);
    QCOMPARE(::stripFieldCodes(exec), command);
}

void TestSystemLookups::connectionNames()
{
    TempStore temp;
    const RegistryKey addresses = temp.store()
                                      .root(RegistryStore::Root::CurrentUser)
                                      .addSubKey(QStringLiteral("RemoteAccess"))
                                      .addSubKey(QStringLiteral("Addresses"));
    addresses.addValue(QStringLiteral("Work VPN"), QStringLiteral("x"));
    addresses.addValue(QStringLiteral("Home DSL"), QStringLiteral("y"));
    POPConfig config(temp.services());
    QCOMPARE(config.NumberOfConnections(), 2);
    QVERIFY(!config.ConnectionNames(0).isValid());
    QCOMPARE(config.ConnectionNames(1), QVariant(QStringLiteral("Work VPN")));
    QCOMPARE(config.ConnectionNames(2), QVariant(QStringLiteral("Home DSL")));
    QVERIFY(!config.ConnectionNames(3).isValid());
}

void TestSystemLookups::noNetworkManagerMeansNoConnections()
{
    const QDBusConnection noBus =
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("none"));
    QVERIFY(networkManagerConnectionNames(noBus).isEmpty());

    TempStore temp;
    temp.store().mount(RegistryStore::Root::CurrentUser, QStringLiteral("RemoteAccess\\Addresses"),
                       [&] { return connectionNamesView(networkManagerConnectionNames(noBus)); });
    POPConfig config(temp.services());
    QCOMPARE(config.NumberOfConnections(), 0);
    QVERIFY(!config.ConnectionNames(1).isValid());
}

void TestSystemLookups::autostartEntryFollowsLoadOnStartup()
{
    TempStore temp;
    const QString program = QStringLiteral("/opt/My Apps/mailvane");
    XdgAutostartEntry entry(program, temp.dir() + QStringLiteral("/autostart"));
    POPConfig config(SettingsServices{temp.store(), temp.prompter, entry});
    QFile file(temp.dir() + QStringLiteral("/autostart/Mailvane.desktop"));

    config.SaveConfig();
    QVERIFY(!file.exists());
    config.setLoadOnStartup(true);
    QVERIFY(!file.exists());
    config.SaveConfig();
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()),
             QStringLiteral("[Desktop Entry]\nType=Application\nName=Mailvane\nComment=Mailvane 1.0\n"
                            "Exec=\"/opt/My Apps/mailvane\"\nIcon=/opt/My Apps/mailvane\nTerminal=false\n"));
    file.close();
    QVERIFY(POPConfig(temp.services()).LoadOnStartup());

    config.setLoadOnStartup(false);
    config.SaveConfig();
    QVERIFY(!file.exists());
}

void TestSystemLookups::autostartExecIsQuoted()
{
    const QString text = XdgAutostartEntry::contents(QStringLiteral("/a \"b\"/$c\\d/100%"));
    QVERIFY2(text.contains(QStringLiteral("\nExec=\"/a \\\\\"b\\\\\"/\\\\$c\\\\\\\\d/100%%\"\n")),
             qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("\nIcon=/a \"b\"/$c\\\\d/100%\n")), qPrintable(text));
}

QTEST_GUILESS_MAIN(TestSystemLookups)
#include "tst_systemlookups.moc"
