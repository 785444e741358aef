#pragma once

#include "RegistryStore.h"

#include <QList>
#include <QString>
#include <QStringList>

// An installed program that handles mailto: links, as its desktop entry describes it.
struct DesktopMailClient {
    QString name;
    QString command; // the Exec line without field codes
};

// The data folders that hold desktop entries, most important first: $XDG_DATA_HOME, then $XDG_DATA_DIRS
// (with the defaults of the base directory specification).
QStringList xdgDataDirs();

// The desktop entries under <dir>/applications that handle x-scheme-handler/mailto. An entry found in
// an earlier folder hides one of the same desktop file id in a later folder.
QList<DesktopMailClient> findMailClients(const QStringList &dataDirs);

// An Exec value with its field codes (%u, %F, ...) removed and "%%" turned into "%".
QString stripFieldCodes(const QString &exec);

// The clients as registry keys: one subkey per client, named by its Name, whose Shell\open\Command
// default value is the command.
VirtualKey mailClientsView(const QList<DesktopMailClient> &clients);
