#pragma once

#include <QDBusConnection>
#include <QObject>

class frmMailMain;

// The running program on the session bus: org.mailvane.Mailvane at /Mailvane. A second start asks
// it to show its list; scripts can start a check and learn its result.
class MailvaneService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mailvane.Mailvane")
    Q_PROPERTY(int NewMessageCount READ NewMessageCount)

public:
    static inline const QString ServiceName = QStringLiteral("org.mailvane.Mailvane");
    static inline const QString ObjectPath = QStringLiteral("/Mailvane");
    static inline const QString InterfaceName = QStringLiteral("org.mailvane.Mailvane");

    explicit MailvaneService(frmMailMain &window, QObject *parent = nullptr);

    // Exports the object on the bus; the name is taken separately (see claimName).
    bool exportOn(QDBusConnection bus);
    // Takes the well-known name; false when another instance holds it.
    static bool claimName(QDBusConnection bus);
    // Asks the instance that holds the name to show its list; false when it does not answer.
    static bool askToShowList(QDBusConnection bus, QString *error);

    int NewMessageCount() const;

public slots:
    Q_SCRIPTABLE void ShowList();
    // Starts a check and returns at once; a running check makes it do nothing.
    Q_SCRIPTABLE void CheckNow();
    Q_SCRIPTABLE void Quit();

signals:
    // Sent at the end of every check, whoever started it.
    Q_SCRIPTABLE void CheckFinished(int newMessages);

private:
    frmMailMain &m_window;
};
