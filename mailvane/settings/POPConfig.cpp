#include "settings/POPConfig.h"

#include "settings/PasswordScrambler.h"

#include "platform/AutostartEntry.h"
#include "platform/PasswordVault.h"
#include "platform/Prompter.h"

#include "CertificateFingerprint.h"

#include <algorithm>

namespace
{

const QString kSettingsPath = QStringLiteral("Software\\Corvanta\\Mailvane 1.0");
const QString kAccounts = QStringLiteral("Accounts");
const QString kBlockedSenders = QStringLiteral("Blocked Senders");
const QString kKnownMessages = QStringLiteral("Known Messages");

// Stored values read into members: any nonzero number or "True" is true; what does not convert leaves
// the member as it was.
std::optional<bool> toBoolean(const RegValue &v)
{
    if (v.type == RegType::DWord)
        return v.data.toUInt() != 0;
    const QString text = v.data.toString().trimmed();
    if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    bool ok = false;
    const qint64 n = text.toLongLong(&ok);
    return ok ? std::optional<bool>(n != 0) : std::nullopt;
}

std::optional<qint64> toNumber(const RegValue &v)
{
    if (v.type == RegType::DWord)
        return qint32(v.data.toUInt());
    bool ok = false;
    const qint64 n = v.data.toString().trimmed().toLongLong(&ok);
    return ok ? std::optional<qint64>(n) : std::nullopt;
}

void read(const RegistryKey &key, const QString &name, bool &member)
{
    if (const auto v = key.value(name); v) {
        if (const auto b = toBoolean(*v))
            member = *b;
    }
}

void read(const RegistryKey &key, const QString &name, qint16 &member)
{
    if (const auto v = key.value(name); v) {
        if (const auto n = toNumber(*v); n && *n >= -32768 && *n <= 32767)
            member = qint16(*n);
    }
}

void read(const RegistryKey &key, const QString &name, QString &member)
{
    if (const auto v = key.value(name))
        member = v->text();
}

void setInRange(qint16 &member, int value, int low, int high)
{
    if (value >= low && value <= high)
        member = qint16(value);
}

// Overwrites a value, or adds it when it went missing.
bool put(const RegistryKey &key, const QString &name, const QVariant &data, RegType type)
{
    return key.overwriteValue(name, data) || key.addValue(name, data, type);
}

template <typename T> const T *at(const QList<T> &list, int i)
{
    return i >= 0 && i < list.size() ? &list.at(i) : nullptr;
}

} // namespace

POPConfig::POPConfig(const SettingsServices &services, QObject *parent)
    : QObject(parent), m_services(services)
{
    m_root = m_services.store.root(RegistryStore::Root::LocalMachine);
    if (m_root.fullPath() != QLatin1String("\\HKEY_LOCAL_MACHINE"))
        m_services.prompter.message(QStringLiteral("Mailvane"), QStringLiteral("No BaseKey"));
    LoadSettings();
}

RegistryKey POPConfig::settingsKey() const
{
    return m_root.subKey(kSettingsPath);
}

