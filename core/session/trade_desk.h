#pragma once
// What the session needs to trade once logged in: the table manager (instruments,
// account properties and, with the table manager on, the live tables), the
// server's system properties, the permission checker and the trading settings.
//
// Ownership: reference counted (one for the creator); the session holds it from
// the end of the initialization until the trade session closes. A reconnect
// reloads it in place.
// [Threading] Any thread; each part is thread-safe on its own.

#include "core/base/ref_ptr.h"
#include "core/responses/system_properties.h"
#include "core/rules/permission_checker.h"
#include "core/rules/trading_settings_provider.h"
#include "core/tables/tables_manager.h"
#include "vorntool/add_ref.h"

namespace zel {

class TradeDesk : public CThreadSafeAddRefImpl {
public:
    explicit TradeDesk(int userKind);

    // Each with a reference for the caller.
    TablesManager* getTablesManager() const { return m_tables.share(); }
    SystemProperties* getSystemProperties() const { return m_properties.share(); }
    PermissionChecker* getPermissionChecker() const { return m_permissions.share(); }
    TradingSettingsProvider* getTradingSettingsProvider() const { return m_settings.share(); }
    // Without a reference; live as long as the trade desk.
    TablesManager* tables() const { return m_tables.get(); }
    SystemProperties* properties() const { return m_properties.get(); }
    PermissionChecker* permissions() const { return m_permissions.get(); }
    TradingSettingsProvider* settings() const { return m_settings.get(); }
    int userKind() const { return m_userKind; }

protected:
    ~TradeDesk() override;

private:
    const int m_userKind;
    RefPtr<TablesManager> m_tables;
    RefPtr<SystemProperties> m_properties;
    RefPtr<PermissionChecker> m_permissions;
    RefPtr<TradingSettingsProvider> m_settings;
};

} // namespace zel
