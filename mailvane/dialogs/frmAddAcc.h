#pragma once

#include "DialogServices.h"

#include <QDialog>

#include <memory>

class AccountOAuth;
class AccountSecurity;

namespace Ui
{
class frmAddAcc;
}

// The Add Account dialog: stores a new account when every box is filled and its name is free, and
// stays open with the texts as typed otherwise.
class frmAddAcc : public QDialog
{
    Q_OBJECT

public:
    explicit frmAddAcc(const DialogServices &services, QWidget *parent = nullptr);
    ~frmAddAcc() override;

    // The name of the account stored, once the dialog is accepted.
    QString accountName() const;

private:
    void addAccount();
    void help();

    DialogServices m_services;
    std::unique_ptr<Ui::frmAddAcc> m_ui;
    std::unique_ptr<POPConfig> m_config;
    std::unique_ptr<AccountSecurity> m_security;
    std::unique_ptr<AccountOAuth> m_oauth;
};