void POPConfig::LoadSettings()
{
    EnsureSettingsTree();
    const RegistryKey settings = settingsKey();
    const RegistryKey accounts = settings.subKey(kAccounts);

    read(settings, QStringLiteral("Interval"), m_Interval);
    read(settings, QStringLiteral("Check"), m_Check);
    read(settings, QStringLiteral("Connect"), m_Connect);
    read(settings, QStringLiteral("Beep"), m_Beep);
    read(settings, QStringLiteral("Show"), m_ShowList);
    read(settings, QStringLiteral("Play"), m_Play);
    read(settings, QStringLiteral("MinStyle"), m_MinStyle);
    read(settings, QStringLiteral("LoadOnStart"), m_LoadOnStartup);
    read(settings, QStringLiteral("NoNotify"), m_NoNotify);
    read(settings, QStringLiteral("SoundFile"), m_SoundFile);
    read(settings, QStringLiteral("SelectedClient"), m_SelectedClient);
    read(settings, QStringLiteral("Timeout"), m_Timeout);
    read(settings, QStringLiteral("HotKey"), m_HotKey);
    read(settings, QStringLiteral("Modifier"), m_Modifier);
    read(settings, QStringLiteral("HotKeyEnabled"), m_HotKeyEnabled);
    read(settings, QStringLiteral("BlockBlankFrom"), BlockBlankFrom);
    read(settings, QStringLiteral("BlockBlankSubject"), BlockBlankSubject);
    read(settings, QStringLiteral("BlockZeroLength"), BlockZeroLength);
    read(settings, QStringLiteral("BlockOverSize"), BlockOverSize);
    read(settings, QStringLiteral("MaxSize"), m_MaxMessageSize);
    read(settings, QStringLiteral("HangUpWhenDone"), HangUpWhenDone);
    read(settings, QStringLiteral("ConnectionToUse"), ConnectionToUse);
    read(settings, QStringLiteral("NotifyNewOnly"), m_NotifyNewOnly);
    LoadAddedSettings(settings);

    m_blocked.clear();
    for (const RegValue &v : settings.subKey(kBlockedSenders).values())
        m_blocked.append(v.name);

    m_accounts.clear();
    for (const QString &name : accounts.subKeyNames()) {
        const RegistryKey key = accounts.subKey(name);
        Account a;
        a.Name = name;
        read(key, QStringLiteral("Host"), a.Host);
        read(key, QStringLiteral("UserName"), a.UserName);
        read(key, QStringLiteral("Password"), a.Password);
        read(key, QStringLiteral("Selected"), a.Selected);
        read(key, QStringLiteral("PasswordInKeyring"), a.PasswordInKeyring);
        if (const auto port = key.value(QStringLiteral("Port")))
            a.Port = toNumber(*port).value_or(0);
        if (const auto security = key.value(QStringLiteral("Security")); security) {
            // An unknown mode must not fall back to plain text, which would send the password in clear.
            const qint64 mode = toNumber(*security).value_or(2);
            a.Security = mode >= 0 && mode <= 2 ? qint16(mode) : qint16(2);
        }
        read(key, QStringLiteral("TrustedCertificate"), a.TrustedCertificate);
        a.TrustedCertificate = wrenkit::normalizedFingerprint(a.TrustedCertificate);
        m_accounts.append(a);
    }

    LoadMailClients();
    if (std::exchange(m_moveToKeyring, false))
        MovePasswords(true);

    m_connections.clear();
    const RegistryKey addresses = m_services.store.root(RegistryStore::Root::CurrentUser)
                                      .subKey(QStringLiteral("RemoteAccess\\Addresses"));
    for (const RegValue &v : addresses.values())
        m_connections.append(v.name);
    m_connectionCount = qint16(m_connections.size());
}

void POPConfig::LoadAddedSettings(const RegistryKey &settings)
{
    // Settings newer than the first run's defaults: added with their defaults when missing.
    if (settings.isValid() && !settings.value(QStringLiteral("Popup")))
        settings.addValue(QStringLiteral("Popup"), 1, RegType::DWord);
    read(settings, QStringLiteral("Popup"), m_Popup);
    if (settings.isValid() && !settings.value(QStringLiteral("UseKeyring"))) {
        const bool use = KeyringAvailable();
        m_moveToKeyring = settings.addValue(QStringLiteral("UseKeyring"), use ? -1 : 0, RegType::DWord) && use;
    }
    read(settings, QStringLiteral("UseKeyring"), m_UseKeyring);
}

bool POPConfig::KeyringAvailable() const
{
    return m_services.vault && m_services.vault->state() == PasswordVault::Status::Ok;
}

void POPConfig::LoadMailClients()
{
    const RegistryKey mail = m_services.store.root(RegistryStore::Root::LocalMachine)
                                 .subKey(QStringLiteral("Software\\Clients\\Mail"));
    m_clients.clear();
    for (const QString &name : mail.subKeyNames()) {
        MailClient client{name, {}};
        const RegistryKey key = mail.subKey(name);
        if (name == QLatin1String("Netscape Messenger")) {
            // Its mailto command ends in "%1" (with quotes); the client wants -mail there instead.
            client.Command = key.subKey(QStringLiteral("Protocols\\mailto\\shell\\open\\command"))
                                 .defaultValue()
                                 .value_or(QString());
            if (client.Command.size() >= 4) {
                client.Command.chop(4);
                client.Command += QLatin1String("-mail");
            }
        } else {
            client.Command =
                key.subKey(QStringLiteral("Shell\\open\\Command")).defaultValue().value_or(QString());
        }
        m_clients.append(client);
    }
}

