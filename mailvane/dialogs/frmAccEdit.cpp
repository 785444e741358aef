#include "frmAccEdit.h"

#include "AccountForm.h"
#include "AccountOAuth.h"
#include "AccountSecurity.h"
#include "ui_frmAccEdit.h"

#include "platform/Prompter.h"

#include <QShortcut>

namespace
{
const QString kHelpPage = QStringLiteral("configuration.html#account-dialogs");
}

frmAccEdit::frmAccEdit(const DialogServices &services, QWidget *parent)
    : QDialog(parent), m_services(services), m_ui(std::make_unique<Ui::frmAccEdit>())
{
    m_ui->setupUi(this);
    m_security = std::make_unique<AccountSecurity>(
        AccountBoxes{m_ui->txtAccName, m_ui->txtHost, m_ui->txtUserName, m_ui->txtPassword, m_ui->txtPort},
        m_ui->cmbSecurity, m_ui->cmdTest, services.settings.prompter);
    m_oauth = std::make_unique<AccountOAuth>(
        AccountBoxes{m_ui->txtAccName, m_ui->txtHost, m_ui->txtUserName, m_ui->txtPassword, m_ui->txtPort},
        m_ui->cmbSecurity, m_ui->layout4, services.openUrl, services.settings.prompter);
    m_security->setOAuth(m_oauth.get());
    connect(this, &QDialog::finished, m_oauth.get(), &AccountOAuth::cancel);
    connect(this, &QDialog::finished, m_security.get(), &AccountSecurity::cancel);
    connect(m_ui->cmdDone, &QPushButton::clicked, this, &frmAccEdit::doneClicked);
    connect(m_ui->cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_ui->cmdHelp, &QPushButton::clicked, this, &frmAccEdit::help);
    connect(new QShortcut(QKeySequence::HelpContents, this), &QShortcut::activated, this, &frmAccEdit::help);
}

frmAccEdit::~frmAccEdit() = default;

QString frmAccEdit::accountName() const
{
    return m_ui->txtAccName->text();
}

void frmAccEdit::showEvent(QShowEvent *event)
{
    // Filled once: showing the dialog again must not undo what the user typed.
    if (!m_config) {
        m_config = std::make_unique<POPConfig>(m_services.settings);
        AccountBoxes{m_ui->txtAccName, m_ui->txtHost, m_ui->txtUserName, m_ui->txtPassword, m_ui->txtPort}
            .fill(*m_config, m_accIndex);
        m_security->fill(*m_config, m_accIndex);
        m_security->setTimeOut(m_config->Timeout());
        m_oauth->fill(*m_config, m_accIndex);
        m_oauth->setTimeOut(m_config->Timeout());
    }
    QDialog::showEvent(event);
}

void frmAccEdit::doneClicked()
{
    if (!m_config)
        return;
    const AccountBoxes boxes{m_ui->txtAccName, m_ui->txtHost, m_ui->txtUserName, m_ui->txtPassword,
                             m_ui->txtPort};
    Prompter &prompter = m_services.settings.prompter;
    if (!boxes.allFilled(!m_oauth->oauth())) {
        prompter.message(QStringLiteral("Error"), QStringLiteral("All fields must be filled in."));
        return;
    }
    const bool existing = m_accIndex >= 0 && m_accIndex < m_config->NumberOfAccounts();
    const int index = existing ? m_accIndex : -1;
    if (!boxes.acceptable(*m_config, index, prompter))
        return;
    const bool stored =
        existing ? m_config->EditAccount(index, m_security->fields()) : m_config->AddAccount(m_security->fields());
    if (!stored || !m_oauth->store(*m_config, boxes.name->text())) {
        prompter.message(QStringLiteral("Error"), QStringLiteral("The account could not be stored."));
        return;
    }
    accept();
}

void frmAccEdit::help()
{
    if (!m_services.openHelp(kHelpPage))
        m_services.settings.prompter.message(QStringLiteral("Help"),
                                             QStringLiteral("The manual could not be opened."));
}
