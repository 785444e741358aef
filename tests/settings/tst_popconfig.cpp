#include "TempStore.h"

#include <QTest>

using testsupport::TempStore;

namespace
{
const QString kSettings = QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Corvanta\\Mailvane 1.0");

RegistryKey settings(TempStore &temp)
{
    return temp.store().open(kSettings);
}
RegistryKey account(TempStore &temp, const QString &name)
{
    return settings(temp).subKey(QStringLiteral("Accounts\\") + name);
}
QStringList valueNames(const RegistryKey &key)
{
    QStringList names;
    for (const RegValue &v : key.values())
        names.append(v.name);
    return names;
}
} // namespace

class TestPOPConfig : public QObject
{
    Q_OBJECT

private slots:
    void firstStartWritesDefaults_data();
    void firstStartWritesDefaults();
    void missingSelectedClientRestoresOnlyMissingValues();
    void valueDeletedByHandStaysDeleted();
    void popupIsAddedWhenMissing();
    void setterRanges_data();
    void setterRanges();
    void storedValuesLoadAsTheyAre();
    void listChangeReloadsAndDropsUnsavedSetters();
    void saveConfigWritesMembersBack();
    void accounts();
    void addAccountRefusesNamesThatCannotBeKeys();
    void accountMissingPasswordLoadsEmpty();
    void passwordRoundTrip_data();
    void passwordRoundTrip();
    void port_data();
    void port();
    void addAccountWithPort();
    void editAccount_data();
    void editAccount();
    void accountFieldsCarrySecurity();
    void security_data();
    void security();
    void setSecurityWritesAtOnce();
    void oauthSettingsAndRefreshToken();
    void trustedCertificate_data();
    void trustedCertificate();
    void setTrustedCertificateKeepsOneForm();
    void acctSelWritesEvenWhenStoreLostTheValue();
    void senderIsBlocked_data();
    void senderIsBlocked();
    void blockedSenderList();
};

void TestPOPConfig::firstStartWritesDefaults_data()
{
    QTest::addColumn<QStringList>("clients");
    QTest::addColumn<QString>("selected");
    QTest::newRow("with clients") << QStringList{"Zeta Mail", "alpha mail", "Beta"} << "alpha mail";
    QTest::newRow("without clients") << QStringList{} << "";
}

void TestPOPConfig::firstStartWritesDefaults()
{
    QFETCH(QStringList, clients);
    QFETCH(QString, selected);
    TempStore temp;
    const RegistryKey mail = temp.store()
                                 .open(QStringLiteral("HKEY_LOCAL_MACHINE\\Software"))
                                 .addSubKey(QStringLiteral("Clients"))
                                 .addSubKey(QStringLiteral("Mail"));
    for (const QString &client : clients)
        mail.addSubKey(client);

    POPConfig config(temp.services());
    const RegistryKey key = settings(temp);
    QVERIFY(key.subKey(QStringLiteral("Accounts")).isValid());
    QVERIFY(key.subKey(QStringLiteral("Blocked Senders")).isValid());
    QCOMPARE(
        valueNames(key),
        QString(
            "Check Connect Beep Play Show NoNotify Interval MinStyle LoadOnStart SoundFile Timeout HotKey "
            "Modifier HotKeyEnabled BlockBlankFrom BlockBlankSubject BlockOverSize BlockZeroLength MaxSize "
            "HangUpWhenDone ConnectionToUse SelectedClient Popup UseKeyring")
            .split(' '));
    QCOMPARE(key.value(QStringLiteral("Check"))->data, QVariant::fromValue(0xFFFFFFFFu));
    QCOMPARE(key.value(QStringLiteral("SoundFile"))->type, RegType::String);
    QCOMPARE(config.SelectedClient(), selected);
    QCOMPARE(config.Interval(), 10);
    QCOMPARE(config.Timeout(), 20);
    QCOMPARE(config.HotKey(), 123);
    QCOMPARE(config.Modifier(), 18);
    QCOMPARE(config.MaxMessageSize(), 32);
    QCOMPARE(config.Play(), 1);
    QCOMPARE(config.ShowList(), 1);
    QCOMPARE(config.Beep(), 0);
    QVERIFY(config.Check());
    QVERIFY(config.BlockZeroLength);
    QVERIFY(!config.BlockBlankFrom && !config.Connect() && !config.LoadOnStartup() &&
            !config.HotKeyEnabled() && !config.NotifyNewOnly());
    QCOMPARE(config.NumberOfAccounts(), 0);
    QCOMPARE(config.AccountName(0), QString());
    QVERIFY(temp.prompter.calls.isEmpty());
}

