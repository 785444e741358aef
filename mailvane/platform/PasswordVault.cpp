#include "platform/PasswordVault.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QEventLoop>
#include <QTimer>

#include <qt6keychain/keychain.h>

#include <optional>

namespace
{
const QString SecretService = QStringLiteral("org.freedesktop.secrets");
const QString SecretPath = QStringLiteral("/org/freedesktop/secrets");
const QString KeychainService = QStringLiteral("mailvane");
constexpr int DBusTimeoutMs = 5000;

// Runs a job to its end, or until the bound; the job deletes itself.
PasswordVault::Result run(QKeychain::Job *job, std::chrono::milliseconds timeout)
{
    using Status = PasswordVault::Status;
    QEventLoop loop;
    PasswordVault::Result result{Status::Failed, {}, QStringLiteral("the keyring did not answer")};
    bool done = false;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job *finished) {
        done = true;
        switch (finished->error()) {
        case QKeychain::NoError:
            result.status = Status::Ok;
            result.error.clear();
            if (auto *read = qobject_cast<QKeychain::ReadPasswordJob *>(finished))
                result.password = read->textData();
            break;
        case QKeychain::EntryNotFound:
            result = {Status::NotFound, {}, QStringLiteral("not in the keyring")};
            break;
        case QKeychain::AccessDenied:
        case QKeychain::AccessDeniedByUser:
            result = {Status::Locked, {}, QStringLiteral("keyring locked")};
            break;
        case QKeychain::NoBackendAvailable:
        case QKeychain::NotImplemented:
            result = {Status::Unavailable, {}, QStringLiteral("no keyring")};
            break;
        default:
            result = {Status::Failed, {}, finished->errorString()};
            break;
        }
        loop.quit();
    });
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    job->start();
    if (!done)
        loop.exec();
    if (!done) {
        // The job stays with the keyring's answer, if one ever comes; nobody waits for it.
        QObject::disconnect(job, nullptr, &loop, nullptr);
    }
    return result;
}
} // namespace

KeychainVault::KeychainVault(std::chrono::milliseconds timeout) : m_timeout(timeout) {}

bool KeychainVault::isAvailable()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    const QDBusReply<bool> running = bus.interface()->isServiceRegistered(SecretService);
    if (running.isValid() && running.value())
        return true;
    const QDBusReply<QStringList> activatable = bus.interface()->call(QStringLiteral("ListActivatableNames"));
    return activatable.isValid() && activatable.value().contains(SecretService);
}

bool KeychainVault::isLocked()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusMessage alias = QDBusMessage::createMethodCall(SecretService, SecretPath,
                                                        QStringLiteral("org.freedesktop.Secret.Service"),
                                                        QStringLiteral("ReadAlias"));
    alias << QStringLiteral("default");
    const QDBusReply<QDBusObjectPath> collection = bus.call(alias, QDBus::Block, DBusTimeoutMs);
    if (!collection.isValid())
        return true; // no answer: nothing can be read without a prompt
    if (collection.value().path() == QLatin1String("/"))
        return false; // no default collection yet: created on the first write
    QDBusMessage get = QDBusMessage::createMethodCall(SecretService, collection.value().path(),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << QStringLiteral("org.freedesktop.Secret.Collection") << QStringLiteral("Locked");
    const QDBusReply<QDBusVariant> locked = bus.call(get, QDBus::Block, DBusTimeoutMs);
    return !locked.isValid() || locked.value().variant().toBool();
}

PasswordVault::Status KeychainVault::state()
{
    if (!isAvailable())
        return Status::Unavailable;
    return isLocked() ? Status::Locked : Status::Ok;
}

namespace
{
// Why a keyring in this state cannot be used, or nothing.
std::optional<PasswordVault::Result> unusable(PasswordVault::Status state)
{
    if (state == PasswordVault::Status::Unavailable)
        return PasswordVault::Result{state, {}, QStringLiteral("no keyring")};
    if (state == PasswordVault::Status::Locked)
        return PasswordVault::Result{state, {}, QStringLiteral("keyring locked")};
    return std::nullopt;
}
} // namespace

PasswordVault::Result KeychainVault::read(const QString &account)
{
    if (const auto why = unusable(state()))
        return *why;
    auto *job = new QKeychain::ReadPasswordJob(KeychainService);
    job->setAutoDelete(true);
    job->setKey(account);
    return run(job, m_timeout);
}

PasswordVault::Result KeychainVault::write(const QString &account, const QString &password)
{
    if (const auto why = unusable(state()))
        return *why;
    auto *job = new QKeychain::WritePasswordJob(KeychainService);
    job->setAutoDelete(true);
    job->setKey(account);
    job->setTextData(password);
    return run(job, m_timeout);
}

PasswordVault::Result KeychainVault::remove(const QString &account)
{
    if (const auto why = unusable(state()))
        return *why;
    auto *job = new QKeychain::DeletePasswordJob(KeychainService);
    job->setAutoDelete(true);
    job->setKey(account);
    return run(job, m_timeout);
}