void POPConfig::EnsureSettingsTree()
{
    const RegistryKey software = m_root.subKey(QStringLiteral("Software"));
    if (!software.isValid())
        return;
    const RegistryKey settings = settingsKey();
    const bool whole = settings.value(QStringLiteral("SelectedClient")) &&
                       settings.subKey(kAccounts).isValid() && settings.subKey(kBlockedSenders).isValid();
    if (whole)
        return;
    m_services.store.transaction([&] {
        const RegistryKey repaired =
            software.addSubKey(QStringLiteral("Corvanta")).addSubKey(QStringLiteral("Mailvane 1.0"));
        if (!repaired.value(QStringLiteral("SelectedClient")))
            WriteDefaultSettings();
        repaired.addSubKey(kAccounts);
        repaired.addSubKey(kBlockedSenders);
        return true;
    });
}

void POPConfig::WriteDefaultSettings()
{
    const RegistryKey settings = settingsKey();
    const auto dword = [&](const char *name, qint32 value) {
        settings.addValue(QLatin1String(name), value, RegType::DWord);
    };
    const auto text = [&](const char *name, const QString &value) {
        settings.addValue(QLatin1String(name), value, RegType::String);
    };
    constexpr qint32 True = -1;
    constexpr qint32 False = 0;
    dword("Check", True);
    dword("Connect", False);
    dword("Beep", 0);
    dword("Play", 1);
    dword("Show", 1);
    dword("NoNotify", 0);
    dword("Interval", 10);
    dword("MinStyle", 0);
    dword("LoadOnStart", False);
    text("SoundFile", QString());
    dword("Timeout", 20);
    dword("HotKey", 123);
    dword("Modifier", 18);
    dword("HotKeyEnabled", False);
    dword("BlockBlankFrom", False);
    dword("BlockBlankSubject", False);
    dword("BlockOverSize", False);
    dword("BlockZeroLength", True);
    dword("MaxSize", 32);
    dword("HangUpWhenDone", False);
    text("ConnectionToUse", QString());
    LoadMailClients();
    text("SelectedClient", ClientName(0));
}

void POPConfig::SaveConfig()
{
    bool storedUseKeyring = m_UseKeyring;
    read(settingsKey(), QStringLiteral("UseKeyring"), storedUseKeyring);
    m_services.store.transaction([this] {
        const RegistryKey settings = settingsKey();
        const auto put = [&](const char *name, const QVariant &value) {
            settings.overwriteValue(QLatin1String(name), value);
        };
        put("Connect", m_Connect);
        put("Check", m_Check);
        put("Beep", m_Beep);
        put("Play", m_Play);
        put("Show", m_ShowList);
        put("NoNotify", m_NoNotify);
        put("Interval", m_Interval);
        put("Timeout", m_Timeout);
        put("SoundFile", m_SoundFile);
        put("MinStyle", m_MinStyle);
        put("LoadOnStart", m_LoadOnStartup);
        put("SelectedClient", m_SelectedClient);
        put("HotKey", m_HotKey);
        put("Modifier", m_Modifier);
        put("HotKeyEnabled", m_HotKeyEnabled);
        put("BlockBlankFrom", BlockBlankFrom);
        put("BlockBlankSubject", BlockBlankSubject);
        put("BlockZeroLength", BlockZeroLength);
        put("BlockOverSize", BlockOverSize);
        put("MaxSize", m_MaxMessageSize);
        put("HangUpWhenDone", HangUpWhenDone);
        put("ConnectionToUse", ConnectionToUse);
        // Not among the values written at first start: created here when missing.
        settings.setValue({QStringLiteral("NotifyNewOnly"), RegType::DWord, qint32(m_NotifyNewOnly ? -1 : 0)});
        put("Popup", m_Popup);
        put("UseKeyring", m_UseKeyring);
        return true;
    });
    if (storedUseKeyring != m_UseKeyring) {
        const QStringList failed = MovePasswords(m_UseKeyring);
        if (!failed.isEmpty())
            m_services.prompter.message(QStringLiteral("Error"),
                                        QStringLiteral("These passwords could not be moved: ") +
                                            failed.join(QStringLiteral(", ")));
    }
    LoadCheck();
}

