#pragma once
// What the login delivered: the tables that came with it (refreshing them is
// unnecessary), their raw answers and the system-properties answer, and the
// permission checker and trading settings initialized from them.
//
// Ownership: reference counted; IZelSession::getLoginRules adds a reference. Every
// getter that returns an interface adds a reference for the caller.
// [Threading] Immutable once handed out; any thread.

#include "vorntool/add_ref.h"
#include "zel/permission_checker.h"
#include "zel/response.h"
#include "zel/rows.h"
#include "zel/trading_settings_provider.h"
#include "zel/zel_export.h"

class ZEL_API IZelLoginRules : public IAddRef {
public:
    // True when the table's answer came with the login.
    virtual bool isTableLoadedByDefault(ZelTable table) = 0;
    // That answer, or null.
    virtual IZelResponse* getTableRefeshResponse(ZelTable table) = 0;
    // The system-properties answer of the login, or null.
    virtual IZelResponse* getSystemPropertiesResponse() = 0;
    virtual IZelPermissionChecker* getPermissionChecker() = 0;
    virtual IZelTradingSettingsProvider* getTradingSettingsProvider() = 0;

protected:
    IZelLoginRules() = default;
    ~IZelLoginRules() override = default;
};
