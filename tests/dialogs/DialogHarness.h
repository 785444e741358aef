#pragma once

#include "TempStore.h"

#include "dialogs/DialogServices.h"

#include <QDialog>
#include <QStringList>
#include <QTest>
#include <QUrl>

#include <functional>
#include <memory>

namespace testsupport
{

// A temporary store and dialog services that answer as the test sets them: the file dialog from a
// queue (empty: Cancel), a modal dialog by a script run on it while it is shown.
class DialogHarness
{
public:
    TempStore temp;
    QStringList fileAnswers;
    QStringList fileFilters;
    QStringList helpPages;
    QList<QUrl> openedUrls;
    QString hotKeyProblem;
    // Acts on a dialog shown "modally"; a dialog still open afterwards is cancelled.
    std::function<void(QDialog &)> onModal;

    DialogServices services()
    {
        return DialogServices{
            temp.services(),
            [this](QWidget *, const QString &, const QString &filter) {
                fileFilters << filter;
                return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst();
            },
            [this](QDialog &dialog) {
                dialog.show();
                if (onModal)
                    onModal(dialog);
                if (dialog.isVisible())
                    dialog.reject();
                return dialog.result();
            },
            [this](const QString &page) {
                helpPages << page;
                return true;
            },
            [this](const QUrl &url) { openedUrls << url; },
            hotKeyProblem,
        };
    }

    // The store as a new settings object reads it.
    std::unique_ptr<POPConfig> stored() { return std::make_unique<POPConfig>(temp.services()); }

    QStringList messages() const
    {
        QStringList texts;
        for (const RecordingPrompter::Call &call : temp.prompter.calls) {
            if (call.kind == RecordingPrompter::Call::Message)
                texts << call.title + QStringLiteral(": ") + call.text;
        }
        return texts;
    }

    void addAccount(const QString &name, const QString &host = QStringLiteral("pop.example.com"),
                    int port = 0)
    {
        stored()->AddAccount(
            AccountFields{name, host, QStringLiteral("user"), QStringLiteral("secret"), port});
    }
};

// The named child; fails the test when there is none.
template <typename T> T *child(const QObject &parent, const QString &name)
{
    T *found = parent.findChild<T *>(name);
    if (!found)
        qFatal("no child %s", qPrintable(name));
    return found;
}

} // namespace testsupport
