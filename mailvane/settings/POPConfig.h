#pragma once

#include "settings/Account.h"
#include "settings/MailClient.h"

#include "platform/RegistryStore.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

class AutostartEntry;
class PasswordVault;
class Prompter;

// What the account dialogs edit. port 0 means the account's default port (no stored "Port").
struct AccountFields {
    QString name;
    QString host;
    QString userName;
    QString password;
    int port = 0;
    // Left out, the stored values stay as they are (an added account has none: plain, nothing trusted).
    std::optional<int> security = std::nullopt; // 0 plain, 1 STLS, 2 TLS (see Security)
    std::optional<QString> trustedCertificate = std::nullopt; // SHA-256 fingerprint, empty for none
};

// Why a text cannot name an account.
enum class AccountNameProblem { None, Empty, Backslash, Taken };

// What a settings object works with: the registry, a way to tell the user, the autostart entry, and
// the desktop keyring (none: every password stays in the store).
struct SettingsServices {
    RegistryStore &store;
    Prompter &prompter;
    AutostartEntry &autostart;
    PasswordVault *vault = nullptr;
};

// The settings of Mailvane, held in memory and kept in the registry key
// HKEY_LOCAL_MACHINE\Software\Corvanta\Mailvane 1.0.
//
// Creation repairs the key tree (writing the defaults on first run) and loads everything. Setters
// change memory only, within their ranges; SaveConfig writes the scalar settings back. Accounts and
// blocked senders are written at once by their own methods, which then reload everything, so unsaved
// setter changes are lost at that point. No registry failure reaches the caller: a failing step is
// skipped.
class POPConfig : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool BlockBlankFrom MEMBER BlockBlankFrom)
    Q_PROPERTY(bool BlockBlankSubject MEMBER BlockBlankSubject)
    Q_PROPERTY(bool BlockOverSize MEMBER BlockOverSize)
    Q_PROPERTY(bool BlockZeroLength MEMBER BlockZeroLength)
    Q_PROPERTY(bool HangUpWhenDone MEMBER HangUpWhenDone)
    Q_PROPERTY(QString ConnectionToUse MEMBER ConnectionToUse)
    Q_PROPERTY(int MaxMessageSize READ MaxMessageSize WRITE setMaxMessageSize)
    Q_PROPERTY(int HotKey READ HotKey WRITE setHotKey)
    Q_PROPERTY(int Modifier READ Modifier WRITE setModifier)
    Q_PROPERTY(bool HotKeyEnabled READ HotKeyEnabled WRITE setHotKeyEnabled)
    Q_PROPERTY(int Interval READ Interval WRITE setInterval)
    Q_PROPERTY(int Timeout READ Timeout WRITE setTimeout)
    Q_PROPERTY(bool Check READ Check WRITE setCheck)
    Q_PROPERTY(bool Connect READ Connect WRITE setConnect)
    Q_PROPERTY(int Play READ Play WRITE setPlay)
    Q_PROPERTY(int ShowList READ ShowList WRITE setShowList)
    Q_PROPERTY(int Beep READ Beep WRITE setBeep)
    Q_PROPERTY(int NoNotify READ NoNotify WRITE setNoNotify)
    Q_PROPERTY(int Popup READ Popup WRITE setPopup)
    Q_PROPERTY(bool UseKeyring READ UseKeyring WRITE setUseKeyring)
    Q_PROPERTY(QString SoundFile READ SoundFile WRITE setSoundFile)
    Q_PROPERTY(int MinStyle READ MinStyle WRITE setMinStyle)
    Q_PROPERTY(bool LoadOnStartup READ LoadOnStartup WRITE setLoadOnStartup)
    Q_PROPERTY(QString SelectedClient READ SelectedClient WRITE setSelectedClient)
    Q_PROPERTY(bool NotifyNewOnly READ NotifyNewOnly WRITE setNotifyNewOnly)

