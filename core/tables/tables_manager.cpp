#include "core/tables/tables_manager.h"

namespace zel {

TablesManager::TablesManager(ZelTableManagerMode mode)
    : m_instruments(adoptRef(new InstrumentsTable())),
      m_accountsProperties(adoptRef(new AccountsPropertiesTable())),
      m_mode(mode)
{
}

std::string TablesManager::getAccountCurrency() const
{
    LockGuard<Mutex> lock(m_mutex);
    return m_accountCurrency;
}

void TablesManager::setAccountCurrency(const char* currency)
{
    LockGuard<Mutex> lock(m_mutex);
    m_accountCurrency = currency ? currency : "";
}

} // namespace zel
