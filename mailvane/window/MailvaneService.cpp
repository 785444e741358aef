#include "MailvaneService.h"

#include "frmMailMain.h"
#include "main/CheckCycle.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

MailvaneService::MailvaneService(frmMailMain &window, QObject *parent) : QObject(parent), m_window(window)
{
    connect(&m_window.checkCycle(), &CheckCycle::checkFinished, this,
            [this] { emit CheckFinished(m_window.checkCycle().NewMessageCount()); });
}

bool MailvaneService::exportOn(QDBusConnection bus)
{
    return bus.registerObject(ObjectPath, this,
                              QDBusConnection::ExportScriptableSlots |
                                  QDBusConnection::ExportScriptableSignals |
                                  QDBusConnection::ExportAllProperties);
}

bool MailvaneService::claimName(QDBusConnection bus)
{
    return bus.registerService(ServiceName);
}

bool MailvaneService::askToShowList(QDBusConnection bus, QString *error)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(ServiceName, ObjectPath, InterfaceName, QStringLiteral("ShowList"));
    const QDBusMessage reply = bus.call(call, QDBus::Block, 10000);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    if (error)
        *error = reply.errorMessage();
    return false;
}

int MailvaneService::NewMessageCount() const
{
    return m_window.checkCycle().NewMessageCount();
}

void MailvaneService::ShowList()
{
    m_window.ShowList();
}

void MailvaneService::CheckNow()
{
    m_window.CheckNow();
}

void MailvaneService::Quit()
{
    m_window.ExitProgram();
}

#include "moc_MailvaneService.cpp"
