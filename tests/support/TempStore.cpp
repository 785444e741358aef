#include "TempStore.h"

namespace testsupport
{

TempStore::TempStore() = default;

RegistryStore &TempStore::store()
{
    if (!m_store)
        m_store = std::make_unique<RegistryStore>(path(), &prompter);
    return *m_store;
}

} // namespace testsupport
