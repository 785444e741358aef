#pragma once

#include "RegistryStore.h"

#include <QByteArray>
#include <QString>

// The store as text in the REGEDIT4 format, UTF-8:
//   [HKEY_LOCAL_MACHINE\Software\...]    a key (every key is listed, empty ones too)
//   "Name"="text"                        a String value; \\ and \" escape, and \n and \r stand for
//                                        line breaks
//   "Name"=dword:0000000a                a DWord value
//   @="text"                             the default value
// An import also takes [-path] to remove a key and "Name"=- to remove a value.

// The key and everything below it.
QString exportRegFile(const RegistryKey &top);
// Both root keys and everything below them.
QString exportRegFile(RegistryStore &store);

struct RegImportResult {
    bool ok = true;
    int line = 0; // where the error is
    QString error;
};

// Applies a REGEDIT4 text as one transaction: a text with an error changes nothing.
RegImportResult importRegFile(RegistryStore &store, const QByteArray &content);