void TestPOPConfig::missingSelectedClientRestoresOnlyMissingValues()
{
    TempStore temp;
    POPConfig(temp.services());
    settings(temp).removeValue(QStringLiteral("SelectedClient"));
    settings(temp).removeValue(QStringLiteral("Timeout"));
    settings(temp).overwriteValue(QStringLiteral("Interval"), 42);

    POPConfig config(temp.services());
    QCOMPARE(config.Timeout(), 20);
    QCOMPARE(config.Interval(), 42);
    QVERIFY(settings(temp).value(QStringLiteral("SelectedClient")));
}

void TestPOPConfig::valueDeletedByHandStaysDeleted()
{
    TempStore temp;
    POPConfig(temp.services());
    settings(temp).removeValue(QStringLiteral("Play"));

    POPConfig config(temp.services());
    QCOMPARE(config.Play(), 0);
    config.setPlay(2);
    config.SaveConfig();
    QVERIFY(!settings(temp).value(QStringLiteral("Play")));
}

void TestPOPConfig::popupIsAddedWhenMissing()
{
    TempStore temp;
    POPConfig(temp.services());
    QCOMPARE(settings(temp).value(QStringLiteral("Popup"))->type, RegType::DWord);
    settings(temp).overwriteValue(QStringLiteral("Popup"), 0);
    QCOMPARE(POPConfig(temp.services()).Popup(), 0);

    settings(temp).removeValue(QStringLiteral("Popup"));
    POPConfig config(temp.services());
    QCOMPARE(config.Popup(), 1);
    QCOMPARE(settings(temp).value(QStringLiteral("Popup"))->data.toInt(), 1);
}

void TestPOPConfig::setterRanges_data()
{
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("taken");
    const auto rows = [](const char *property, std::initializer_list<int> taken,
                         std::initializer_list<int> refused) {
        for (int v : taken)
            QTest::addRow("%s %d taken", property, v) << QByteArray(property) << v << true;
        for (int v : refused)
            QTest::addRow("%s %d refused", property, v) << QByteArray(property) << v << false;
    };
    rows("Interval", {1, 999}, {0, 1000, 70001});
    rows("Timeout", {10, 60}, {9, 61});
    rows("HotKey", {112, 123}, {111, 124});
    rows("MaxMessageSize", {1, 9999}, {0, 10000});
    rows("Modifier", {0, 16, 17, 18}, {1, 15, 19});
    for (const char *p : {"MinStyle", "Beep", "Play", "ShowList", "NoNotify"})
        rows(p, {0, 2}, {-1, 3});
    rows("Popup", {0, 1}, {-1, 2});
}

void TestPOPConfig::setterRanges()
{
    QFETCH(QByteArray, property);
    QFETCH(int, value);
    QFETCH(bool, taken);
    TempStore temp;
    POPConfig config(temp.services());
    const QVariant before = config.property(property);
    config.setProperty(property, value);
    QCOMPARE(config.property(property).toInt(), taken ? value : before.toInt());
    QCOMPARE(settings(temp)
                 .value(QString::fromLatin1(property == "MaxMessageSize" ? "MaxSize" : property))
                 .has_value(),
             property != "ShowList");
}

void TestPOPConfig::storedValuesLoadAsTheyAre()
{
    TempStore temp;
    POPConfig(temp.services());
    const RegistryKey key = settings(temp);
    key.overwriteValue(QStringLiteral("Interval"), 5000);
    key.overwriteValue(QStringLiteral("HotKeyEnabled"), 1); // 1, not -1
    key.overwriteValue(QStringLiteral("BlockBlankFrom"), 1);
    key.removeValue(QStringLiteral("Connect"));
    key.addValue(QStringLiteral("Connect"), QStringLiteral("True"));
    key.removeValue(QStringLiteral("Timeout"));
    key.addValue(QStringLiteral("Timeout"), QStringLiteral("soon")); // wrong kind: member keeps its value
    key.overwriteValue(QStringLiteral("HotKey"), 100000);            // beyond 16 bits: does not convert

    POPConfig config(temp.services());
    QCOMPARE(config.Interval(), 5000);
    QVERIFY(config.HotKeyEnabled());
    QVERIFY(config.BlockBlankFrom);
    QVERIFY(config.Connect());
    QCOMPARE(config.Timeout(), 0);
    QCOMPARE(config.HotKey(), 0);
    config.setInterval(1000);
    QCOMPARE(config.Interval(), 5000);
    config.setInterval(15);
    QCOMPARE(config.Interval(), 15);
}

