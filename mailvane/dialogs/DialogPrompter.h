#pragma once

#include "platform/Prompter.h"

#include <QPointer>
#include <QWidget>

// The desktop program's prompter: real message boxes and input boxes over a parent window.
class DialogPrompter : public Prompter
{
public:
    explicit DialogPrompter(QWidget *parent = nullptr) : m_parent(parent) {}
    // The window the boxes are shown over from now on.
    void setParentWindow(QWidget *parent) { m_parent = parent; }

    void message(const QString &title, const QString &text) override;
    bool question(const QString &title, const QString &text) override;
    bool confirm(const QString &title, const QString &text) override;
    std::optional<QString> input(const QString &title, const QString &prompt,
                                 const QString &defaultText) override;

private:
    QPointer<QWidget> m_parent;
};
