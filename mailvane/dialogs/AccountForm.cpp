#include "AccountForm.h"

#include "platform/Prompter.h"

#include <QLineEdit>

bool AccountBoxes::allFilled(bool passwordNeeded) const
{
    // A blank is a character: nothing is trimmed.
    return !name->text().isEmpty() && !host->text().isEmpty() && !userName->text().isEmpty() &&
           (!passwordNeeded || !password->text().isEmpty());
}

std::optional<int> AccountBoxes::portValue() const
{
    const QString text = port->text().trimmed();
    if (text.isEmpty())
        return 0;
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok && value >= 1 && value <= 65535 ? std::optional<int>(value) : std::nullopt;
}

AccountFields AccountBoxes::fields() const
{
    return {name->text(), host->text(), userName->text(), password->text(), portValue().value_or(0)};
}

void AccountBoxes::fill(const POPConfig &config, int i)
{
    name->setText(config.AccountName(i));
    host->setText(config.Host(i));
    userName->setText(config.UserName(i));
    password->setText(config.Password(i));
    const int stored = config.StoredPort(i);
    port->setText(stored ? QString::number(stored) : QString());
    port->setPlaceholderText(QString::number(config.Port(i)));
}

bool AccountBoxes::acceptable(const POPConfig &config, int except, Prompter &prompter) const
{
    if (!portValue()) {
        prompter.message(QStringLiteral("Invalid value"),
                         QStringLiteral("Port must be 1 - 65535, or empty for the default port."));
        port->setFocus();
        return false;
    }
    const QString accountName = name->text();
    switch (config.accountNameProblem(accountName, except)) {
    case AccountNameProblem::None:
    case AccountNameProblem::Empty: // told by the caller's empty-box message
        return true;
    case AccountNameProblem::Backslash:
        prompter.message(QStringLiteral("Error"),
                         QStringLiteral("An account name cannot contain a backslash (\\)."));
        break;
    case AccountNameProblem::Taken:
        prompter.message(
            QStringLiteral("Error"),
            QStringLiteral("An account named \"%1\" already exists.\nChoose another name.").arg(accountName));
        break;
    }
    name->setFocus();
    return false;
}