QStringList POPConfig::KnownMessages(const QString &AccName) const
{
    const auto v = settingsKey().subKey(kKnownMessages).value(AccName);
    return v ? v->text().split(u' ', Qt::SkipEmptyParts) : QStringList();
}

void POPConfig::setKnownMessages(const QString &AccName, const QStringList &Ids)
{
    if (AccName.isEmpty())
        return;
    m_services.store.transaction([&] {
        const RegistryKey known = settingsKey().addSubKey(kKnownMessages);
        return known.setValue({AccName, RegType::String, Ids.join(u' ')});
    });
}

void POPConfig::LoadCheck()
{
    if (m_LoadOnStartup)
        m_services.autostart.install();
    else
        m_services.autostart.remove();
}

QVariant POPConfig::ConnectionNames(int Index) const
{
    return Index >= 1 && Index <= m_connections.size() ? QVariant(m_connections.at(Index - 1)) : QVariant();
}

void POPConfig::setMaxMessageSize(int Size)
{
    setInRange(m_MaxMessageSize, Size, 1, 9999);
}
void POPConfig::setHotKey(int HotKey)
{
    setInRange(m_HotKey, HotKey, 112, 123);
}
void POPConfig::setModifier(int Modifier)
{
    if (Modifier == 0 || (Modifier >= 16 && Modifier <= 18))
        m_Modifier = qint16(Modifier);
}
void POPConfig::setInterval(int Intrvl)
{
    setInRange(m_Interval, Intrvl, 1, 999);
}
void POPConfig::setTimeout(int Time)
{
    setInRange(m_Timeout, Time, 10, 60);
}
void POPConfig::setPlay(int ply)
{
    setInRange(m_Play, ply, 0, 2);
}
void POPConfig::setShowList(int Shw)
{
    setInRange(m_ShowList, Shw, 0, 2);
}
void POPConfig::setBeep(int bp)
{
    setInRange(m_Beep, bp, 0, 2);
}
void POPConfig::setNoNotify(int nonot)
{
    setInRange(m_NoNotify, nonot, 0, 2);
}
void POPConfig::setPopup(int popup)
{
    setInRange(m_Popup, popup, 0, 1);
}
void POPConfig::setMinStyle(int Mode)
{
    setInRange(m_MinStyle, Mode, 0, 2);
}

QString POPConfig::BlockedSender(int Index) const
{
    const QString *entry = at(m_blocked, Index);
    return entry ? *entry : QString();
}

QString POPConfig::ClientName(int Index) const
{
    const MailClient *client = at(m_clients, Index);
    return client ? client->Name : QString();
}

QString POPConfig::ClientCommand(int Index) const
{
    const MailClient *client = at(m_clients, Index);
    return client ? client->Command : QString();
}

const Account *POPConfig::account(int i) const
{
    return at(m_accounts, i);
}

QString POPConfig::AccountName(int i) const
{
    return account(i) ? account(i)->Name : QString();
}
QString POPConfig::Host(int i) const
{
    return account(i) ? account(i)->Host : QString();
}
QString POPConfig::UserName(int i) const
{
    return account(i) ? account(i)->UserName : QString();
}
QString POPConfig::Password(int i) const
{
    return LookUpPassword(i).password;
}

POPConfig::PasswordLookup POPConfig::LookUpPassword(int i) const
{
    const Account *a = account(i);
    if (!a)
        return {};
    if (!a->PasswordInKeyring)
        return {true, UnscramblePassword(a->Password), {}};
    if (!m_services.vault)
        return {false, {}, QStringLiteral("no keyring")};
    // The read may wait with the event loop running, during which this object may be replaced
    // and deleted: the vault gets its own copy of the name.
    const QString name = a->Name;
    const PasswordVault::Result result = m_services.vault->read(name);
    if (result.status != PasswordVault::Status::Ok)
        return {false, {}, result.error};
    return {true, result.password, {}};
}

bool POPConfig::PasswordInKeyring(int i) const
{
    return account(i) && account(i)->PasswordInKeyring;
}

