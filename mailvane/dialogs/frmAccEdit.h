#pragma once

#include "DialogServices.h"

#include <QDialog>

#include <memory>

class AccountOAuth;
class AccountSecurity;

namespace Ui
{
class frmAccEdit;
}

// The Edit Account dialog. The caller sets AccIndex before showing it; the boxes are filled when the
// dialog is first shown. Done replaces the account in one change, keeping its other values; with no
// account at AccIndex it adds a new one.
class frmAccEdit : public QDialog
{
    Q_OBJECT

public:
    explicit frmAccEdit(const DialogServices &services, QWidget *parent = nullptr);
    ~frmAccEdit() override;

    // The index of the account to edit in the stored order; -1 for none.
    void setAccIndex(int index) { m_accIndex = index; }
    // The name of the account stored, once the dialog is accepted.
    QString accountName() const;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void doneClicked();
    void help();

    DialogServices m_services;
    std::unique_ptr<Ui::frmAccEdit> m_ui;
    std::unique_ptr<POPConfig> m_config;
    std::unique_ptr<AccountSecurity> m_security;
    std::unique_ptr<AccountOAuth> m_oauth;
    int m_accIndex = -1;
};
