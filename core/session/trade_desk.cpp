#include "core/session/trade_desk.h"

namespace zel {

TradeDesk::TradeDesk(int userKind)
    : m_userKind(userKind),
      m_tables(adoptRef(new TablesManager())),
      m_properties(adoptRef(new SystemProperties())),
      m_permissions(adoptRef(new PermissionChecker(m_properties.get(), m_tables.get(), userKind))),
      m_settings(adoptRef(new TradingSettingsProvider(m_properties.get(), m_tables.get(), userKind)))
{
}

TradeDesk::~TradeDesk()
{
    // Reverse order of making.
    m_settings = nullptr;
    m_permissions = nullptr;
    m_properties = nullptr;
    m_tables = nullptr;
}

} // namespace zel
