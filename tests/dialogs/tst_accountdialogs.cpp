#include "DialogHarness.h"

#include "dialogs/frmAccEdit.h"
#include "dialogs/frmAddAcc.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

using testsupport::child;
using testsupport::DialogHarness;

namespace
{
const QStringList kBoxes{"txtAccName", "txtHost", "txtUserName", "txtPassword", "txtPort"};

void fill(QDialog &dialog, const QStringList &texts)
{
    for (int i = 0; i < texts.size(); ++i)
        child<QLineEdit>(dialog, kBoxes.at(i))->setText(texts.at(i));
}

QStringList texts(const QDialog &dialog)
{
    QStringList shown;
    for (const QString &box : kBoxes)
        shown << child<QLineEdit>(dialog, box)->text();
    return shown;
}
} // namespace

class TestAccountDialogs : public QObject
{
    Q_OBJECT

private slots:
    void addStoresTheAccount_data();
    void addStoresTheAccount();
    void addRefuses_data();
    void addRefuses();
    void addKeysAndLabels();
    void editFillsOnceAndKeepsOtherValues();
    void editRefuses_data();
    void editRefuses();
    void editWithoutAccountAdds();
    void helpOpensTheManual();
};

void TestAccountDialogs::addStoresTheAccount_data()
{
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<int>("storedPort");
    QTest::newRow("default port") << QStringList{"Home", "pop.home", "me", "pw", ""} << 0;
    QTest::newRow("port 995") << QStringList{"Home", "pop.home", "me", "pw", "995"} << 995;
    QTest::newRow("blanks count as filled") << QStringList{" ", " ", " ", " ", ""} << 0;
}

void TestAccountDialogs::addStoresTheAccount()
{
    QFETCH(QStringList, typed);
    QFETCH(int, storedPort);
    DialogHarness h;
    frmAddAcc dialog(h.services());
    dialog.show();
    fill(dialog, typed);
    child<QPushButton>(dialog, "cmdAdd")->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(h.messages(), QStringList());
    const auto config = h.stored();
    QCOMPARE(config->NumberOfAccounts(), 1);
    QCOMPARE(config->AccountName(0), typed.at(0));
    QCOMPARE(config->Host(0), typed.at(1));
    QCOMPARE(config->UserName(0), typed.at(2));
    QCOMPARE(config->Password(0), typed.at(3));
    QCOMPARE(config->StoredPort(0), storedPort);
    QVERIFY(config->AcctSel(0));
}

void TestAccountDialogs::addRefuses_data()
{
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<QString>("message");
    const QString empty = "Error: All fields must be filled in\r\nto add the account.";
    QTest::newRow("no password") << QStringList{"New", "h", "u", "", ""} << empty;
    QTest::newRow("no name") << QStringList{"", "h", "u", "p", ""} << empty;
    QTest::newRow("no host") << QStringList{"New", "", "u", "p", ""} << empty;
    QTest::newRow("no user name") << QStringList{"New", "h", "", "p", ""} << empty;
    QTest::newRow("name of an account")
        << QStringList{"work", "h", "u", "p", ""}
        << "Error: An account named \"work\" already exists.\nChoose another name.";
    QTest::newRow("same name in other case")
        << QStringList{"WORK", "h", "u", "p", ""}
        << "Error: An account named \"WORK\" already exists.\nChoose another name.";
    QTest::newRow("backslash") << QStringList{"a\\b", "h", "u", "p", ""}
                               << "Error: An account name cannot contain a backslash (\\).";
    const QString port = "Invalid value: Port must be 1 - 65535, or empty for the default port.";
    QTest::newRow("port 0") << QStringList{"New", "h", "u", "p", "0"} << port;
    QTest::newRow("port 65536") << QStringList{"New", "h", "u", "p", "65536"} << port;
    QTest::newRow("port not a number") << QStringList{"New", "h", "u", "p", "pop3"} << port;
}

void TestAccountDialogs::addRefuses()
{
    QFETCH(QStringList, typed);
    QFETCH(QString, message);
    DialogHarness h;
    h.addAccount("Work", "pop.work");
    frmAddAcc dialog(h.services());
    dialog.show();
    fill(dialog, typed);
    child<QPushButton>(dialog, "cmdAdd")->click();
    QCOMPARE(h.messages(), QStringList{message});
    QVERIFY(dialog.isVisible());
    QCOMPARE(texts(dialog), typed);
    const auto config = h.stored();
    QCOMPARE(config->NumberOfAccounts(), 1);
    QCOMPARE(config->Host(0), QStringLiteral("pop.work"));
}

void TestAccountDialogs::addKeysAndLabels()
{
    DialogHarness h;
    frmAddAcc dialog(h.services());
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Add Account"));
    QCOMPARE(child<QLineEdit>(dialog, "txtPassword")->echoMode(), QLineEdit::Password);
    QCOMPARE(child<QLineEdit>(dialog, "txtHost")->accessibleName(), QStringLiteral("Host (Server)"));
    QVERIFY(child<QPushButton>(dialog, "cmdAdd")->isDefault());
    dialog.show();
    fill(dialog, {"Home", "pop.home", "me", "pw", ""});
    QTest::keyClick(child<QLineEdit>(dialog, "txtUserName"), Qt::Key_Return);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(h.stored()->NumberOfAccounts(), 1);

    frmAddAcc cancelled(h.services());
    cancelled.show();
    fill(cancelled, {"Other", "pop.other", "me", "pw", ""});
    QTest::keyClick(child<QLineEdit>(cancelled, "txtAccName"), Qt::Key_Escape);
    QVERIFY(!cancelled.isVisible());
    QCOMPARE(cancelled.result(), int(QDialog::Rejected));
    QCOMPARE(h.stored()->NumberOfAccounts(), 1);
}

