#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>
#include <utility>

class Prompter;
class RegistryStore;
struct sqlite3;
struct sqlite3_stmt;

// The two value types the store keeps, numbered as the Windows registry numbers them.
enum class RegType { String = 1, DWord = 4 };

// One named value. data holds a QString for String and a quint32 for DWord; the empty name is the
// key's default value.
struct RegValue {
    QString name;
    RegType type = RegType::String;
    QVariant data;

    // The data as text: a DWord as a signed decimal number.
    QString text() const;
    bool operator==(const RegValue &other) const = default;
};

// A read-only tree the store shows where a stored key is missing (see RegistryStore::mount).
struct VirtualKey {
    QString name;
    QList<RegValue> values;
    QList<VirtualKey> subKeys;
};

// A handle on one key, stored or shown by a view. A default-constructed or failed lookup gives an
// invalid handle, on which every operation fails quietly. Names compare without regard to case.
class RegistryKey
{
public:
    RegistryKey() = default;

    bool isValid() const { return m_store != nullptr; }
    // Keys of a view cannot be changed.
    bool isReadOnly() const { return m_node != nullptr; }
    QString name() const;
    // "\HKEY_LOCAL_MACHINE\Software\..."
    QString fullPath() const { return m_path; }

    // Opens a subkey; path may name several levels separated by backslashes.
    RegistryKey subKey(const QString &path) const;
    // Adds a subkey, or opens it when it exists. Fails for an empty name or one with a backslash.
    RegistryKey addSubKey(const QString &name) const;
    // Adds the subkeys of a path, one level after the other, opening those that exist.
    RegistryKey addSubKeyPath(const QStringList &names) const;
    // Removes a subkey with everything below it. Fails when it is missing.
    bool removeSubKey(const QString &name) const;
    int subKeyCount() const;
    // Subkey names in the registry's order: alphabetical without regard to case.
    QStringList subKeyNames() const;
    // The n-th subkey of that order, counted from 1.
    RegistryKey subKeyAt(int n) const;

    std::optional<RegValue> value(const QString &name) const;
    // Adds a value; fails when one of that name exists. Without a type, numbers and Booleans become
    // DWord (true as 0xFFFFFFFF) and everything else String.
    bool addValue(const QString &name, const QVariant &data, std::optional<RegType> type = {}) const;
    // Replaces the data of an existing value, converted to the value's type. Fails when the value is
    // missing or the data does not convert.
    bool overwriteValue(const QString &name, const QVariant &data) const;
    // Creates the value or replaces it, type included. A replaced value keeps its place in the order.
    bool setValue(const RegValue &value) const;
    bool removeValue(const QString &name) const;
    int valueCount() const;
    // Values in the order they were created.
    QList<RegValue> values() const;
    // The default (unnamed) value as text.
    std::optional<QString> defaultValue() const;

private:
    friend class RegistryStore;
    // Moves this handle down to a stored subkey, added first when missing and add is set.
    bool descend(const QString &name, bool add);

    RegistryStore *m_store = nullptr;
    qint64 m_id = 0; // stored key
    QString m_path;
    QStringList m_names; // path below the root, for finding views
    int m_root = 0;
    std::shared_ptr<const VirtualKey> m_view; // keeps a view's tree alive
    const VirtualKey *m_node = nullptr;       // key of a view
};

// The settings registry: a tree of keys with String and DWord values, under two root keys, kept in
// one SQLite file. Every change is one transaction, and several processes may share the file.
//
// A file that is not a readable store is moved aside and a fresh one started; a store that cannot be
// written is served from a copy in memory, which takes changes for the run but never writes them to
// the file. Either is told to the user once, through the prompter.
class RegistryStore
{
public:
    enum class Root { LocalMachine, CurrentUser };

    // Opens or creates the store at path (folders included, file mode 0600).
    explicit RegistryStore(const QString &path, Prompter *prompter = nullptr);
    ~RegistryStore();
    RegistryStore(const RegistryStore &) = delete;
    RegistryStore &operator=(const RegistryStore &) = delete;

    // $MAILVANE_REGISTRY, else $XDG_CONFIG_HOME/mailvane/registry.sqlite3 (~/.config when unset).
    static QString defaultPath();

    QString path() const { return m_path; }
    // False when changes cannot reach the file: they then live in memory until the store closes.
    bool isWritable() const { return m_writable; }

    RegistryKey root(Root which);
    // Opens a key by its full path, "\HKEY_CURRENT_USER\..." (the leading backslash is optional).
    RegistryKey open(const QString &fullPath);

    // Shows the tree that build returns at path below a root wherever no stored key of that path
    // exists. build runs afresh each time the key is opened.
    using ViewBuilder = std::function<VirtualKey()>;
    void mount(Root root, const QString &path, ViewBuilder build);

    // Runs work as one transaction: everything it changes is kept when it returns true, nothing
    // otherwise. May nest.
    bool transaction(const std::function<bool()> &work);

    // SQLite's integrity check: "ok" for a sound file.
    QString integrityCheck();

    static QString rootName(Root which);

private:
    friend class RegistryKey;
    struct Mount {
        int root;
        QStringList names;
        ViewBuilder build;
    };

    void openFile();
    bool openDatabase(int flags);
    bool isOurStore(bool *corrupt);
    bool createSchema();
    void serveCopyInMemory();
    void moveAside();
    void closeDatabase();
    // Finalises the statements kept for the open connection.
    void forgetStatements();
    void tell(const QString &text);
    // Runs one change; reports the first failure of a store that cannot be written.
    int write(const char *sql, const QVariantList &args);
    bool writeOk(const char *sql, const QVariantList &args);

    RegistryKey makeKey(qint64 id, int root, const QStringList &names, const QString &path);
    // The id and stored name of a parent's stored subkey.
    std::optional<std::pair<qint64, QString>> findStoredSubKey(qint64 parent, const QString &name);
    RegistryKey viewSubKey(const RegistryKey &parent, const QString &name);

    QString m_path;
    Prompter *m_prompter;
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_findSubKey = nullptr; // kept prepared: see findStoredSubKey
    bool m_writable = false;
    bool m_toldWriteFailure = false;
    int m_transactionDepth = 0;
    QList<Mount> m_mounts;
};

// The key form of a name: every character in upper case, one by one, as the registry compares and
// orders names.
QString registryNameKey(const QString &name);