void TestPOPConfig::listChangeReloadsAndDropsUnsavedSetters()
{
    TempStore temp;
    POPConfig config(temp.services());
    config.setInterval(30);
    config.BlockOverSize = true;
    config.AddBlockedSender(QStringLiteral("spam@example.com"));
    QCOMPARE(config.Interval(), 10);
    QVERIFY(!config.BlockOverSize);
}

void TestPOPConfig::saveConfigWritesMembersBack()
{
    TempStore temp;
    {
        POPConfig config(temp.services());
        config.setInterval(45);
        config.setCheck(false);
        config.setHotKeyEnabled(true);
        config.setSoundFile(QStringLiteral("/usr/share/sounds/new mail.wav"));
        config.setSelectedClient(QStringLiteral("Mutt"));
        config.ConnectionToUse = QStringLiteral("Dial-up");
        config.BlockBlankSubject = true;
        config.setNotifyNewOnly(true);
        config.SaveConfig();
    }
    POPConfig config(temp.services());
    QCOMPARE(config.Interval(), 45);
    QVERIFY(!config.Check());
    QVERIFY(config.HotKeyEnabled());
    QCOMPARE(config.SoundFile(), QStringLiteral("/usr/share/sounds/new mail.wav"));
    QCOMPARE(config.SelectedClient(), QStringLiteral("Mutt"));
    QCOMPARE(config.ConnectionToUse, QStringLiteral("Dial-up"));
    QVERIFY(config.BlockBlankSubject);
    QCOMPARE(settings(temp).value(QStringLiteral("HotKeyEnabled"))->data, QVariant::fromValue(0xFFFFFFFFu));
    QVERIFY(config.NotifyNewOnly());
    QCOMPARE(settings(temp).value(QStringLiteral("NotifyNewOnly"))->type, RegType::DWord);
    QCOMPARE(settings(temp).value(QStringLiteral("NotifyNewOnly"))->data, QVariant::fromValue(0xFFFFFFFFu));

    // Known messages are kept per account and go with it.
    config.AddAccount(QStringLiteral("work"), QStringLiteral("h"), QStringLiteral("u"), QStringLiteral("p"));
    config.setKnownMessages(QStringLiteral("work"), {QStringLiteral("a1"), QStringLiteral("b2")});
    QCOMPARE(POPConfig(temp.services()).KnownMessages(QStringLiteral("Work")), (QStringList{"a1", "b2"}));
    QCOMPARE(config.KnownMessages(QStringLiteral("home")), QStringList());
    config.DeleteAccount(QStringLiteral("work"));
    QCOMPARE(config.KnownMessages(QStringLiteral("work")), QStringList());
}

void TestPOPConfig::accounts()
{
    TempStore temp;
    POPConfig config(temp.services());
    config.AddAccount(QStringLiteral("work"), QStringLiteral("pop.work.example"), QStringLiteral("me"),
                      QStringLiteral("abc"));
    config.AddAccount(QStringLiteral("Home"), QStringLiteral("pop.home.example"), QStringLiteral("you"),
                      QStringLiteral("x"));
    QCOMPARE(config.NumberOfAccounts(), 2);
    QCOMPARE(config.AccountName(0), QStringLiteral("Home"));
    QCOMPARE(config.AccountName(1), QStringLiteral("work"));
    QCOMPARE(config.Host(1), QStringLiteral("pop.work.example"));
    QCOMPARE(config.UserName(1), QStringLiteral("me"));
    QCOMPARE(config.Password(1), QStringLiteral("abc"));
    QVERIFY(config.AcctSel(1));
    QCOMPARE(account(temp, QStringLiteral("work")).value(QStringLiteral("Selected"))->data,
             QVariant(QStringLiteral("True")));
    QCOMPARE(account(temp, QStringLiteral("work")).value(QStringLiteral("Password"))->data,
             QVariant(QStringLiteral("cfi")));
    for (int outside : {-1, 2}) {
        QCOMPARE(config.AccountName(outside), QString());
        QCOMPARE(config.Password(outside), QString());
        QVERIFY(!config.AcctSel(outside));
    }

    // The same name again keeps the stored account as it was, the values it lacks included.
    account(temp, QStringLiteral("work")).removeValue(QStringLiteral("Password"));
    config.AddAccount(QStringLiteral("WORK"), QStringLiteral("other"), QStringLiteral("other"),
                      QStringLiteral("other"));
    QCOMPARE(config.NumberOfAccounts(), 2);
    QCOMPARE(config.Host(1), QStringLiteral("pop.work.example"));
    QCOMPARE(valueNames(account(temp, QStringLiteral("work"))),
             QStringList({QStringLiteral("Host"), QStringLiteral("UserName"), QStringLiteral("Selected")}));

    config.DeleteAccount(QStringLiteral("home"));
    config.DeleteAccount(QStringLiteral("nobody"));
    QCOMPARE(config.NumberOfAccounts(), 1);
    config.DeleteAccount(QStringLiteral("work"));
    QCOMPARE(config.NumberOfAccounts(), 0);
}

