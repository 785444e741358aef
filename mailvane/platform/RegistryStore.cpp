#include "RegistryStore.h"

#include "Prompter.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

#include <algorithm>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// "MVNR" in the file header marks a Mailvane registry.
constexpr int kApplicationId = 0x4d564e52;
constexpr int kSchemaVersion = 1;
constexpr qint64 kRootIds[] = {1, 2};

const char *const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS keys(
    id INTEGER PRIMARY KEY,
    parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,
    name TEXT NOT NULL,
    nkey TEXT NOT NULL);
CREATE UNIQUE INDEX IF NOT EXISTS keys_by_name ON keys(parent, nkey);
CREATE TABLE IF NOT EXISTS vals(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,
    name TEXT NOT NULL,
    nkey TEXT NOT NULL,
    type INTEGER NOT NULL,
    data);
CREATE UNIQUE INDEX IF NOT EXISTS vals_by_name ON vals(key, nkey);
INSERT OR IGNORE INTO keys VALUES(1, NULL, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE');
INSERT OR IGNORE INTO keys VALUES(2, NULL, 'HKEY_CURRENT_USER', 'HKEY_CURRENT_USER');
INSERT OR IGNORE INTO keys VALUES(3, 1, 'Software', 'SOFTWARE');
PRAGMA application_id = 1297501778;
PRAGMA user_version = 1;
)sql";
static_assert(kApplicationId == 1297501778);
static_assert(kSchemaVersion == 1);

// One prepared statement with its arguments bound.
class Query
{
public:
    Query(sqlite3 *db, const char *sql, const QVariantList &args = {})
    {
        rc = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr);
        for (int i = 0; rc == SQLITE_OK && i < args.size(); ++i) {
            const QVariant &arg = args.at(i);
            if (!arg.isValid()) {
                rc = sqlite3_bind_null(m_stmt, i + 1);
            } else if (arg.typeId() == QMetaType::QString) {
                const QByteArray utf8 = arg.toString().toUtf8();
                rc = sqlite3_bind_text(m_stmt, i + 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
            } else {
                rc = sqlite3_bind_int64(m_stmt, i + 1, arg.toLongLong());
            }
        }
    }
    ~Query() { sqlite3_finalize(m_stmt); }
    Query(const Query &) = delete;
    Query &operator=(const Query &) = delete;

    // Steps once: true while there is a row. rc then holds SQLITE_DONE, or the failure.
    bool next()
    {
        if (rc != SQLITE_OK && rc != SQLITE_ROW)
            return false;
        rc = sqlite3_step(m_stmt);
        return rc == SQLITE_ROW;
    }
    bool done() { return rc == SQLITE_DONE; }
    QString text(int col) const
    {
        return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, col)),
                                 sqlite3_column_bytes(m_stmt, col));
    }
    qint64 integer(int col) const { return sqlite3_column_int64(m_stmt, col); }

    int rc = SQLITE_OK;

private:
    sqlite3_stmt *m_stmt = nullptr;
};

qint64 scalar(sqlite3 *db, const char *sql, const QVariantList &args = {})
{
    Query q(db, sql, args);
    return q.next() ? q.integer(0) : 0;
}

// Failures that mean the file cannot take changes, as against a change that is refused (a name taken).
bool isStoreFailure(int rc)
{
    switch (rc & 0xff) {
    case SQLITE_READONLY:
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_NOMEM:
        return true;
    default:
        return false;
    }
}

bool validKeyName(const QString &name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('\\'));
}

std::optional<quint32> toDWord(const QVariant &data)
{
    qint64 n = 0;
    bool ok = true;
    switch (data.typeId()) {
    case QMetaType::Bool:
        return data.toBool() ? 0xFFFFFFFFu : 0u;
    case QMetaType::QString:
    case QMetaType::QByteArray:
        n = data.toString().trimmed().toLongLong(&ok);
        break;
    default:
        n = data.toLongLong(&ok);
    }
    if (!ok || n < -0x80000000LL || n > 0xFFFFFFFFLL)
        return std::nullopt;
    return quint32(n);
}

QString toText(const QVariant &data)
{
    if (data.typeId() == QMetaType::Bool)
        return data.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    return data.toString();
}

