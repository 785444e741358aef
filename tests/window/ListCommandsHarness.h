#pragma once

// The list commands over a check harness, with a host that records what the window was asked.
#include "../main/CheckHarness.h"
#include "main/ListCommands.h"
#include "platform/ProcessLauncher.h"

#include <QStringList>

namespace testsupport
{

struct RecordingHost : ListCommandHost {
    std::optional<ListedMessage> selection; // the message the user selected
    QStringList calls;
    std::optional<ListedMessage> selectedMessage() const override { return selection; }
    void ApplyMinStyle() override { calls << QStringLiteral("ApplyMinStyle"); }
    void OpenConfiguration() override { calls << QStringLiteral("OpenConfiguration"); }
    void ShowHelp() override { calls << QStringLiteral("ShowHelp"); }
    void ExitProgram() override { calls << QStringLiteral("ExitProgram"); }
};

struct ListCommandsHarness : CheckHarness {
    RecordingHost host;
    RecordingProcessLauncher launcher;
    ListCommands commands{bp1, list, status, cycle, host, {beeper, temp.prompter, launcher}};
    QList<DeletionOutcome> outcomes;

    explicit ListCommandsHarness(int tickMs = 1000) : CheckHarness(tickMs)
    {
        QObject::connect(&commands, &ListCommands::deletionFinished,
                         [this](const QString &, DeletionOutcome outcome) { outcomes << outcome; });
    }

    // A list item as a check records it.
    // To and Date as read from a message without them.
    void listMessage(const QString &key, const QString &from, const QString &subject, int size,
                     const QString &account, const QString &uniqueId = {})
    {
        ListedMessage message;
        message.key = key;
        message.from = from;
        message.subject = subject;
        message.sizeBytes = size;
        message.size = MessageListModel::sizeText(size);
        message.account = account;
        message.uniqueId = uniqueId;
        message.to = message.date = QStringLiteral("<NotFound>");
        list.add(message);
        if (!host.selection)
            host.selection = message;
    }

    QStringList messageBoxes() const
    {
        QStringList texts;
        for (const RecordingPrompter::Call &call : temp.prompter.calls)
            if (call.kind == RecordingPrompter::Call::Message)
                texts << call.text;
        return texts;
    }
};

} // namespace testsupport