void TestPOPConfig::addAccountRefusesNamesThatCannotBeKeys()
{
    TempStore temp;
    POPConfig config(temp.services());
    config.AddAccount(QStringLiteral("a\\b"), QStringLiteral("h"), QStringLiteral("u"), QStringLiteral("p"));
    config.AddAccount(QString(), QStringLiteral("h"), QStringLiteral("u"), QStringLiteral("p"));
    QCOMPARE(config.NumberOfAccounts(), 0);
    QCOMPARE(settings(temp).subKey(QStringLiteral("Accounts")).subKeyCount(), 0);
    QCOMPARE(settings(temp).subKey(QStringLiteral("Accounts")).valueCount(), 0);
}

void TestPOPConfig::accountMissingPasswordLoadsEmpty()
{
    TempStore temp;
    POPConfig config(temp.services());
    config.AddAccount(QStringLiteral("a"), QStringLiteral("h"), QStringLiteral("u"),
                      QStringLiteral("secret"));
    config.AddAccount(QStringLiteral("b"), QStringLiteral("h"), QStringLiteral("u"), QStringLiteral("other"));
    account(temp, QStringLiteral("b")).removeValue(QStringLiteral("Password"));
    account(temp, QStringLiteral("b")).removeValue(QStringLiteral("Selected"));
    POPConfig reloaded(temp.services());
    QCOMPARE(reloaded.Password(0), QStringLiteral("secret"));
    QCOMPARE(reloaded.Password(1), QString());
    QVERIFY(!reloaded.AcctSel(1));
}

void TestPOPConfig::passwordRoundTrip_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("stored"); // the exact stored form, where the row names it
    QTest::addColumn<bool>("lossless");
    QTest::newRow("abc") << "abc"
                         << "cfi" << false;
    QTest::newRow("empty") << ""
                           << "" << false;
    QTest::newRow("Latin-1 that fits") << QString::fromUtf8("é") << QString(QChar(0xEB)) << false;
    QTest::newRow("60 characters that fit") << QString(60, QLatin1Char('x')) << QString() << false;
    QTest::newRow("60 characters beyond code 255") << QString(60, QLatin1Char('q')) << QString() << true;
    QTest::newRow("high Latin-1 early") << QString::fromUtf8("ÿÿÿ") << QString() << true;
    QTest::newRow("beyond Latin-1") << QString::fromUtf8("пароль€😀") << QString() << true;
}

void TestPOPConfig::passwordRoundTrip()
{
    QFETCH(QString, password);
    QFETCH(QString, stored);
    QFETCH(bool, lossless);
    TempStore temp;
    POPConfig config(temp.services());
    config.AddAccount(QStringLiteral("acc"), QStringLiteral("h"), QStringLiteral("u"), password);
    QCOMPARE(POPConfig(temp.services()).Password(0), password);
    const QString kept = account(temp, QStringLiteral("acc")).value(QStringLiteral("Password"))->text();
    if (!stored.isNull())
        QCOMPARE(kept, stored);
    QCOMPARE(kept.startsWith(QChar(0x2261)), lossless);
    if (!lossless)
        QCOMPARE(kept.size(), password.size());
}

void TestPOPConfig::port_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<int>("port");
    QTest::newRow("none") << QVariant() << 110;
    QTest::newRow("995") << QVariant(995) << 995;
    QTest::newRow("65535") << QVariant(65535) << 65535;
    QTest::newRow("0") << QVariant(0) << 110;
    QTest::newRow("65536") << QVariant(65536) << 110;
    QTest::newRow("-1") << QVariant(-1) << 110;
}

void TestPOPConfig::port()
{
    QFETCH(QVariant, stored);
    QFETCH(int, port);
    TempStore temp;
    POPConfig(temp.services())
        .AddAccount(QStringLiteral("acc"), QStringLiteral("h"), QStringLiteral("u"), QStringLiteral("p"));
    if (stored.isValid())
        account(temp, QStringLiteral("acc")).addValue(QStringLiteral("Port"), stored, RegType::DWord);
    POPConfig config(temp.services());
    QCOMPARE(config.Port(0), port);
    QCOMPARE(config.Port(1), 110);
}

