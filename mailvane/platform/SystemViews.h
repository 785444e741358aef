#pragma once

class RegistryStore;

// Shows the installed mail clients at HKEY_LOCAL_MACHINE\Software\Clients\Mail and the NetworkManager
// connection profiles at HKEY_CURRENT_USER\RemoteAccess\Addresses, where the store holds no such keys.
void mountSystemViews(RegistryStore &store);
