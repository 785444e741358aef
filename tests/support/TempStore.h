#pragma once

#include "platform/AutostartEntry.h"
#include "platform/Prompter.h"
#include "platform/RegistryStore.h"
#include "settings/POPConfig.h"

#include <QTemporaryDir>

#include <memory>

namespace testsupport
{

// A registry store in a fresh temporary folder, with a prompter that records what the store tells
// the user and an autostart entry that does nothing.
class TempStore
{
public:
    TempStore();

    QString dir() const { return m_dir.path(); }
    QString path() const { return m_dir.filePath(QStringLiteral("registry.sqlite3")); }

    // The store, opened on first use.
    RegistryStore &store();
    // Closes the store; the next store() opens the file again, as a new program would.
    void close() { m_store.reset(); }

    SettingsServices services() { return {store(), prompter, autostart}; }

    RecordingPrompter prompter;
    NoAutostartEntry autostart;

private:
    QTemporaryDir m_dir;
    std::unique_ptr<RegistryStore> m_store;
};

} // namespace testsupport
