#include "core/tables/tables_updates_listener.h"

#include "core/tables/tables_manager.h"

namespace zel {

void TablesUpdatesListener::onTablesUpdates(IZelResponse* response)
{
    LockGuard<Mutex> lock(m_mutex);
    if (m_manager != nullptr)
        m_manager->processTablesUpdates(response);
}

void TablesUpdatesListener::detach()
{
    LockGuard<Mutex> lock(m_mutex);
    m_manager = nullptr;
}

} // namespace zel
