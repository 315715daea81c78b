#pragma once
// The login rules (see zel/login_rules.h) and the factory that builds them from the
// answers a messaging session received with its login.
//
// Ownership: reference counted (one for the creator); each held object with one
// reference, taken over from the caller by add and the setters.
// [Threading] Filled on the thread that builds them, before they are handed out;
// afterwards only read.

#include <map>
#include <vector>

#include "core/base/ref_ptr.h"
#include "merrow/user_session.h"
#include "vorntool/add_ref.h"
#include "zel/login_rules.h"

namespace zel {

class LoginRules : public TThreadSafeAddRefImpl<IZelLoginRules> {
public:
    LoginRules() = default;

    bool isTableLoadedByDefault(ZelTable table) override;
    IZelResponse* getTableRefeshResponse(ZelTable table) override;
    IZelResponse* getSystemPropertiesResponse() override { return m_properties.share(); }
    IZelPermissionChecker* getPermissionChecker() override { return m_checker.share(); }
    IZelTradingSettingsProvider* getTradingSettingsProvider() override { return m_settings.share(); }

    // Take over the caller's reference.
    void add(ZelTable table, IZelResponse* response);
    void add(IZelResponse* systemProperties);
    void setPermissionChecker(IZelPermissionChecker* checker);
    void setTradingSettingsProvider(IZelTradingSettingsProvider* provider);

protected:
    ~LoginRules() override = default;

private:
    std::map<ZelTable, RefPtr<IZelResponse>> m_tables;
    RefPtr<IZelResponse> m_properties;
    RefPtr<IZelPermissionChecker> m_checker;
    RefPtr<IZelTradingSettingsProvider> m_settings;
};

class LoginRulesFactory {
public:
    // The rules of the tables' answers (and the system properties) that came with
    // the login; one reference for the caller.
    static LoginRules* createLoginRules(merrow::IUserSession* session, const std::vector<ZelTable>& tables);
    // The refresh command of a table, -1 for none.
    static int refreshCommandOf(ZelTable table);
    // The response type this factory gives a command's answer.
    static ZelResponseType responseTypeOf(int command);
};

} // namespace zel
