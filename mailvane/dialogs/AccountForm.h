#pragma once

#include "settings/POPConfig.h"

#include <QString>

#include <optional>

class Prompter;
class QLineEdit;

// What the Add Account and Edit Account dialogs share: their five boxes and the checks made before
// anything is stored.
struct AccountBoxes {
    QLineEdit *name;
    QLineEdit *host;
    QLineEdit *userName;
    QLineEdit *password;
    QLineEdit *port;

    // Every box but the port; the password only when it is needed (not for OAuth).
    bool allFilled(bool passwordNeeded = true) const;
    // The port box: empty gives 0 (the account's default port).
    std::optional<int> portValue() const;
    AccountFields fields() const;
    void fill(const POPConfig &config, int i);
    // Tells the user what stands in the way of storing the boxes as account `except` (-1: a new
    // account), the empty-box message left to the caller; false when the user was told something.
    bool acceptable(const POPConfig &config, int except, Prompter &prompter) const;
};
