#include "PrivateSessionBus.h"

#include "ChildProcess.h"

#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QFile>
#include <QSignalSpy>

namespace testsupport
{

PrivateSessionBus::PrivateSessionBus()
{
    const QString config = m_dir.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) {
        m_error = QStringLiteral("cannot write %1").arg(config);
        return;
    }
    file.write(
        QStringLiteral(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)")
            .arg(m_dir.path())
            .toUtf8());
    file.close();

    const pid_t parent = getpid();
    m_daemon.setChildProcessModifier([parent] { terminateWithParent(parent); });
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                    QStringLiteral("--print-address")});
    if (!m_daemon.waitForStarted(5000)) {
        m_error = QStringLiteral("dbus-daemon: ") + m_daemon.errorString();
        return;
    }
    const QDeadlineTimer deadline(10000);
    while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(int(deadline.remainingTime()))) {
    }
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    if (m_address.isEmpty())
        m_error = QStringLiteral("dbus-daemon gave no address: ") +
                  QString::fromLocal8Bit(m_daemon.readAllStandardError());
}

PrivateSessionBus::~PrivateSessionBus()
{
    for (const QString &name : std::as_const(m_connections))
        QDBusConnection::disconnectFromBus(name);
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        m_daemon.waitForFinished(5000);
    }
}

QDBusConnection PrivateSessionBus::connect(const QString &name)
{
    m_connections << name;
    return QDBusConnection::connectToBus(m_address, name);
}

bool PrivateSessionBus::waitForService(const QString &service, int timeoutMs)
{
    QDBusConnection bus = connect(QStringLiteral("wait-for-") + service);
    QDBusConnectionInterface *busInterface = bus.interface();
    if (!busInterface)
        return false;
    QSignalSpy registered(busInterface, &QDBusConnectionInterface::serviceRegistered);
    const QDeadlineTimer deadline(timeoutMs);
    while (!busInterface->isServiceRegistered(service).value()) {
        if (deadline.hasExpired())
            return false;
        // The signal may name another service, or come before the spy saw it: the name is asked again.
        registered.wait(int(qMin<qint64>(deadline.remainingTime(), 200)));
    }
    return true;
}

} // namespace testsupport