void TestPOPConfig::addAccountWithPort()
{
    TempStore temp;
    POPConfig config(temp.services());
    QVERIFY(config.AddAccount(AccountFields{"a", "h", "u", "p", 995}));
    QVERIFY(config.AddAccount(AccountFields{"b", "h", "u", "p", 0}));
    QVERIFY(!config.AddAccount(AccountFields{"A", "other", "u", "p", 1}));
    QCOMPARE(config.Port(0), 995);
    QCOMPARE(config.StoredPort(0), 995);
    QCOMPARE(config.Port(1), 110);
    QCOMPARE(config.StoredPort(1), 0);
    QVERIFY(!account(temp, "b").value("Port"));
    QCOMPARE(account(temp, "a").value("Port")->type, RegType::DWord);
}

void TestPOPConfig::editAccount_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("edited");
    QTest::addColumn<QStringList>("names"); // the account names afterwards
    QTest::newRow("same name, other port") << "work" << 2110 << true << QStringList{"home", "work"};
    QTest::newRow("renamed, port removed") << "office" << 0 << true << QStringList{"home", "office"};
    QTest::newRow("letter case only") << "Work" << 995 << true << QStringList{"home", "Work"};
    QTest::newRow("name of the other account") << "home" << 995 << false << QStringList{"home", "work"};
    QTest::newRow("other account, other case") << "HOME" << 995 << false << QStringList{"home", "work"};
    QTest::newRow("backslash") << "a\\b" << 995 << false << QStringList{"home", "work"};
    QTest::newRow("empty") << "" << 995 << false << QStringList{"home", "work"};
}

void TestPOPConfig::editAccount()
{
    QFETCH(QString, name);
    QFETCH(int, port);
    QFETCH(bool, edited);
    QFETCH(QStringList, names);
    TempStore temp;
    POPConfig config(temp.services());
    config.AddAccount(AccountFields{"home", "pop.home", "me", "pw", 0});
    config.AddAccount(AccountFields{"work", "pop.work", "worker", "secret", 995});
    config.setAcctSel(1, false);
    // A value the fields leave out rides along.
    account(temp, "work").addValue("Security", 2, RegType::DWord);
    POPConfig fresh(temp.services());

    QCOMPARE(fresh.EditAccount(1, AccountFields{name, "pop.new", "newuser", "newpw", port}), edited);
    POPConfig reloaded(temp.services());
    const QStringList accountNames{reloaded.AccountName(0), reloaded.AccountName(1)};
    QCOMPARE(accountNames, names);
    QCOMPARE(reloaded.NumberOfAccounts(), 2);
    QCOMPARE(reloaded.Host(0), QStringLiteral("pop.home"));
    QCOMPARE(reloaded.Password(0), QStringLiteral("pw"));
    const int i = names.indexOf(edited ? name : QStringLiteral("work"));
    QVERIFY(account(temp, reloaded.AccountName(i)).value("Security"));
    if (edited) {
        QCOMPARE(reloaded.Host(i), QStringLiteral("pop.new"));
        QCOMPARE(reloaded.UserName(i), QStringLiteral("newuser"));
        QCOMPARE(reloaded.Password(i), QStringLiteral("newpw"));
        QCOMPARE(reloaded.StoredPort(i), port);
        QVERIFY(reloaded.AcctSel(i));
        QCOMPARE(account(temp, reloaded.AccountName(i)).value("Selected")->text(), QStringLiteral("True"));
    } else {
        QCOMPARE(reloaded.Host(i), QStringLiteral("pop.work"));
        QCOMPARE(reloaded.Password(i), QStringLiteral("secret"));
        QCOMPARE(reloaded.StoredPort(i), 995);
        QVERIFY(!reloaded.AcctSel(i));
    }
    QVERIFY(!fresh.EditAccount(5, AccountFields{"x", "h", "u", "p", 0}));
    QCOMPARE(POPConfig(temp.services()).NumberOfAccounts(), 2);
}