std::optional<RegValue> makeValue(const QString &name, const QVariant &data, RegType type)
{
    if (type == RegType::String)
        return RegValue{name, type, toText(data)};
    const auto n = toDWord(data);
    if (!n)
        return std::nullopt;
    return RegValue{name, type, QVariant::fromValue(*n)};
}

bool sameNames(const QStringList &a, const QStringList &b, qsizetype count)
{
    for (qsizetype i = 0; i < count; ++i) {
        if (registryNameKey(a.at(i)) != registryNameKey(b.at(i)))
            return false;
    }
    return true;
}

// Puts a view's subkeys in the registry's order, dropping names that repeat.
void normalise(VirtualKey &key)
{
    std::stable_sort(key.subKeys.begin(), key.subKeys.end(), [](const VirtualKey &a, const VirtualKey &b) {
        return registryNameKey(a.name) < registryNameKey(b.name);
    });
    auto same = [](const VirtualKey &a, const VirtualKey &b) {
        return registryNameKey(a.name) == registryNameKey(b.name);
    };
    key.subKeys.erase(std::unique(key.subKeys.begin(), key.subKeys.end(), same), key.subKeys.end());
    for (VirtualKey &sub : key.subKeys)
        normalise(sub);
}

void graft(VirtualKey &node, QStringList rest, const RegistryStore::ViewBuilder &build)
{
    if (rest.isEmpty()) {
        VirtualKey view = build();
        node.values += view.values;
        node.subKeys += view.subKeys;
        return;
    }
    const QString name = rest.takeFirst();
    auto it = std::find_if(node.subKeys.begin(), node.subKeys.end(), [&](const VirtualKey &k) {
        return registryNameKey(k.name) == registryNameKey(name);
    });
    if (it == node.subKeys.end()) {
        node.subKeys.append(VirtualKey{name, {}, {}});
        it = node.subKeys.end() - 1;
    }
    graft(*it, rest, build);
}

const VirtualKey *findChild(const VirtualKey *node, const QString &name)
{
    const QString key = registryNameKey(name);
    for (const VirtualKey &sub : node->subKeys) {
        if (registryNameKey(sub.name) == key)
            return &sub;
    }
    return nullptr;
}

} // namespace

QString registryNameKey(const QString &name)
{
    QList<uint> codes = name.toUcs4();
    for (uint &c : codes)
        c = QChar::toUpper(c);
    return QString::fromUcs4(reinterpret_cast<const char32_t *>(codes.constData()), codes.size());
}

QString RegValue::text() const
{
    return type == RegType::DWord ? QString::number(qint32(data.toUInt())) : data.toString();
}

// --- RegistryKey ---

QString RegistryKey::name() const
{
    return m_path.section(QLatin1Char('\\'), -1);
}

RegistryKey RegistryKey::subKey(const QString &path) const
{
    RegistryKey key = *this;
    for (const QString &name : path.split(QLatin1Char('\\'))) {
        if (!key.isValid() || !validKeyName(name))
            return {};
        if (key.m_node) {
            const VirtualKey *child = findChild(key.m_node, name);
            if (!child)
                return {};
            key.m_node = child;
            key.m_path += QLatin1Char('\\') + child->name;
            key.m_names.append(child->name);
            continue;
        }
        if (!key.descend(name, false))
            key = m_store->viewSubKey(key, name);
    }
    return key;
}

RegistryKey RegistryKey::addSubKey(const QString &name) const
{
    RegistryKey key = *this;
    return key.descend(name, true) ? key : RegistryKey();
}

RegistryKey RegistryKey::addSubKeyPath(const QStringList &names) const
{
    RegistryKey key = *this;
    for (const QString &name : names) {
        if (!key.descend(name, true))
            return {};
    }
    return key;
}

bool RegistryKey::descend(const QString &name, bool add)
{
    if (!isValid() || m_node || !validKeyName(name))
        return false;
    auto found = m_store->findStoredSubKey(m_id, name);
    if (!found && add) {
        const int rc = m_store->write("INSERT INTO keys(parent, name, nkey) VALUES(?, ?, ?)",
                                      {m_id, name, registryNameKey(name)});
        if (rc != SQLITE_DONE && (rc & 0xff) != SQLITE_CONSTRAINT)
            return false;
        // A constraint failure means another process added it meanwhile.
        found = m_store->findStoredSubKey(m_id, name);
    }
    if (!found)
        return false;
    // Appending in place keeps a walk down many levels linear in the path's length.
    m_id = found->first;
    m_names.append(found->second);
    m_path += QLatin1Char('\\') + found->second;
    return true;
}

