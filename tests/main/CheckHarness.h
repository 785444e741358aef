#pragma once

// A check cycle over a temporary settings store, with recording stand-ins for the system.
#include "BasicPOP.h"
#include "PlatformFakes.h"
#include "TempStore.h"
#include "main/CheckCycle.h"
#include "main/MessageListModel.h"
#include "main/StatusSink.h"
#include "platform/DesktopNotifier.h"
#include "platform/RegistryStore.h"
#include "settings/POPConfig.h"

#include <QStringList>
#include <memory>

namespace testsupport {

struct CheckHarness
{
    TempStore temp;
    FakeConnectivity connectivity;
    RecordingDialer dialer;
    RecordingSoundPlayer sound;
    RecordingBeeper beeper;
    ScriptedTokenSource tokens;
    wrenkit::BasicPOP bp1;
    MessageListModel list;
    TextStatusSink status;
    std::unique_ptr<POPConfig> config;
    CheckCycle cycle;

    QList<RejectedMessage> rejected;
    QStringList errors;
    QList<bool> finished; // checkFinished, in order
    bool busyDuringErrors = true;

    // tickMs shortens the POP3 control's one-second ticks, and so the time-outs of the settings.
    // notifier: the desktop notifications, none when null.
    explicit CheckHarness(int tickMs = 1000, DesktopNotifier *notifier = nullptr)
        : cycle(bp1, list, status, {connectivity, dialer, sound, beeper, temp.prompter, notifier, &tokens})
    {
        bp1.setTickInterval(tickMs);
        QObject::connect(&cycle, &CheckCycle::messageRejected, [this](const RejectedMessage &m) { rejected << m; });
        QObject::connect(&cycle, &CheckCycle::errorReported, [this](const QString &text) {
            errors << text;
            busyDuringErrors = busyDuringErrors && cycle.Busy();
        });
        QObject::connect(&cycle, &CheckCycle::checkFinished, [this](bool summary) { finished << summary; });
    }

    // Adds an account as the dialogs would, with the port the test server listens on.
    void addAccount(const QString &name, const QString &user, const QString &password, quint16 port,
                    bool selected = true)
    {
        POPConfig setup(temp.services());
        setup.AddAccount(name, QStringLiteral("127.0.0.1"), user, password);
        temp.store()
            .root(RegistryStore::Root::LocalMachine)
            .subKey(QStringLiteral("Software\\Corvanta\\Mailvane 1.0\\Accounts\\") + name)
            .addValue(QStringLiteral("Port"), int(port), RegType::DWord);
        if (!selected) {
            POPConfig reloaded(temp.services());
            for (int i = 0; i < reloaded.NumberOfAccounts(); ++i)
                if (reloaded.AccountName(i) == name)
                    reloaded.setAcctSel(i, false);
        }
    }

    // A fresh settings object for the cycle, as the main window makes one.
    POPConfig &loadConfig()
    {
        config = std::make_unique<POPConfig>(temp.services());
        cycle.setConfig(config.get());
        return *config;
    }

    QStringList keys() const
    {
        QStringList result;
        for (const ListedMessage &m : list.messages())
            result << m.key;
        return result;
    }
};

} // namespace testsupport
