#include "ConfigPlaceholder.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

ConfigPlaceholder::ConfigPlaceholder(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmMailvaneConfig"));
    setWindowTitle(QStringLiteral("Mailvane Configuration"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(
        new QLabel(QStringLiteral("The configuration dialog is not part of this build yet.\n"
                                  "Until it is, settings can be imported with mailvane-settings."),
                   this));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

#include "moc_ConfigPlaceholder.cpp"
