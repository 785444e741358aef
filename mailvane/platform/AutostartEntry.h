#pragma once

#include <QString>

// The entry that makes the desktop start Mailvane when the user logs in.
class AutostartEntry
{
public:
    virtual ~AutostartEntry() = default;
    // Writes the entry, replacing one that is there.
    virtual bool install() = 0;
    // Deletes the entry; a missing entry is no error.
    virtual bool remove() = 0;
};

// A freedesktop autostart entry, <folder>/Mailvane.desktop, that starts program.
class XdgAutostartEntry : public AutostartEntry
{
public:
    explicit XdgAutostartEntry(const QString &program = defaultProgram(),
                               const QString &folder = defaultFolder());
    bool install() override;
    bool remove() override;

    QString filePath() const;
    // $XDG_CONFIG_HOME/autostart (~/.config/autostart when unset).
    static QString defaultFolder();
    // The mailvane program in the folder of the running program.
    static QString defaultProgram();
    // The text of the entry.
    static QString contents(const QString &program);

private:
    QString m_program;
    QString m_folder;
};

// For builds and tests that must not touch the user's session: changes nothing.
class NoAutostartEntry : public AutostartEntry
{
public:
    bool install() override { return false; }
    bool remove() override { return false; }
};
