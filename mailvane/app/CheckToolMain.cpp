// mailvane-check: one mail check with the stored settings, without a window.
#include "main/CheckCycle.h"
#include "main/HeaderDecoder.h"
#include "main/MessageListModel.h"
#include "main/StatusSink.h"
#include "platform/AccessTokens.h"
#include "platform/AutostartEntry.h"
#include "platform/Beeper.h"
#include "platform/Connectivity.h"
#include "platform/Dialer.h"
#include "platform/PasswordVault.h"
#include "platform/Prompter.h"
#include "platform/RegistryStore.h"
#include "platform/SoundPlayer.h"
#include "platform/SystemViews.h"
#include "settings/POPConfig.h"

#include "BasicPOP.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

namespace {

enum ExitStatus { CheckedCleanly = 0, CheckedWithErrors = 1, NoAccounts = 2, EndedEarly = 3 };

QJsonObject toJson(const ListedMessage &m)
{
    return {{"key", m.key},
            {"from", m.from},
            {"subject", m.subject},
            {"fromDisplay", decodeHeaderForDisplay(m.from)},
            {"subjectDisplay", decodeHeaderForDisplay(m.subject)},
            {"size", m.sizeBytes},
            {"sizeText", m.size},
            {"account", m.account}};
}

QJsonObject toJson(const RejectedMessage &m)
{
    return {{"accountIndex", m.accountIndex}, {"account", m.account}, {"number", m.number},
            {"from", m.from},                 {"subject", m.subject}, {"size", m.size},
            {"fromDisplay", decodeHeaderForDisplay(m.from)}, {"subjectDisplay", decodeHeaderForDisplay(m.subject)},
            {"reason", rejectReasonName(m.reason)}, {"deleted", m.deleted}};
}

void printJson(const QList<ListedMessage> &listed, const QList<RejectedMessage> &rejected, const QStringList &errors,
               const StatusSink &status, int newMessageCount)
{
    QJsonArray messages;
    for (const ListedMessage &m : listed)
        messages.append(toJson(m));
    QJsonArray rejects;
    for (const RejectedMessage &m : rejected)
        rejects.append(toJson(m));
    const QJsonObject result{{"messages", messages},
                             {"rejected", rejects},
                             {"errors", QJsonArray::fromStringList(errors)},
                             {"status", QJsonArray::fromStringList({status.panel(1), status.panel(2), status.panel(3)})},
                             {"newMessageCount", newMessageCount}};
    QTextStream(stdout) << QJsonDocument(result).toJson(QJsonDocument::Compact) << '\n';
}

// Padded to width characters, to the left (negative width) or to the right. Rows are built by
// concatenation: a text of a message is never read as a format, so "50%4" stays as it is.
QString column(const QString &text, int width)
{
    return width < 0 ? text.leftJustified(-width) : text.rightJustified(width);
}

QString row(const QString &key, const QString &from, const QString &subject, const QString &size,
            const QString &account)
{
    return column(key, -8) + "  " + column(from.left(32), -32) + "  " + column(subject.left(32), -32) + "  " +
           column(size, 8) + "  " + account + '\n';
}

void printText(const QList<ListedMessage> &listed, const QList<RejectedMessage> &rejected, const QStringList &errors,
               const StatusSink &status, bool dryRun)
{
    QTextStream out(stdout);
    if (!listed.isEmpty()) {
        out << row("Key", "From", "Subject", "Size", "Account");
        for (const ListedMessage &m : listed)
            out << row(m.key, decodeHeaderForDisplay(m.from), decodeHeaderForDisplay(m.subject), m.size, m.account);
    }
    for (const RejectedMessage &m : rejected) {
        const QString action = m.deleted ? "Deleted" : dryRun ? "Would delete" : "Not deleted";
        out << action << " message " << m.number << " of " << m.account << " (" << rejectReasonName(m.reason)
            << "): " << decodeHeaderForDisplay(m.from) << " / " << decodeHeaderForDisplay(m.subject) << '\n';
    }
    for (const QString &error : errors)
        out << "Error: " << error << '\n';
    out << status.panel(2) << "  " << status.panel(3) << '\n';
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("mailvane-check");

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Checks the POP3 accounts of the stored settings once: deletes on the server what the filters "
        "reject and lists the rest.\nThe settings store is $MAILVANE_REGISTRY when that is set, else "
        "$XDG_CONFIG_HOME/mailvane/registry.sqlite3.");
    parser.addHelpOption();
    const QCommandLineOption force("force", "Check even when the system reports no connection (dialling "
                                            "the configured connection if there is one).");
    const QCommandLineOption dryRun("dry-run", "Evaluate every filter but delete nothing on the server.");
    const QCommandLineOption json("json", "Print the result as one JSON object.");
    parser.addOptions({force, dryRun, json});
    parser.process(app);

    ConsolePrompter prompter;
    RegistryStore store(RegistryStore::defaultPath(), &prompter);
    mountSystemViews(store);
    NoAutostartEntry autostart;
    KeychainVault vault;
    POPConfig config({store, prompter, autostart, &vault});
    if (config.NumberOfAccounts() == 0) {
        std::fputs("You must set up an account first\n", stderr);
        return NoAccounts;
    }

    NetworkInfoConnectivity connectivity;
    NetworkManagerDialer dialer;
    NullSoundPlayer soundPlayer; // no window, no notification: the output is the report
    NullBeeper beeper;
    wrenkit::BasicPOP bp1;
    MessageListModel list;
    TextStatusSink status;
    // Tokens are renewed as the program renews them; no browser is ever opened from here.
    OAuthTokenSource tokens;
    CheckCycle cycle(bp1, list, status, {connectivity, dialer, soundPlayer, beeper, prompter, nullptr, &tokens});
    cycle.setConfig(&config);
    cycle.setDryRun(parser.isSet(dryRun));
    // What the desktop program has shown as new stays its business.
    cycle.setRemembersMessages(false);

    QList<RejectedMessage> rejected;
    QStringList errors;
    bool summary = false;
    QObject::connect(&cycle, &CheckCycle::messageRejected, [&](const RejectedMessage &m) { rejected.append(m); });
    QObject::connect(&cycle, &CheckCycle::errorReported, [&](const QString &text) { errors.append(text); });
    QObject::connect(&cycle, &CheckCycle::checkFinished, [&](bool withSummary) { summary = withSummary; });
    QObject::connect(&cycle, &CheckCycle::signInNeeded, [](const QString &account) {
        std::fprintf(stderr, "%s: sign in with: mailvane-settings sign-in \"%s\"\n", qUtf8Printable(account),
                     qUtf8Printable(account));
    });

    status.setPanel(1, "Selected Client: " + config.SelectedClient());
    // Like the timer: without a connection, check only when asked to dial.
    if (!parser.isSet(force) && !cycle.Connected() && !config.Connect()) {
        std::fputs("Not Connected\n", stderr);
        return EndedEarly;
    }
    cycle.CheckMail();

    if (parser.isSet(json))
        printJson(list.messages(), rejected, errors, status, cycle.NewMessageCount());
    else
        printText(list.messages(), rejected, errors, status, parser.isSet(dryRun));
    if (!summary)
        return EndedEarly;
    // A message a filter rejected that is still on the server is a failure, whatever its cause.
    const bool allDeleted = parser.isSet(dryRun) || std::all_of(rejected.begin(), rejected.end(),
                                                                [](const RejectedMessage &m) { return m.deleted; });
    return errors.isEmpty() && allDeleted ? CheckedCleanly : CheckedWithErrors;
}
