#pragma once

#include "DialogServices.h"

#include <QDialog>

#include <memory>

class QButtonGroup;

namespace Ui
{
class frmMailvaneConfig;
}

// The configuration dialog. It works on a settings object of its own: every control writes its value
// into it as the user changes it, and Done saves the scalar settings. Accounts, their check marks and
// blocked senders are stored at once, so Cancel keeps those and drops the rest.
class frmMailvaneConfig : public QDialog
{
    Q_OBJECT

public:
    // With the user's own settings store and the desktop's dialogs.
    explicit frmMailvaneConfig(QWidget *parent = nullptr);
    explicit frmMailvaneConfig(const DialogServices &services, QWidget *parent = nullptr);
    ~frmMailvaneConfig() override;

    // Refills every control from the settings object, running each control's handler as it fills,
    // so that the object holds what the dialog shows.
    void GetConf();
    const POPConfig &config() const { return *m_config; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    frmMailvaneConfig(std::unique_ptr<DesktopSettings> desktop, const DialogServices *services,
                      QWidget *parent);

    void connectHandlers();
    void setUpAboutTab();
    // Runs every change handler once, in the order GetConf fills the controls.
    void writeControls();

    void UpdateSoundFileBox();
    void EnableHotKeyChoices(bool enabled);

    void checkChosen(int k);
    void connChosen(int k);
    void hangUpChanged();
    void connectionChosen();
    void intervalChanged();
    void beepChanged();
    void playChanged();
    void showChanged();
    void popupChanged();
    void newOnlyChanged();
    void noNotificationChanged();
    void soundFileChanged();
    void minStyleChosen(int k);
    void startupChanged();
    void keyringChanged();
    void clientChosen();
    void timeoutChanged();
    void hotKeyEnabledChanged();
    void hotKeyChosen(int k);
    void modifierChosen(int modifier);
    void filtersChanged();

    void browseSoundFile();
    void addAccount();
    void editAccount();
    void deleteAccount();
    void addBlocked();
    void removeBlocked();
    void fillBlocked();
    void fillAccounts();
    // After an account was added, edited or deleted: the list again, the other tabs as they are.
    void accountsChanged();
    void doneClicked();
    void help();

    bool timeoutTextValid() const;
    void warnTimeout();
    void checkTimeoutSoon();
    void returnToTimeout();
    void reloadAndShow(const QString &currentAccount);

    std::unique_ptr<DesktopSettings> m_desktop;
    DialogServices m_services;
    std::unique_ptr<Ui::frmMailvaneConfig> m_ui;
    std::unique_ptr<POPConfig> m_config;
    QButtonGroup *m_conn;
    QButtonGroup *m_check;
    QButtonGroup *m_min;
    QButtonGroup *m_hotKey;
    QButtonGroup *m_modifier;
    bool m_tellingTimeout = false;
    bool m_timeoutCheckPending = false;
};
