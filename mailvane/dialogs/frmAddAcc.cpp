#include "frmAddAcc.h"

#include "AccountForm.h"
#include "AccountSecurity.h"
#include "ui_frmAddAcc.h"

#include "platform/Prompter.h"

#include <QShortcut>

namespace
{
const QString kHelpPage = QStringLiteral("configuration.html#account-dialogs");
}

frmAddAcc::frmAddAcc(const DialogServices &services, QWidget *parent)
    : QDialog(parent), m_services(services), m_ui(std::make_unique<Ui::frmAddAcc>()),
      m_config(std::make_unique<POPConfig>(services.settings))
{
    m_ui->setupUi(this);
    m_security = std::make_unique<AccountSecurity>(
        AccountBoxes{m_ui->txtAccName, m_ui->txtHost, m_ui->txtUserName, m_ui->txtPassword, m_ui->txtPort},
        m_ui->cmbSecurity, m_ui->cmdTest, services.settings.prompter);
    m_security->setTimeOut(m_config->Timeout());
    connect(this, &QDialog::finished, m_security.get(), &AccountSecurity::cancel);
    connect(m_ui->cmdAdd, &QPushButton::clicked, this, &frmAddAcc::addAccount);
    connect(m_ui->cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_ui->cmdHelp, &QPushButton::clicked, this, &frmAddAcc::help);
    connect(new QShortcut(QKeySequence::HelpContents, this), &QShortcut::activated, this, &frmAddAcc::help);
}

frmAddAcc::~frmAddAcc() = default;

QString frmAddAcc::accountName() const
{
    return m_ui->txtAccName->text();
}

void frmAddAcc::addAccount()
{
    const AccountBoxes boxes{m_ui->txtAccName, m_ui->txtHost, m_ui->txtUserName, m_ui->txtPassword,
                             m_ui->txtPort};
    Prompter &prompter = m_services.settings.prompter;
    if (!boxes.allFilled()) {
        prompter.message(QStringLiteral("Error"),
                         QStringLiteral("All fields must be filled in\r\nto add the account."));
        return;
    }
    if (!boxes.acceptable(*m_config, -1, prompter))
        return;
    if (!m_config->AddAccount(m_security->fields())) {
        prompter.message(QStringLiteral("Error"), QStringLiteral("The account could not be stored."));
        return;
    }
    accept();
}

void frmAddAcc::help()
{
    if (!m_services.openHelp(kHelpPage))
        m_services.settings.prompter.message(QStringLiteral("Help"),
                                             QStringLiteral("The manual could not be opened."));
}