bool RegistryKey::removeSubKey(const QString &name) const
{
    if (!isValid() || m_node || !validKeyName(name))
        return false;
    return m_store->writeOk("DELETE FROM keys WHERE parent = ? AND nkey = ?",
                            {m_id, registryNameKey(name)}) &&
           sqlite3_changes(m_store->m_db) > 0;
}

int RegistryKey::subKeyCount() const
{
    return int(subKeyNames().size());
}

QStringList RegistryKey::subKeyNames() const
{
    QList<std::pair<QString, QString>> keyed;
    if (m_node) {
        for (const VirtualKey &sub : m_node->subKeys)
            keyed.append({registryNameKey(sub.name), sub.name});
    } else if (isValid()) {
        Query q(m_store->m_db, "SELECT nkey, name FROM keys WHERE parent = ?", {m_id});
        while (q.next())
            keyed.append({q.text(0), q.text(1)});
        std::sort(keyed.begin(), keyed.end());
    }
    QStringList names;
    for (const auto &entry : keyed)
        names.append(entry.second);
    return names;
}

RegistryKey RegistryKey::subKeyAt(int n) const
{
    const QStringList names = subKeyNames();
    return n >= 1 && n <= names.size() ? subKey(names.at(n - 1)) : RegistryKey();
}

std::optional<RegValue> RegistryKey::value(const QString &name) const
{
    const QString key = registryNameKey(name);
    if (m_node) {
        for (const RegValue &v : m_node->values) {
            if (registryNameKey(v.name) == key)
                return v;
        }
        return std::nullopt;
    }
    if (!isValid())
        return std::nullopt;
    Query q(m_store->m_db, "SELECT name, type, data FROM vals WHERE key = ? AND nkey = ?", {m_id, key});
    if (!q.next())
        return std::nullopt;
    const auto type = RegType(q.integer(1));
    return RegValue{q.text(0), type,
                    type == RegType::DWord ? QVariant::fromValue(quint32(q.integer(2)))
                                           : QVariant(q.text(2))};
}

bool RegistryKey::addValue(const QString &name, const QVariant &data, std::optional<RegType> type) const
{
    if (!isValid() || m_node)
        return false;
    if (!type) {
        const bool isText = data.typeId() == QMetaType::QString || !toDWord(data);
        type = isText ? RegType::String : RegType::DWord;
    }
    const auto v = makeValue(name, data, *type);
    return v && m_store->writeOk("INSERT INTO vals(key, name, nkey, type, data) VALUES(?, ?, ?, ?, ?)",
                                 {m_id, name, registryNameKey(name), int(v->type), v->data});
}

bool RegistryKey::overwriteValue(const QString &name, const QVariant &data) const
{
    const auto old = value(name);
    if (!old || m_node)
        return false;
    const auto v = makeValue(name, data, old->type);
    return v &&
           m_store->writeOk("UPDATE vals SET data = ? WHERE key = ? AND nkey = ?",
                            {v->data, m_id, registryNameKey(name)}) &&
           sqlite3_changes(m_store->m_db) > 0;
}

bool RegistryKey::setValue(const RegValue &value) const
{
    if (!isValid() || m_node)
        return false;
    const auto v = makeValue(value.name, value.data, value.type);
    return v &&
           m_store->writeOk("INSERT INTO vals(key, name, nkey, type, data) VALUES(?, ?, ?, ?, ?) "
                            "ON CONFLICT(key, nkey) DO UPDATE SET type = excluded.type, data = excluded.data",
                            {m_id, v->name, registryNameKey(v->name), int(v->type), v->data});
}

bool RegistryKey::removeValue(const QString &name) const
{
    if (!isValid() || m_node)
        return false;
    return m_store->writeOk("DELETE FROM vals WHERE key = ? AND nkey = ?", {m_id, registryNameKey(name)}) &&
           sqlite3_changes(m_store->m_db) > 0;
}

int RegistryKey::valueCount() const
{
    if (m_node)
        return int(m_node->values.size());
    return isValid() ? int(scalar(m_store->m_db, "SELECT count(*) FROM vals WHERE key = ?", {m_id})) : 0;
}