void TestPOPConfig::accountFieldsCarrySecurity()
{
    const QString fingerprint = QStringLiteral("0123456789abcdef").repeated(4);
    TempStore temp;
    POPConfig config(temp.services());
    AccountFields fields{"tls", "h", "u", "p", 0};
    fields.security = 2;
    fields.trustedCertificate = fingerprint.toUpper();
    QVERIFY(config.AddAccount(fields));
    QCOMPARE(config.Security(0), 2);
    QCOMPARE(config.Port(0), 995);
    QCOMPARE(account(temp, "tls").value("TrustedCertificate")->text(), fingerprint);

    // Back to plain with nothing trusted: the values go, as if never stored.
    fields.security = 0;
    fields.trustedCertificate = QString();
    QVERIFY(config.EditAccount(0, fields));
    QCOMPARE(config.Security(0), 0);
    QCOMPARE(config.TrustedCertificate(0), QString());
    QCOMPARE(valueNames(account(temp, "tls")),
             (QStringList{"Host", "UserName", "Password", "Selected"}));
}

void TestPOPConfig::security_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QVariant>("port");
    QTest::addColumn<int>("security");
    QTest::addColumn<int>("expectedPort");
    QTest::newRow("none") << QVariant() << QVariant() << 0 << 110;
    QTest::newRow("plain") << QVariant(0) << QVariant() << 0 << 110;
    QTest::newRow("STLS") << QVariant(1) << QVariant() << 1 << 110;
    QTest::newRow("TLS") << QVariant(2) << QVariant() << 2 << 995;
    QTest::newRow("TLS as text") << QVariant(QStringLiteral("2")) << QVariant() << 2 << 995;
    QTest::newRow("TLS on a port of its own") << QVariant(2) << QVariant(1995) << 2 << 1995;
    QTest::newRow("STLS on a port of its own") << QVariant(1) << QVariant(2110) << 1 << 2110;
    QTest::newRow("unknown mode") << QVariant(7) << QVariant() << 2 << 995;
    QTest::newRow("negative mode") << QVariant(-1) << QVariant() << 2 << 995;
    QTest::newRow("not a number") << QVariant(QStringLiteral("tls")) << QVariant() << 2 << 995;
}

void TestPOPConfig::security()
{
    QFETCH(QVariant, stored);
    QFETCH(QVariant, port);
    QFETCH(int, security);
    QFETCH(int, expectedPort);
    TempStore temp;
    POPConfig(temp.services())
        .AddAccount(QStringLiteral("acc"), QStringLiteral("h"), QStringLiteral("u"), QStringLiteral("p"));
    const RegistryKey key = account(temp, QStringLiteral("acc"));
    if (stored.isValid())
        key.addValue(QStringLiteral("Security"), stored,
                     stored.typeId() == QMetaType::QString ? RegType::String : RegType::DWord);
    if (port.isValid())
        key.addValue(QStringLiteral("Port"), port, RegType::DWord);
    POPConfig config(temp.services());
    QCOMPARE(config.Security(0), security);
    QCOMPARE(config.Port(0), expectedPort);
    QCOMPARE(config.Security(1), 0);
}

void TestPOPConfig::setSecurityWritesAtOnce()
{
    TempStore temp;
    POPConfig config(temp.services());
    config.AddAccount(QStringLiteral("acc"), QStringLiteral("h"), QStringLiteral("u"), QStringLiteral("p"));
    config.setSecurity(0, 2);
    QCOMPARE(config.Security(0), 2);
    QCOMPARE(config.Port(0), 995);
    const RegistryKey key = account(temp, QStringLiteral("acc"));
    QCOMPARE(key.value(QStringLiteral("Security"))->type, RegType::DWord);
    QCOMPARE(key.value(QStringLiteral("Security"))->data, QVariant::fromValue(2u));
    for (int refused : {-1, 3})
        config.setSecurity(0, refused);
    config.setSecurity(1, 1);
    config.setSecurity(-1, 1);
    QCOMPARE(POPConfig(temp.services()).Security(0), 2);
    config.setSecurity(0, 1);
    QCOMPARE(POPConfig(temp.services()).Security(0), 1);

    // An account deleted behind the object's back is not brought back holding only the mode.
    settings(temp).subKey(QStringLiteral("Accounts")).removeSubKey(QStringLiteral("acc"));
    config.setSecurity(0, 2);
    QVERIFY(!account(temp, QStringLiteral("acc")).isValid());
}