public:
    explicit POPConfig(const SettingsServices &services, QObject *parent = nullptr);

    // Filters and dialling; fields without range checks.
    bool BlockBlankFrom = false;
    bool BlockBlankSubject = false;
    bool BlockOverSize = false;
    bool BlockZeroLength = false;
    bool HangUpWhenDone = false;
    QString ConnectionToUse;

    qint16 NumberOfConnections() const { return m_connectionCount; }
    // The connection name at Index, counted from 1; an invalid QVariant outside 1..NumberOfConnections.
    QVariant ConnectionNames(int Index) const;

    // Size limit in kilobytes, 1..9999.
    qint16 MaxMessageSize() const { return m_MaxMessageSize; }
    void setMaxMessageSize(int Size);

    qint16 NumberOfBlocked() const { return qint16(m_blocked.size()); }
    QString BlockedSender(int Index) const;

    // Virtual-key code of the hot key, 112 (F1) to 123 (F12).
    qint16 HotKey() const { return m_HotKey; }
    void setHotKey(int HotKey);
    // 0 none, 16 Shift, 17 Control, 18 Alt.
    qint16 Modifier() const { return m_Modifier; }
    void setModifier(int Modifier);
    bool HotKeyEnabled() const { return m_HotKeyEnabled; }
    void setHotKeyEnabled(bool Enabled) { m_HotKeyEnabled = Enabled; }
    // Minutes between automatic checks, 1..999.
    qint16 Interval() const { return m_Interval; }
    void setInterval(int Intrvl);
    // POP3 time-out in seconds, 10..60.
    qint16 Timeout() const { return m_Timeout; }
    void setTimeout(int Time);
    bool Check() const { return m_Check; }
    void setCheck(bool chk) { m_Check = chk; }
    bool Connect() const { return m_Connect; }
    void setConnect(bool Conn) { m_Connect = Conn; }
    // Check-box states of the notifications, 0..2; only 1 counts as on.
    qint16 Play() const { return m_Play; }
    void setPlay(int ply);
    qint16 ShowList() const { return m_ShowList; }
    void setShowList(int Shw);
    qint16 Beep() const { return m_Beep; }
    void setBeep(int bp);
    qint16 NoNotify() const { return m_NoNotify; }
    void setNoNotify(int nonot);
    // The desktop notification, 0 or 1; stored as "Popup", added as 1 when missing.
    qint16 Popup() const { return m_Popup; }
    void setPopup(int popup);
    QString SoundFile() const { return m_SoundFile; }
    void setSoundFile(const QString &sf) { m_SoundFile = sf; }
    // Notify only when a check lists a message that no earlier check listed (REG_DWORD
    // "NotifyNewOnly", default 0: whenever a check lists mail).
    bool NotifyNewOnly() const { return m_NotifyNewOnly; }
    void setNotifyNewOnly(bool NewOnly) { m_NotifyNewOnly = NewOnly; }
    // 0 notification area, 1 task bar, 2 hidden.
    qint16 MinStyle() const { return m_MinStyle; }
    void setMinStyle(int Mode);
    void setLoadOnStartup(bool Load) { m_LoadOnStartup = Load; }

    qint16 NumberOfClients() const { return qint16(m_clients.size()); }
    QString SelectedClient() const { return m_SelectedClient; }
    void setSelectedClient(const QString &Name) { m_SelectedClient = Name; }
    QString ClientName(int Index) const;
    QString ClientCommand(int Index) const;

    bool LoadOnStartup() const { return m_LoadOnStartup; }

    // "Keep passwords in the desktop keyring", stored as "UseKeyring"; added when missing, on when
    // a keyring is there. SaveConfig moves every password into the keyring or back when it changed.
    bool UseKeyring() const { return m_UseKeyring; }
    void setUseKeyring(bool use) { m_UseKeyring = use; }
    // A keyring answers and is unlocked.
    bool KeyringAvailable() const;

    qint16 NumberOfAccounts() const { return qint16(m_accounts.size()); }
    QString AccountName(int i) const;
    QString Host(int i) const;
    QString UserName(int i) const;
    // The password, from the store or the keyring; empty when the keyring cannot give it.
    QString Password(int i) const;
    struct PasswordLookup {
        bool ok = false;
        QString password;
        QString error; // why not: "keyring locked", "no keyring", ...
    };
    // The password for a log-in, which must not go ahead without it.
    PasswordLookup LookUpPassword(int i) const;
    bool PasswordInKeyring(int i) const;
    // The account's POP3 port: its stored "Port" when that lies in 1..65535, else the usual port of its
    // security mode (995 for TLS, 110 otherwise).
    int Port(int i) const;
    // The stored "Port" when it lies in 1..65535, else 0 (the account uses its default port).
    int StoredPort(int i) const;
    // How the account connects: 0 plain POP3 (also when nothing is stored), 1 plain upgraded with
    // STLS, 2 TLS from the first byte. A stored number outside 0..2 reads as 2, the strictest.
    qint16 Security(int i) const;
    // Stores the mode at once; a mode outside 0..2 or an index out of range changes nothing.
    void setSecurity(int i, int mode);
    // The one certificate trusted for the account although it fails verification: its SHA-256
    // fingerprint as 64 lowercase hex digits, or empty text. The stored text may hold colons, blanks
    // and capitals; text that is no SHA-256 fingerprint reads as empty.
    QString TrustedCertificate(int i) const;
    // Stores the fingerprint at once in the kept form; empty text removes it. Text that is not a
    // SHA-256 fingerprint changes nothing.
    void setTrustedCertificate(int i, const QString &fingerprint);
    // The account's OAuth 2.0 settings; the defaults (password log-in) outside the accounts.
    OAuthAccount OAuth(int i) const;
    // Stores them at once in one change; empty texts remove their values. False when i is no
    // account or the store refused.
    bool setOAuth(int i, const OAuthAccount &oauth);
    // The refresh token from the store or the keyring: ok with empty text when the account has
    // none (was never signed in), not ok when the keyring cannot give it.
    PasswordLookup LookUpRefreshToken(int i) const;
    bool RefreshTokenInKeyring(int i) const;
    // Keeps a new refresh token (empty: forgets it): in the keyring when passwords live there and
    // it takes it, else scrambled in the store. The reason when it could not be kept.
    std::optional<QString> setRefreshToken(int i, const QString &token);
    // The keyring entry of an account's refresh token. Account names hold no backslash, so it
    // cannot be an account's own entry.
    static QString refreshTokenEntry(const QString &accountName)
    {
        return accountName + QStringLiteral("\\OAuthRefreshToken");
    }
    bool AcctSel(int i) const;
    void setAcctSel(int i, bool yn);

    // Equal to an entry, case-sensitive.
    bool IsBlocked(const QString &Name) const;
    // Contained in an entry, case-sensitive: the test applied to a message's From text.
    bool SenderIsBlocked(const QString &Name) const;

    // A new account, selected. A name that cannot be a key name (empty, or with a backslash) leaves the
    // store unchanged; an existing account keeps its values. False when nothing was added.
    bool AddAccount(const QString &AName, const QString &AHost, const QString &UName, const QString &PWord);
    // The same, with a port: stored as "Port" when it lies in 1..65535.
    bool AddAccount(const AccountFields &fields);
    // Replaces account i by fields in one change, renaming it when the name differs: its values
    // beyond those fields are kept, and it is selected again, as a new account is. A port of 0
    // removes the stored "Port". Refused, changing nothing, when the new name is not free (see
    // accountNameProblem) or i is not an account. Reloads like AddAccount.
    bool EditAccount(int i, const AccountFields &fields);
    // Whether name can name an account, the account at index except left aside: names compare
    // without regard to case, as the store compares them.
    AccountNameProblem accountNameProblem(const QString &name, int except = -1) const;
    void DeleteAccount(const QString &AccName);
    void AddBlockedSender(const QString &Name);
    void RemoveBlockedSender(const QString &Name);

    // Writes the scalar settings into their existing values, then applies the autostart entry.
    void SaveConfig();

    // The messages of an account that checks have listed, as identities the check makes up
    // (KnownMessageIds). Written at once; kept under the key "Known Messages", one value per account.
    QStringList KnownMessages(const QString &AccName) const;
    void setKnownMessages(const QString &AccName, const QStringList &Ids);
    // Makes the autostart entry agree with LoadOnStartup.
    void LoadCheck();

