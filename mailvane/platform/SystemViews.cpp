#include "SystemViews.h"

#include "MailClientView.h"
#include "NetworkConnectionNames.h"
#include "RegistryStore.h"

void mountSystemViews(RegistryStore &store)
{
    store.mount(RegistryStore::Root::LocalMachine, QStringLiteral("Software\\Clients\\Mail"),
                [] { return mailClientsView(findMailClients(xdgDataDirs())); });
    store.mount(RegistryStore::Root::CurrentUser, QStringLiteral("RemoteAccess\\Addresses"),
                [] { return connectionNamesView(networkManagerConnectionNames()); });
}
