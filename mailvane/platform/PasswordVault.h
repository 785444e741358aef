#pragma once

#include <QString>

#include <chrono>

// A place for account passwords outside the settings store: the desktop's keyring (a Secret
// Service). One entry per account, keyed by the account name. Every call returns within a bound.
class PasswordVault
{
public:
    enum class Status { Ok, Unavailable, Locked, NotFound, Failed };
    struct Result {
        Status status = Status::Failed;
        QString password;
        QString error; // why not, for the user
    };

    virtual ~PasswordVault() = default;
    // Ok when a keyring answers and is unlocked; else Unavailable or Locked.
    virtual Status state() = 0;
    // Reads without unlocking: a locked keyring is reported, never prompted for.
    virtual Result read(const QString &account) = 0;
    virtual Result write(const QString &account, const QString &password) = 0;
    virtual Result remove(const QString &account) = 0;
};

// No keyring: passwords stay in the settings store.
class NoPasswordVault : public PasswordVault
{
public:
    Status state() override { return Status::Unavailable; }
    Result read(const QString &) override { return unavailable(); }
    Result write(const QString &, const QString &) override { return unavailable(); }
    Result remove(const QString &) override { return unavailable(); }

private:
    static Result unavailable() { return {Status::Unavailable, {}, QStringLiteral("no keyring")}; }
};

// The desktop keyring through QtKeychain, service name "mailvane". Whether a Secret Service is
// there and whether its default collection is locked is asked over D-Bus first, so that no call
// waits for an unlock prompt.
class KeychainVault : public PasswordVault
{
public:
    explicit KeychainVault(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    Status state() override;
    Result read(const QString &account) override;
    Result write(const QString &account, const QString &password) override;
    Result remove(const QString &account) override;

private:
    // Whether the session bus has a Secret Service, and whether its default collection is locked.
    static bool isAvailable();
    static bool isLocked();

    std::chrono::milliseconds m_timeout;
};