std::optional<QString> POPConfig::MovePassword(int i, bool toKeyring)
{
    Account *a = i >= 0 && i < m_accounts.size() ? &m_accounts[i] : nullptr;
    if (!a || a->PasswordInKeyring == toKeyring)
        return std::nullopt;
    if (!m_services.vault)
        return QStringLiteral("no keyring");
    const RegistryKey key = settingsKey().subKey(kAccounts).subKey(a->Name);
    if (!key.isValid())
        return QStringLiteral("the account is gone");
    PasswordVault &vault = *m_services.vault;
    if (toKeyring) {
        const PasswordVault::Result written = vault.write(a->Name, UnscramblePassword(a->Password));
        if (written.status != PasswordVault::Status::Ok)
            return written.error;
        const bool stored = m_services.store.transaction([&] {
            return put(key, QStringLiteral("Password"), QString(), RegType::String) &&
                   put(key, QStringLiteral("PasswordInKeyring"), 1, RegType::DWord);
        });
        if (!stored) {
            vault.remove(a->Name);
            return QStringLiteral("the settings cannot be written");
        }
        a->Password.clear();
        a->PasswordInKeyring = true;
        return std::nullopt;
    }
    // Back to the store: the keyring entry goes only once the store holds the password.
    const PasswordVault::Result read = vault.read(a->Name);
    if (read.status != PasswordVault::Status::Ok)
        return read.error;
    const QString scrambled = ScramblePassword(read.password);
    const bool stored = m_services.store.transaction([&] {
        return put(key, QStringLiteral("Password"), scrambled, RegType::String) &&
               put(key, QStringLiteral("PasswordInKeyring"), 0, RegType::DWord);
    });
    if (!stored)
        return QStringLiteral("the settings cannot be written");
    vault.remove(a->Name);
    a->Password = scrambled;
    a->PasswordInKeyring = false;
    return std::nullopt;
}

void POPConfig::moveToKeyring(const QString &name)
{
    // Stored first, then moved: a keyring that refuses leaves the password in the store.
    for (int i = 0; i < m_accounts.size(); ++i) {
        if (m_accounts[i].Name == name)
            MovePassword(i, true);
    }
}

QStringList POPConfig::MovePasswords(bool toKeyring)
{
    QStringList failed;
    for (int i = 0; i < m_accounts.size(); ++i) {
        if (const std::optional<QString> why = MovePassword(i, toKeyring))
            failed << QStringLiteral("%1 (%2)").arg(m_accounts[i].Name, *why);
    }
    return failed;
}
bool POPConfig::AcctSel(int i) const
{
    return account(i) && account(i)->Selected;
}

int POPConfig::Port(int i) const
{
    const qint64 port = account(i) ? account(i)->Port : 0;
    if (port >= 1 && port <= 65535)
        return int(port);
    return Security(i) == 2 ? 995 : 110;
}

qint16 POPConfig::Security(int i) const
{
    return account(i) ? account(i)->Security : qint16(0);
}

void POPConfig::setSecurity(int i, int mode)
{
    if (!account(i) || mode < 0 || mode > 2)
        return;
    m_accounts[i].Security = qint16(mode);
    // Only into an account that is still stored: a key holding nothing but the mode is no account.
    settingsKey()
        .subKey(kAccounts)
        .subKey(AccountName(i))
        .setValue({QStringLiteral("Security"), RegType::DWord, QVariant::fromValue(quint32(mode))});
}

QString POPConfig::TrustedCertificate(int i) const
{
    return account(i) ? account(i)->TrustedCertificate : QString();
}

void POPConfig::setTrustedCertificate(int i, const QString &fingerprint)
{
    const QString kept = wrenkit::normalizedFingerprint(fingerprint);
    if (!account(i) || (kept.isEmpty() && !fingerprint.trimmed().isEmpty()))
        return;
    m_accounts[i].TrustedCertificate = kept;
    const RegistryKey key = settingsKey().subKey(kAccounts).subKey(AccountName(i));
    if (kept.isEmpty())
        key.removeValue(QStringLiteral("TrustedCertificate"));
    else
        key.setValue({QStringLiteral("TrustedCertificate"), RegType::String, kept});
}

