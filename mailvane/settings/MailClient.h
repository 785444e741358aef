#pragma once

#include <QString>

// An installed mail client and the command line that starts it.
struct MailClient {
    QString Name;
    QString Command;
};
