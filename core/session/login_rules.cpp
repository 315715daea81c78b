#include "core/session/login_rules.h"

#include <string>

#include "core/responses/response.h"

namespace zel {

bool LoginRules::isTableLoadedByDefault(ZelTable table)
{
    return m_tables.count(table) != 0;
}

IZelResponse* LoginRules::getTableRefeshResponse(ZelTable table)
{
    auto it = m_tables.find(table);
    return it == m_tables.end() ? nullptr : it->second.share();
}

void LoginRules::add(ZelTable table, IZelResponse* response)
{
    if (response)
        m_tables[table] = adoptRef(response);
}

void LoginRules::add(IZelResponse* systemProperties)
{
    m_properties = adoptRef(systemProperties);
}

void LoginRules::setPermissionChecker(IZelPermissionChecker* checker)
{
    m_checker = adoptRef(checker);
}

void LoginRules::setTradingSettingsProvider(IZelTradingSettingsProvider* provider)
{
    m_settings = adoptRef(provider);
}

int LoginRulesFactory::refreshCommandOf(ZelTable table)
{
    switch (table) {
    case ZelTable::Offers: return 9;
    case ZelTable::Accounts: return 5;
    case ZelTable::Orders: return 46;
    case ZelTable::Trades: return 10;
    case ZelTable::ClosedTrades: return 67;
    case ZelTable::Messages: return 7;
    default: return -1;
    }
}

ZelResponseType LoginRulesFactory::responseTypeOf(int command)
{
    switch (command) {
    case 3: return static_cast<ZelResponseType>(9);
    case 5: return static_cast<ZelResponseType>(2);
    case 9: return static_cast<ZelResponseType>(3);
    case 34: return static_cast<ZelResponseType>(8);
    case 10: case 43: case 44: return static_cast<ZelResponseType>(5);
    case 45: case 46: return static_cast<ZelResponseType>(4);
    case 67: case 69: case 70: return static_cast<ZelResponseType>(6);
    case 117: return static_cast<ZelResponseType>(12);
    case 19: case 20: case 24: case 131: return static_cast<ZelResponseType>(10);
    case 138: case 143: case 144: return static_cast<ZelResponseType>(11);
    default: return static_cast<ZelResponseType>(-1);
    }
}

LoginRules* LoginRulesFactory::createLoginRules(merrow::IUserSession* session, const std::vector<ZelTable>& tables)
{
    RefPtr<LoginRules> rules = adoptRef(new LoginRules());
    if (!session)
        return rules.detach();
    for (ZelTable table : tables) {
        const int command = refreshCommandOf(table);
        if (command < 0)
            continue;
        const std::string number = std::to_string(command);
        const char* text = session->getInitialMessage(number.c_str());
        if (!text)
            continue;
        RefPtr<Response> response = adoptRef(new Response(responseTypeOf(command), "", text));
        rules->add(table, response.detach());
    }
    if (const char* text = session->getInitialMessage("3"))
        rules->add(new Response(responseTypeOf(3), "", text));
    return rules.detach();
}

} // namespace zel