QList<RegValue> RegistryKey::values() const
{
    if (m_node)
        return m_node->values;
    QList<RegValue> result;
    if (!isValid())
        return result;
    Query q(m_store->m_db, "SELECT name, type, data FROM vals WHERE key = ? ORDER BY id", {m_id});
    while (q.next()) {
        const auto type = RegType(q.integer(1));
        result.append(
            {q.text(0), type,
             type == RegType::DWord ? QVariant::fromValue(quint32(q.integer(2))) : QVariant(q.text(2))});
    }
    return result;
}

std::optional<QString> RegistryKey::defaultValue() const
{
    const auto v = value(QString());
    return v ? std::optional<QString>(v->text()) : std::nullopt;
}

// --- RegistryStore ---

RegistryStore::RegistryStore(const QString &path, Prompter *prompter) : m_path(path), m_prompter(prompter)
{
    openFile();
}

RegistryStore::~RegistryStore()
{
    closeDatabase();
}

QString RegistryStore::defaultPath()
{
    const QString explicitPath = qEnvironmentVariable("MAILVANE_REGISTRY");
    if (!explicitPath.isEmpty())
        return explicitPath;
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/mailvane/registry.sqlite3");
}

QString RegistryStore::rootName(Root which)
{
    return which == Root::LocalMachine ? QStringLiteral("HKEY_LOCAL_MACHINE")
                                       : QStringLiteral("HKEY_CURRENT_USER");
}

RegistryKey RegistryStore::root(Root which)
{
    return makeKey(kRootIds[int(which)], int(which), {}, QLatin1Char('\\') + rootName(which));
}

RegistryKey RegistryStore::open(const QString &fullPath)
{
    QString path = fullPath.startsWith(QLatin1Char('\\')) ? fullPath.mid(1) : fullPath;
    const QString first = path.section(QLatin1Char('\\'), 0, 0);
    const QString rest = path.section(QLatin1Char('\\'), 1);
    for (Root which : {Root::LocalMachine, Root::CurrentUser}) {
        if (registryNameKey(first) == rootName(which))
            return rest.isEmpty() ? root(which) : root(which).subKey(rest);
    }
    return {};
}

void RegistryStore::mount(Root root, const QString &path, ViewBuilder build)
{
    m_mounts.append({int(root), path.split(QLatin1Char('\\')), std::move(build)});
}

RegistryKey RegistryStore::makeKey(qint64 id, int root, const QStringList &names, const QString &path)
{
    RegistryKey key;
    key.m_store = this;
    key.m_id = id;
    key.m_root = root;
    key.m_names = names;
    key.m_path = path;
    return key;
}

std::optional<std::pair<qint64, QString>> RegistryStore::findStoredSubKey(qint64 parent, const QString &name)
{
    // Every level of every key path passes here: the statement is prepared once per connection.
    if (!m_findSubKey &&
        sqlite3_prepare_v3(m_db, "SELECT id, name FROM keys WHERE parent = ? AND nkey = ?", -1,
                           SQLITE_PREPARE_PERSISTENT, &m_findSubKey, nullptr) != SQLITE_OK) {
        sqlite3_finalize(m_findSubKey);
        m_findSubKey = nullptr;
        return std::nullopt;
    }
    const QByteArray nkey = registryNameKey(name).toUtf8();
    std::optional<std::pair<qint64, QString>> found;
    if (sqlite3_bind_int64(m_findSubKey, 1, parent) == SQLITE_OK &&
        sqlite3_bind_text(m_findSubKey, 2, nkey.constData(), int(nkey.size()), SQLITE_STATIC) == SQLITE_OK &&
        sqlite3_step(m_findSubKey) == SQLITE_ROW) {
        found =
            std::pair(sqlite3_column_int64(m_findSubKey, 0),
                      QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(m_findSubKey, 1)),
                                        sqlite3_column_bytes(m_findSubKey, 1)));
    }
    sqlite3_reset(m_findSubKey);
    sqlite3_clear_bindings(m_findSubKey);
    return found;
}

