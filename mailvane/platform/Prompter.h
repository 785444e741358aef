#pragma once

#include <QList>
#include <QString>

#include <optional>

// The one way library code talks to the user: an OK box, a Yes/No question, an input box.
// The desktop program shows real dialogs; tools and tests use the implementations below.
class Prompter
{
public:
    virtual ~Prompter() = default;
    virtual void message(const QString &title, const QString &text) = 0;
    virtual bool question(const QString &title, const QString &text) = 0;
    // An OK/Cancel box; true for OK. Prompters without such a box ask the Yes/No question.
    virtual bool confirm(const QString &title, const QString &text) { return question(title, text); }
    // The text entered, or nothing when the user cancels.
    virtual std::optional<QString> input(const QString &title, const QString &prompt,
                                         const QString &defaultText) = 0;
};

// Writes messages to stderr and answers every question with No and every input box with Cancel.
class ConsolePrompter : public Prompter
{
public:
    void message(const QString &title, const QString &text) override;
    bool question(const QString &title, const QString &text) override;
    std::optional<QString> input(const QString &title, const QString &prompt,
                                 const QString &defaultText) override;
};

// Remembers every call and answers from a script: questions with questionAnswer, input boxes with the
// queued inputAnswers (Cancel once they run out).
class RecordingPrompter : public Prompter
{
public:
    struct Call {
        enum Kind { Message, Question, Input } kind;
        QString title;
        QString text;
    };

    void message(const QString &title, const QString &text) override;
    bool question(const QString &title, const QString &text) override;
    std::optional<QString> input(const QString &title, const QString &prompt,
                                 const QString &defaultText) override;

    QList<Call> calls;
    bool questionAnswer = false;
    QList<std::optional<QString>> inputAnswers;
};