void TestAccountDialogs::editFillsOnceAndKeepsOtherValues()
{
    DialogHarness h;
    h.addAccount("home", "pop.home");
    h.addAccount("work", "pop.work", 995);
    h.stored()->setAcctSel(1, false);
    h.temp.store()
        .open("HKEY_LOCAL_MACHINE\\Software\\Corvanta\\Mailvane 1.0\\Accounts\\work")
        .addValue("Security", 2, RegType::DWord);

    frmAccEdit dialog(h.services());
    dialog.setAccIndex(1);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Edit Account"));
    dialog.show();
    QCOMPARE(texts(dialog), (QStringList{"work", "pop.work", "user", "secret", "995"}));
    child<QLineEdit>(dialog, "txtHost")->setText("pop.new");
    dialog.hide();
    dialog.show();
    QCOMPARE(child<QLineEdit>(dialog, "txtHost")->text(), QStringLiteral("pop.new"));
    child<QPushButton>(dialog, "cmdDone")->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));

    const auto config = h.stored();
    QCOMPARE(config->NumberOfAccounts(), 2);
    QCOMPARE(config->Host(1), QStringLiteral("pop.new"));
    QCOMPARE(config->StoredPort(1), 995);
    QVERIFY(config->AcctSel(1)); // checked again, as a new account is
    QVERIFY(h.temp.store()
                .open("HKEY_LOCAL_MACHINE\\Software\\Corvanta\\Mailvane 1.0\\Accounts\\work")
                .value("Security"));
}

void TestAccountDialogs::editRefuses_data()
{
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty password") << QStringList{"work", "h", "u", "", ""}
                                    << "Error: All fields must be filled in.";
    QTest::newRow("rename onto another account")
        << QStringList{"Home", "h", "u", "p", ""}
        << "Error: An account named \"Home\" already exists.\nChoose another name.";
    QTest::newRow("backslash") << QStringList{"w\\x", "h", "u", "p", ""}
                               << "Error: An account name cannot contain a backslash (\\).";
    QTest::newRow("bad port") << QStringList{"work", "h", "u", "p", "-5"}
                              << "Invalid value: Port must be 1 - 65535, or empty for the default port.";
}

void TestAccountDialogs::editRefuses()
{
    QFETCH(QStringList, typed);
    QFETCH(QString, message);
    DialogHarness h;
    h.addAccount("home", "pop.home");
    h.addAccount("work", "pop.work", 995);
    frmAccEdit dialog(h.services());
    dialog.setAccIndex(1);
    dialog.show();
    fill(dialog, typed);
    child<QPushButton>(dialog, "cmdDone")->click();
    QCOMPARE(h.messages(), QStringList{message});
    QVERIFY(dialog.isVisible());
    QCOMPARE(texts(dialog), typed);
    const auto config = h.stored();
    QCOMPARE(config->NumberOfAccounts(), 2);
    QCOMPARE(config->AccountName(0), QStringLiteral("home"));
    QCOMPARE(config->Host(0), QStringLiteral("pop.home"));
    QCOMPARE(config->AccountName(1), QStringLiteral("work"));
    QCOMPARE(config->Host(1), QStringLiteral("pop.work"));
    QCOMPARE(config->StoredPort(1), 995);
}

void TestAccountDialogs::editWithoutAccountAdds()
{
    for (int index : {-1, 5}) {
        DialogHarness h;
        h.addAccount("home");
        frmAccEdit dialog(h.services());
        dialog.setAccIndex(index);
        dialog.show();
        QCOMPARE(texts(dialog), (QStringList{"", "", "", "", ""}));
        fill(dialog, {"new", "pop.new", "u", "p", ""});
        child<QPushButton>(dialog, "cmdDone")->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        const auto config = h.stored();
        QCOMPARE(config->NumberOfAccounts(), 2);
        QCOMPARE(config->AccountName(0), QStringLiteral("home"));
        QCOMPARE(config->AccountName(1), QStringLiteral("new"));
    }
}

void TestAccountDialogs::helpOpensTheManual()
{
    DialogHarness h;
    frmAddAcc add(h.services());
    add.show();
    child<QPushButton>(add, "cmdHelp")->click();
    frmAccEdit edit(h.services());
    edit.show();
    QApplication::setActiveWindow(&edit);
    QVERIFY(QTest::qWaitForWindowActive(&edit));
    QTest::keyClick(child<QLineEdit>(edit, "txtHost"), Qt::Key_F1);
    QCOMPARE(h.helpPages, QStringList(2, QStringLiteral("configuration.html#account-dialogs")));
}

QTEST_MAIN(TestAccountDialogs)
#include "tst_accountdialogs.moc"