RegistryKey RegistryStore::viewSubKey(const RegistryKey &parent, const QString &name)
{
    const QStringList names = parent.m_names + QStringList{name};
    auto view = std::make_shared<VirtualKey>();
    bool found = false;
    for (const Mount &m : std::as_const(m_mounts)) {
        if (m.root != parent.m_root || m.names.size() < names.size() ||
            !sameNames(m.names, names, names.size()))
            continue;
        if (!found)
            view->name = m.names.at(names.size() - 1);
        found = true;
        graft(*view, m.names.mid(names.size()), m.build);
    }
    if (!found)
        return {};
    normalise(*view);
    RegistryKey key = makeKey(0, parent.m_root, names, parent.m_path + QLatin1Char('\\') + view->name);
    key.m_view = view;
    key.m_node = view.get();
    return key;
}

bool RegistryStore::transaction(const std::function<bool()> &work)
{
    const bool outer = m_transactionDepth == 0;
    if (!writeOk(outer ? "BEGIN IMMEDIATE" : "SAVEPOINT nested", {}))
        return false;
    ++m_transactionDepth;
    bool ok = work();
    --m_transactionDepth;
    if (ok)
        ok = writeOk(outer ? "COMMIT" : "RELEASE nested", {});
    if (!ok) {
        if (outer) {
            if (!sqlite3_get_autocommit(m_db))
                sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        } else {
            sqlite3_exec(m_db, "ROLLBACK TO nested; RELEASE nested", nullptr, nullptr, nullptr);
        }
    }
    return ok;
}

QString RegistryStore::integrityCheck()
{
    Query q(m_db, "PRAGMA integrity_check");
    QStringList lines;
    while (q.next())
        lines.append(q.text(0));
    if (!q.done())
        lines.append(QString::fromUtf8(sqlite3_errstr(q.rc)));
    return lines.join(QLatin1Char('\n'));
}

int RegistryStore::write(const char *sql, const QVariantList &args)
{
    Query q(m_db, sql, args);
    while (q.next()) {
    }
    if (!q.done() && isStoreFailure(q.rc) && !m_toldWriteFailure) {
        m_toldWriteFailure = true;
        tell(QStringLiteral("Mailvane cannot save its settings in %1 (%2). Changes made now are lost when "
                            "Mailvane ends.")
                 .arg(QDir::toNativeSeparators(m_path), QString::fromUtf8(sqlite3_errstr(q.rc))));
    }
    return q.rc;
}

bool RegistryStore::writeOk(const char *sql, const QVariantList &args)
{
    return write(sql, args) == SQLITE_DONE;
}

void RegistryStore::tell(const QString &text)
{
    if (m_prompter)
        m_prompter->message(QStringLiteral("Mailvane"), text);
    else
        qWarning("%s", qUtf8Printable(text));
}

