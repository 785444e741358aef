#pragma once

#include <QString>
#include <QStringList>

// Starts a command line as a process of its own, without waiting for it.
class ProcessLauncher
{
public:
    virtual ~ProcessLauncher() = default;
    // False when the command line names no program or the program could not be started.
    virtual bool startDetached(const QString &commandLine) = 0;
};

// Splits the command line the way a shell would (quotes, backslashes) and starts it detached.
class SystemProcessLauncher : public ProcessLauncher
{
public:
    bool startDetached(const QString &commandLine) override;
};

// Remembers the command lines and starts nothing.
class RecordingProcessLauncher : public ProcessLauncher
{
public:
    bool startDetached(const QString &commandLine) override
    {
        started << commandLine;
        return succeed;
    }
    QStringList started;
    bool succeed = true;
};