// The OAuth values are written at once, as their registry types, and come back on a new load; a
// refresh token without a keyring is scrambled in the store, and forgetting it removes it. A
// rename keeps it.
void TestPOPConfig::oauthSettingsAndRefreshToken()
{
    TempStore temp;
    POPConfig config(temp.services());
    config.AddAccount(QStringLiteral("acc"), QStringLiteral("h"), QStringLiteral("u"), QStringLiteral(""));
    QCOMPARE(config.OAuth(0), OAuthAccount());
    OAuthAccount on;
    on.authentication = 1;
    QVERIFY(!config.setOAuth(1, on));
    const OAuthAccount oauth{1,
                             QStringLiteral("other"),
                             QStringLiteral("client-1"),
                             QStringLiteral("shh"),
                             QStringLiteral("https://id.example/authorize"),
                             QStringLiteral("https://id.example/token"),
                             QStringLiteral("mail offline_access"),
                             QString()};
    QVERIFY(config.setOAuth(0, oauth));
    QCOMPARE(config.OAuth(0), oauth);
    const RegistryKey key = account(temp, QStringLiteral("acc"));
    QCOMPARE(key.value(QStringLiteral("Authentication"))->type, RegType::DWord);
    QCOMPARE(key.value(QStringLiteral("OAuthTokenUrl"))->type, RegType::String);
    QVERIFY(!key.value(QStringLiteral("TokenCommand")));
    QCOMPARE(POPConfig(temp.services()).OAuth(0), oauth);

    QCOMPARE(config.LookUpRefreshToken(0).ok, true);
    QCOMPARE(config.LookUpRefreshToken(0).password, QString());
    QCOMPARE(config.setRefreshToken(0, QStringLiteral("1//refresh")), std::nullopt);
    const QString stored = key.value(QStringLiteral("OAuthRefreshToken"))->text();
    QVERIFY(!stored.isEmpty() && !stored.contains(QStringLiteral("refresh")));
    QCOMPARE(POPConfig(temp.services()).LookUpRefreshToken(0).password, QStringLiteral("1//refresh"));

    QVERIFY(config.EditAccount(0, AccountFields{QStringLiteral("renamed"), QStringLiteral("h"), QStringLiteral("u"), {}}));
    QCOMPARE(config.OAuth(0), oauth);
    QCOMPARE(config.LookUpRefreshToken(0).password, QStringLiteral("1//refresh"));
    QCOMPARE(config.setRefreshToken(0, QString()), std::nullopt);
    QVERIFY(!account(temp, QStringLiteral("renamed")).value(QStringLiteral("OAuthRefreshToken")));
    QCOMPARE(POPConfig(temp.services()).LookUpRefreshToken(0).password, QString());

    // A stored mode other than 0 never falls back to sending the password.
    account(temp, QStringLiteral("renamed")).overwriteValue(QStringLiteral("Authentication"), 7);
    QCOMPARE(POPConfig(temp.services()).OAuth(0).authentication, 1);
}

void TestPOPConfig::trustedCertificate_data()
{
    const QString hex = QStringLiteral("0123456789abcdef").repeated(4);
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("read");
    QTest::newRow("kept form") << hex << hex;
    QTest::newRow("capitals with colons") << QStringLiteral("01:23:45:67:89:AB:CD:EF:").repeated(4) << hex;
    QTest::newRow("blanks and tabs") << QStringLiteral(" 0123 4567\t89AB cdef").repeated(4) << hex;
    QTest::newRow("too short") << hex.chopped(2) << QString();
    QTest::newRow("SHA-1 length") << hex.left(40) << QString();
    QTest::newRow("not hex") << hex.chopped(1) + QLatin1Char('g') << QString();
    QTest::newRow("empty") << QString() << QString();
}

void TestPOPConfig::trustedCertificate()
{
    QFETCH(QString, stored);
    QFETCH(QString, read);
    TempStore temp;
    POPConfig(temp.services())
        .AddAccount(QStringLiteral("acc"), QStringLiteral("h"), QStringLiteral("u"), QStringLiteral("p"));
    account(temp, QStringLiteral("acc"))
        .addValue(QStringLiteral("TrustedCertificate"), stored, RegType::String);
    POPConfig config(temp.services());
    QCOMPARE(config.TrustedCertificate(0), read);
    QCOMPARE(config.TrustedCertificate(1), QString());
}

void TestPOPConfig::setTrustedCertificateKeepsOneForm()
{
    const QString hex = QStringLiteral("00112233445566778899aabbccddeeff").repeated(2);
    TempStore temp;
    POPConfig config(temp.services());
    config.AddAccount(QStringLiteral("acc"), QStringLiteral("h"), QStringLiteral("u"), QStringLiteral("p"));
    const auto stored = [&] {
        const auto value = account(temp, QStringLiteral("acc")).value(QStringLiteral("TrustedCertificate"));
        return value ? value->text() : QString();
    };

    config.setTrustedCertificate(
        0, QStringLiteral("00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF").repeated(2));
    QCOMPARE(config.TrustedCertificate(0), hex);
    QCOMPARE(stored(), hex);
    QCOMPARE(POPConfig(temp.services()).TrustedCertificate(0), hex);

    config.setTrustedCertificate(0, QStringLiteral("not a fingerprint"));
    config.setTrustedCertificate(1, hex);
    QCOMPARE(config.TrustedCertificate(0), hex);
    QCOMPARE(stored(), hex);

    config.setTrustedCertificate(0, QString());
    QCOMPARE(config.TrustedCertificate(0), QString());
    QVERIFY(!account(temp, QStringLiteral("acc")).value(QStringLiteral("TrustedCertificate")));
}