namespace
{
// Makes the folder and, for a new store, an empty file only its owner may read. An existing file
// loses any access for group and others; the owner's bits stay, so a read-only file stays read-only.
void prepareFile(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QByteArray native = QFile::encodeName(path);
    struct stat info {
    };
    if (::stat(native.constData(), &info) != 0) {
        const int fd = ::open(native.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
    } else if (info.st_mode & (S_IRWXG | S_IRWXO)) {
        ::chmod(native.constData(), info.st_mode & S_IRWXU);
    }
}
} // namespace

void RegistryStore::openFile()
{
    prepareFile(m_path);
    QString problem;
    if (openDatabase(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) {
        bool corrupt = false;
        if (isOurStore(&corrupt)) {
            if (!m_writable)
                serveCopyInMemory();
            return;
        }
        problem = QString::fromUtf8(sqlite3_errmsg(m_db));
        closeDatabase();
        if (corrupt) {
            moveAside();
            prepareFile(m_path);
            if (openDatabase(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) && isOurStore(&corrupt))
                return;
            closeDatabase();
        }
    } else {
        problem = QString::fromUtf8(sqlite3_errstr(SQLITE_CANTOPEN));
    }
    // Last resort: an empty store in memory, so the program still runs on its defaults.
    if (openDatabase(SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY))
        createSchema();
    m_writable = false;
    m_toldWriteFailure = true;
    tell(QStringLiteral("Mailvane cannot open its settings file %1 (%2). It runs with default settings, "
                        "and changes are not saved.")
             .arg(QDir::toNativeSeparators(m_path), problem));
}

bool RegistryStore::openDatabase(int flags)
{
    const QByteArray name = (flags & SQLITE_OPEN_MEMORY) ? QByteArray(":memory:") : QFile::encodeName(m_path);
    if (sqlite3_open_v2(name.constData(), &m_db, flags, nullptr) != SQLITE_OK) {
        closeDatabase();
        return false;
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, 10000);
    sqlite3_exec(m_db, "PRAGMA foreign_keys = ON", nullptr, nullptr, nullptr);
    m_writable = !sqlite3_db_readonly(m_db, "main");
    return true;
}

// True when the open file is a sound store of ours (a new, empty file becomes one). corrupt tells a
// file that is damaged or not a store from one that merely cannot be read now.
bool RegistryStore::isOurStore(bool *corrupt)
{
    *corrupt = false;
    {
        Query check(m_db, "PRAGMA quick_check");
        const bool row = check.next();
        const int rc = check.rc & 0xff;
        if (rc == SQLITE_NOTADB || rc == SQLITE_CORRUPT || (row && check.text(0) != QLatin1String("ok"))) {
            *corrupt = true;
            return false;
        }
        if (!row)
            return false;
    }
    const qint64 id = scalar(m_db, "PRAGMA application_id");
    const qint64 objects = scalar(m_db, "SELECT count(*) FROM sqlite_master");
    if (id == 0 && objects == 0) {
        if (m_writable && !createSchema())
            return false;
    } else if (id != kApplicationId) {
        *corrupt = true;
        return false;
    }
    if (m_writable) {
        sqlite3_exec(m_db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
        sqlite3_exec(m_db, "PRAGMA synchronous = FULL", nullptr, nullptr, nullptr);
    } else if (!m_toldWriteFailure) {
        m_toldWriteFailure = true;
        tell(
            QStringLiteral("Mailvane cannot save its settings in %1: the file is read-only. Changes made now "
                           "are lost when Mailvane ends.")
                .arg(QDir::toNativeSeparators(m_path)));
    }
    return true;
}

// Moves the open file's content into a store in memory and lets go of the file. Settings that the
// file lacks can then be repaired and filled in, for this run only, without touching the file. When
// the copy fails the file stays open for reading.
void RegistryStore::serveCopyInMemory()
{
    forgetStatements();
    sqlite3 *file = m_db;
    m_db = nullptr;
    bool ok = openDatabase(SQLITE_OPEN_READWRITE | SQLITE_OPEN_MEMORY);
    if (ok) {
        // A store in memory takes a copy only in its own page size.
        const QByteArray pageSize =
            "PRAGMA page_size = " + QByteArray::number(scalar(file, "PRAGMA page_size"));
        sqlite3_exec(m_db, pageSize.constData(), nullptr, nullptr, nullptr);
        sqlite3_backup *backup = sqlite3_backup_init(m_db, "main", file, "main");
        ok = backup && sqlite3_backup_step(backup, -1) == SQLITE_DONE;
        ok = sqlite3_backup_finish(backup) == SQLITE_OK && ok;
        ok = ok && (scalar(m_db, "SELECT count(*) FROM sqlite_master") > 0 || createSchema());
    }
    if (ok) {
        sqlite3_close_v2(file);
    } else {
        closeDatabase();
        m_db = file;
    }
    m_writable = false;
}

bool RegistryStore::createSchema()
{
    return transaction(
        [this] { return sqlite3_exec(m_db, kSchema, nullptr, nullptr, nullptr) == SQLITE_OK; });
}

void RegistryStore::moveAside()
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = m_path + QStringLiteral(".unreadable-") + stamp;
    for (int n = 2; QFile::exists(aside); ++n)
        aside = m_path + QStringLiteral(".unreadable-%1-%2").arg(stamp).arg(n);
    if (!QFile::rename(m_path, aside))
        return;
    for (const char *suffix : {"-wal", "-shm"}) {
        if (QFile::exists(m_path + QLatin1String(suffix)))
            QFile::rename(m_path + QLatin1String(suffix), aside + QLatin1String(suffix));
    }
    tell(QStringLiteral("The settings file %1 could not be read. It was moved to %2, and Mailvane starts "
                        "with new settings.")
             .arg(QDir::toNativeSeparators(m_path), QDir::toNativeSeparators(aside)));
}

void RegistryStore::forgetStatements()
{
    sqlite3_finalize(m_findSubKey);
    m_findSubKey = nullptr;
}

void RegistryStore::closeDatabase()
{
    forgetStatements();
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
}
