// The configuration dialog (one picture per tab) and the account dialogs, filled from a throwaway
// store with a demo account.
#include "Screens.h"

#include "TempStore.h"

#include "dialogs/DialogServices.h"
#include "dialogs/frmAccEdit.h"
#include "dialogs/frmAddAcc.h"
#include "dialogs/frmMailvaneConfig.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>

#include <cstdio>

namespace
{

void fillDemoStore(testsupport::TempStore &temp)
{
    const RegistryKey mail = temp.store()
                                 .open(QStringLiteral("HKEY_LOCAL_MACHINE\\Software"))
                                 .addSubKey(QStringLiteral("Clients"))
                                 .addSubKey(QStringLiteral("Mail"));
    for (const char *client : {"Claws Mail", "Mutt", "Thunderbird"})
        mail.addSubKey(QLatin1String(client));
    const RegistryKey addresses = temp.store()
                                      .open(QStringLiteral("HKEY_CURRENT_USER"))
                                      .addSubKey(QStringLiteral("RemoteAccess"))
                                      .addSubKey(QStringLiteral("Addresses"));
    addresses.addValue(QStringLiteral("Mobile hotspot"), QString());

    POPConfig config(temp.services());
    config.AddAccount(AccountFields{QStringLiteral("Home"), QStringLiteral("pop.example.net"),
                                    QStringLiteral("ann"), QStringLiteral("secret"), 0});
    AccountFields work{QStringLiteral("Work"), QStringLiteral("mail.example.com"),
                       QStringLiteral("ann.smith"), QStringLiteral("secret"), 0};
    work.security = 2; // SSL/TLS on its usual port, 995
    config.AddAccount(work);
    config.setAcctSel(1, false);
    config.AddBlockedSender(QStringLiteral("offers@spam.example"));
    config.AddBlockedSender(QStringLiteral("Lottery Team"));
    config.setSelectedClient(QStringLiteral("Thunderbird"));
    config.setSoundFile(QStringLiteral("/usr/share/sounds/mailvane/new-mail.wav"));
    config.setHotKeyEnabled(true);
    config.SaveConfig();
}

bool save(QWidget &widget, const QDir &dir, const QString &name)
{
    const QString path = dir.filePath(name + QStringLiteral(".png"));
    if (widget.grab().save(path))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qUtf8Printable(path));
    return false;
}

void showSettled(QDialog &dialog)
{
    dialog.show();
    dialog.activateWindow();
    QApplication::processEvents();
}

} // namespace

bool grabDialogScreens(const QDir &dir)
{
    testsupport::TempStore temp;
    fillDemoStore(temp);
    DialogServices services = DialogServices::desktop(temp.services());
    services.runModal = [](QDialog &) { return int(QDialog::Rejected); };
    services.openHelp = [](const QString &) { return true; };
    services.openUrl = [](const QUrl &) {};

    bool ok = true;
    {
        frmMailvaneConfig config(services);
        showSettled(config);
        auto *tabs = config.findChild<QTabWidget *>(QStringLiteral("SSTab1"));
        const QStringList names{"general", "accounts", "action",  "options",
                                "hotkey",  "about",    "blocked", "filters"};
        config.findChild<QListWidget *>(QStringLiteral("lstAccounts"))->setCurrentRow(0);
        for (int i = 0; i < tabs->count() && i < names.size(); ++i) {
            tabs->setCurrentIndex(i);
            QApplication::processEvents();
            ok = save(config, dir, QStringLiteral("config-") + names.at(i)) && ok;
        }
    }
    {
        frmAddAcc add(services);
        showSettled(add);
        const QStringList typed{"Holiday", "pop.example.org", "ann.holiday", "secret", ""};
        const QStringList boxes{"txtAccName", "txtHost", "txtUserName", "txtPassword", "txtPort"};
        for (int i = 0; i < boxes.size(); ++i)
            add.findChild<QLineEdit *>(boxes.at(i))->setText(typed.at(i));
        add.findChild<QComboBox *>(QStringLiteral("cmbSecurity"))->setCurrentIndex(1);
        ok = save(add, dir, QStringLiteral("account-add")) && ok;
    }
    {
        // An Outlook.com account with OAuth 2.0, before its sign-in.
        frmAddAcc add(services);
        showSettled(add);
        add.findChild<QLineEdit *>(QStringLiteral("txtAccName"))->setText(QStringLiteral("Outlook"));
        add.findChild<QLineEdit *>(QStringLiteral("txtUserName"))->setText(QStringLiteral("ann@outlook.com"));
        add.findChild<QComboBox *>(QStringLiteral("cmbAuthentication"))->setCurrentIndex(1);
        add.findChild<QLineEdit *>(QStringLiteral("txtClientId"))
            ->setText(QStringLiteral("00000000-0000-0000-0000-000000000000"));
        QApplication::processEvents();
        ok = save(add, dir, QStringLiteral("account-oauth")) && ok;
    }
    {
        frmAccEdit edit(services);
        edit.setAccIndex(1);
        showSettled(edit);
        ok = save(edit, dir, QStringLiteral("account-edit")) && ok;
    }
    return ok;
}
