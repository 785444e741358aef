#include "Prompter.h"

#include <cstdio>

void ConsolePrompter::message(const QString &title, const QString &text)
{
    std::fprintf(stderr, "%s: %s\n", qUtf8Printable(title), qUtf8Printable(text));
}

bool ConsolePrompter::question(const QString &title, const QString &text)
{
    message(title, text);
    return false;
}

std::optional<QString> ConsolePrompter::input(const QString &, const QString &, const QString &)
{
    return std::nullopt;
}

void RecordingPrompter::message(const QString &title, const QString &text)
{
    calls.append({Call::Message, title, text});
}

bool RecordingPrompter::question(const QString &title, const QString &text)
{
    calls.append({Call::Question, title, text});
    return questionAnswer;
}

std::optional<QString> RecordingPrompter::input(const QString &title, const QString &prompt, const QString &)
{
    calls.append({Call::Input, title, prompt});
    return inputAnswers.isEmpty() ? std::nullopt : inputAnswers.takeFirst();
}