private:
    void LoadSettings();
    void LoadMailClients();
    void LoadAddedSettings(const RegistryKey &settings);
    // Moves account i's password into the keyring or back to the store; the reason when it cannot.
    std::optional<QString> MovePassword(int i, bool toKeyring);
    std::optional<QString> MoveRefreshToken(int i, bool toKeyring);
    QStringList MovePasswords(bool toKeyring);
    void moveToKeyring(const QString &name);
    void EnsureSettingsTree();
    void WriteDefaultSettings();
    static QString ScramblePassword(const QString &s);
    static QString UnscramblePassword(const QString &s);

    RegistryKey settingsKey() const;
    const Account *account(int i) const;

    SettingsServices m_services;

    QList<MailClient> m_clients;
    QList<Account> m_accounts;
    QStringList m_blocked;
    QStringList m_connections;

    bool m_Check = false;
    bool m_Connect = false;
    qint16 m_Beep = 0;
    qint16 m_ShowList = 0;
    qint16 m_Play = 0;
    qint16 m_NoNotify = 0;
    qint16 m_Popup = 0;
    bool m_UseKeyring = false;
    bool m_moveToKeyring = false; // the keyring setting was just added as on
    QString m_SoundFile;
    qint16 m_Interval = 0;
    qint16 m_MinStyle = 0;
    bool m_LoadOnStartup = false;
    QString m_SelectedClient;
    qint16 m_Timeout = 0;
    qint16 m_HotKey = 0;
    qint16 m_Modifier = 0;
    bool m_HotKeyEnabled = false;
    bool m_NotifyNewOnly = false;
    qint16 m_MaxMessageSize = 0;
    qint16 m_connectionCount = 0;

    RegistryKey m_root;
};
