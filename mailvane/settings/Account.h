#pragma once

#include <QString>

// One POP3 account as stored below the Accounts key. Password holds the stored (scrambled) form.
struct Account {
    QString Name;
    QString Host;
    QString UserName;
    QString Password;
    bool Selected = false;
    qint64 Port = 0; // the stored "Port" value, 0 when there is none
    bool PasswordInKeyring = false; // the password lives in the desktop keyring; Password is empty
};