int POPConfig::StoredPort(int i) const
{
    const qint64 port = account(i) ? account(i)->Port : 0;
    return port >= 1 && port <= 65535 ? int(port) : 0;
}

void POPConfig::setAcctSel(int i, bool yn)
{
    if (!account(i))
        return;
    m_accounts[i].Selected = yn;
    // Recreates the account's key or value when it went missing behind our back, all in one change:
    // when "Selected" cannot be written, no recreated key is left behind either.
    m_services.store.transaction([&] {
        const RegistryKey key = settingsKey().addSubKey(kAccounts).addSubKey(AccountName(i));
        return key.overwriteValue(QStringLiteral("Selected"), yn) ||
               key.addValue(QStringLiteral("Selected"),
                            yn ? QStringLiteral("True") : QStringLiteral("False"));
    });
}

bool POPConfig::IsBlocked(const QString &Name) const
{
    return m_blocked.contains(Name);
}

bool POPConfig::SenderIsBlocked(const QString &Name) const
{
    return std::any_of(m_blocked.cbegin(), m_blocked.cend(),
                       [&](const QString &entry) { return entry.contains(Name, Qt::CaseSensitive); });
}

bool POPConfig::AddAccount(const QString &AName, const QString &AHost, const QString &UName,
                           const QString &PWord)
{
    return AddAccount(AccountFields{AName, AHost, UName, PWord});
}

namespace
{
bool validPort(int port)
{
    return port >= 1 && port <= 65535;
}

// Writes the edited fields into an account key; the other values stay as they are.
bool writeAccountFields(const RegistryKey &key, const AccountFields &fields, const QString &scrambled)
{
    const auto text = [&](const char *name, const QString &data) {
        return key.setValue(RegValue{QLatin1String(name), RegType::String, data});
    };
    bool ok = text("Host", fields.host) && text("UserName", fields.userName) && text("Password", scrambled) &&
              text("Selected", QStringLiteral("True"));
    // The password written here is the one that counts, also for an account whose password lived in
    // the keyring.
    if (key.value(QStringLiteral("PasswordInKeyring")))
        ok = ok && key.setValue(RegValue{QStringLiteral("PasswordInKeyring"), RegType::DWord, 0u});
    if (validPort(fields.port))
        ok = ok && key.setValue(RegValue{QStringLiteral("Port"), RegType::DWord, quint32(fields.port)});
    else if (key.value(QStringLiteral("Port")))
        ok = ok && key.removeValue(QStringLiteral("Port"));
    // Plain POP3 and no trusted certificate are what a missing value means.
    if (fields.security) {
        if (*fields.security > 0 && *fields.security <= 2)
            ok = ok && key.setValue(
                           RegValue{QStringLiteral("Security"), RegType::DWord, quint32(*fields.security)});
        else if (key.value(QStringLiteral("Security")))
            ok = ok && key.removeValue(QStringLiteral("Security"));
    }
    if (fields.trustedCertificate) {
        const QString fingerprint = wrenkit::normalizedFingerprint(*fields.trustedCertificate);
        if (!fingerprint.isEmpty())
            ok = ok && key.setValue(RegValue{QStringLiteral("TrustedCertificate"), RegType::String, fingerprint});
        else if (key.value(QStringLiteral("TrustedCertificate")))
            ok = ok && key.removeValue(QStringLiteral("TrustedCertificate"));
    }
    return ok;
}
} // namespace

bool POPConfig::AddAccount(const AccountFields &fields)
{
    const bool added = m_services.store.transaction([&] {
        const RegistryKey accounts = settingsKey().subKey(kAccounts);
        // An existing account keeps its values: filling in the ones it lacks would mix two accounts.
        if (accounts.subKey(fields.name).isValid())
            return false;
        const RegistryKey key = accounts.addSubKey(fields.name);
        if (!key.isValid())
            return false;
        key.addValue(QStringLiteral("Host"), fields.host, RegType::String);
        key.addValue(QStringLiteral("UserName"), fields.userName, RegType::String);
        key.addValue(QStringLiteral("Password"), ScramblePassword(fields.password), RegType::String);
        key.addValue(QStringLiteral("Selected"), QStringLiteral("True"), RegType::String);
        if (validPort(fields.port))
            key.addValue(QStringLiteral("Port"), fields.port, RegType::DWord);
        if (const int security = fields.security.value_or(0); security > 0 && security <= 2)
            key.addValue(QStringLiteral("Security"), security, RegType::DWord);
        if (const QString fingerprint = wrenkit::normalizedFingerprint(fields.trustedCertificate.value_or(QString()));
            !fingerprint.isEmpty())
            key.addValue(QStringLiteral("TrustedCertificate"), fingerprint, RegType::String);
        return true;
    });
    LoadSettings();
    if (added && m_UseKeyring)
        moveToKeyring(fields.name);
    return added;
}