void TestPOPConfig::acctSelWritesEvenWhenStoreLostTheValue()
{
    TempStore temp;
    POPConfig config(temp.services());
    config.AddAccount(QStringLiteral("a"), QStringLiteral("h"), QStringLiteral("u"), QStringLiteral("p"));
    config.AddAccount(QStringLiteral("b"), QStringLiteral("h"), QStringLiteral("u"), QStringLiteral("p"));
    config.setAcctSel(0, false);
    QVERIFY(!config.AcctSel(0));
    QVERIFY(!POPConfig(temp.services()).AcctSel(0));

    account(temp, QStringLiteral("a")).removeValue(QStringLiteral("Selected"));
    settings(temp).subKey(QStringLiteral("Accounts")).removeSubKey(QStringLiteral("b"));
    config.setAcctSel(0, true);
    config.setAcctSel(1, false);
    config.setAcctSel(7, true);
    QVERIFY(config.AcctSel(0));
    QVERIFY(!config.AcctSel(1));
    POPConfig reloaded(temp.services());
    QVERIFY(reloaded.AcctSel(0));
    QCOMPARE(reloaded.AccountName(1), QStringLiteral("b"));
    QVERIFY(!reloaded.AcctSel(1));
}

void TestPOPConfig::senderIsBlocked_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("from");
    QTest::addColumn<bool>("blocked");
    QTest::newRow("part of the entry") << "Bob Smith"
                                       << "Smith" << true;
    QTest::newRow("letter case counts") << "SMITH"
                                        << "Smith" << false;
    QTest::newRow("longer than the entry") << "Smith"
                                           << "Bob Smith" << false;
    QTest::newRow("whole entry") << "Bob Smith <bob@example.com>"
                                 << "Bob Smith <bob@example.com>" << true;
    QTest::newRow("no trimming") << "Smith"
                                 << " Smith" << false;
    QTest::newRow("empty text, non-empty entry") << "Smith"
                                                 << "" << true;
}

void TestPOPConfig::senderIsBlocked()
{
    QFETCH(QString, entry);
    QFETCH(QString, from);
    QFETCH(bool, blocked);
    TempStore temp;
    POPConfig config(temp.services());
    QVERIFY(!config.SenderIsBlocked(from));
    config.AddBlockedSender(QStringLiteral("someone else"));
    config.AddBlockedSender(entry);
    QCOMPARE(config.SenderIsBlocked(from), blocked || from.isEmpty());
    QCOMPARE(config.IsBlocked(from), from == entry);
}

void TestPOPConfig::blockedSenderList()
{
    TempStore temp;
    POPConfig config(temp.services());
    config.AddBlockedSender(QStringLiteral("zed@example.com"));
    config.AddBlockedSender(QStringLiteral("Ann <ann@example.com>"));
    config.AddBlockedSender(QStringLiteral("ZED@EXAMPLE.COM"));
    QCOMPARE(config.NumberOfBlocked(), 2);
    QCOMPARE(config.BlockedSender(0), QStringLiteral("zed@example.com"));
    QCOMPARE(config.BlockedSender(1), QStringLiteral("Ann <ann@example.com>"));
    QCOMPARE(config.BlockedSender(2), QString());
    QCOMPARE(config.BlockedSender(-1), QString());
    QVERIFY(config.IsBlocked(QStringLiteral("zed@example.com")));
    QVERIFY(!config.IsBlocked(QStringLiteral("ZED@EXAMPLE.COM")));
    config.RemoveBlockedSender(QStringLiteral("Zed@Example.com"));
    config.RemoveBlockedSender(QStringLiteral("not there"));
    QCOMPARE(config.NumberOfBlocked(), 1);
    QCOMPARE(config.BlockedSender(0), QStringLiteral("Ann <ann@example.com>"));
}

QTEST_GUILESS_MAIN(TestPOPConfig)
#include "tst_popconfig.moc"
