#include "DialogPrompter.h"

#include <QInputDialog>
#include <QMessageBox>

void DialogPrompter::message(const QString &title, const QString &text)
{
    QMessageBox::information(m_parent, title, text, QMessageBox::Ok);
}

bool DialogPrompter::question(const QString &title, const QString &text)
{
    return QMessageBox::question(m_parent, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes)
           == QMessageBox::Yes;
}

bool DialogPrompter::confirm(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok | QMessageBox::Cancel, m_parent);
    return box.exec() == QMessageBox::Ok;
}

std::optional<QString> DialogPrompter::input(const QString &title, const QString &prompt, const QString &defaultText)
{
    bool ok = false;
    const QString text = QInputDialog::getText(m_parent, title, prompt, QLineEdit::Normal, defaultText, &ok);
    if (!ok)
        return std::nullopt;
    return text;
}