bool POPConfig::EditAccount(int i, const AccountFields &fields)
{
    if (!account(i) || accountNameProblem(fields.name, i) != AccountNameProblem::None)
        return false;
    const QString oldName = AccountName(i);
    const bool wasInKeyring = PasswordInKeyring(i);
    const bool edited = m_services.store.transaction([&] {
        const RegistryKey accounts = settingsKey().subKey(kAccounts);
        const bool renamed = fields.name != oldName;
        // Another account of that name may have been stored since this object loaded.
        if (registryNameKey(fields.name) != registryNameKey(oldName) &&
            accounts.subKey(fields.name).isValid())
            return false;
        const RegistryKey old = accounts.subKey(oldName);
        if (!renamed && old.isValid())
            return writeAccountFields(old, fields, ScramblePassword(fields.password));
        // A new key under the new name (a change of letter case included) with the old key's values.
        const QList<RegValue> kept = old.isValid() ? old.values() : QList<RegValue>();
        if (old.isValid() && !accounts.removeSubKey(oldName))
            return false;
        const RegistryKey key = accounts.addSubKey(fields.name);
        if (!key.isValid())
            return false;
        for (const RegValue &v : kept) {
            if (!key.setValue(v))
                return false;
        }
        return writeAccountFields(key, fields, ScramblePassword(fields.password));
    });
    LoadSettings();
    if (!edited)
        return false;
    // The password now stands in the store under the new name: the old entry goes, and the password
    // moves into the keyring again when that is where passwords live.
    if (wasInKeyring && m_services.vault)
        m_services.vault->remove(oldName);
    if (m_UseKeyring)
        moveToKeyring(fields.name);
    return true;
}

AccountNameProblem POPConfig::accountNameProblem(const QString &name, int except) const
{
    if (name.isEmpty())
        return AccountNameProblem::Empty;
    if (name.contains(QLatin1Char('\\')))
        return AccountNameProblem::Backslash;
    const QString key = registryNameKey(name);
    for (int j = 0; j < m_accounts.size(); ++j) {
        if (j != except && registryNameKey(m_accounts.at(j).Name) == key)
            return AccountNameProblem::Taken;
    }
    // An account stored since this object loaded counts too.
    const RegistryKey stored = settingsKey().subKey(kAccounts).subKey(name);
    if (stored.isValid() && (except < 0 || registryNameKey(AccountName(except)) != key))
        return AccountNameProblem::Taken;
    return AccountNameProblem::None;
}

void POPConfig::DeleteAccount(const QString &AccName)
{
    for (const Account &a : std::as_const(m_accounts)) {
        if (a.PasswordInKeyring && m_services.vault && a.Name.compare(AccName, Qt::CaseInsensitive) == 0)
            m_services.vault->remove(a.Name);
    }
    settingsKey().subKey(kAccounts).removeSubKey(AccName);
    settingsKey().subKey(kKnownMessages).removeValue(AccName);
    LoadSettings();
}

void POPConfig::AddBlockedSender(const QString &Name)
{
    settingsKey().subKey(kBlockedSenders).addValue(Name, Name, RegType::String);
    LoadSettings();
}

void POPConfig::RemoveBlockedSender(const QString &Name)
{
    settingsKey().subKey(kBlockedSenders).removeValue(Name);
    LoadSettings();
}

QString POPConfig::ScramblePassword(const QString &s)
{
    return PasswordScrambler::scramble(s);
}
QString POPConfig::UnscramblePassword(const QString &s)
{
    return PasswordScrambler::unscramble(s);
}

#include "moc_POPConfig.cpp"
