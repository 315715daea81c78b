// pellora rules: the permissions and trading settings the server granted this
// login, one row per instrument.

#include <map>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "commands.h"
#include "zel/login_rules.h"

namespace pellora::cli {

namespace {

const char* permission(int p) {
    switch (p) {
    case 1: return "yes";
    case 0: return "no";
    default: return "disabled";
    }
}

}  // namespace

bool runRules(Context& cx, const std::string& symbol, const std::string& accountID) {
    IZelSession* session = cx.client.session();
    Ref<IZelLoginRules> rules = Ref<IZelLoginRules>::adopt(session->getLoginRules());
    if (!rules) return fail(cx, kExitUsage, "the session has no login rules");
    Ref<IZelPermissionChecker> can = Ref<IZelPermissionChecker>::adopt(rules->getPermissionChecker());
    Ref<IZelTradingSettingsProvider> settings =
        Ref<IZelTradingSettingsProvider>::adopt(rules->getTradingSettingsProvider());
    if (!can || !settings) return fail(cx, kExitUsage, "the login rules are incomplete");

    // Quantities, base units and margins depend on the account.
    Ref<IZelAccountsTableResponseReader> accounts;
    if (!fetchAccounts(cx, accounts)) return false;
    Ref<IZelAccountRow> account;
    for (int i = 0; i < accounts->size() && !account; ++i) {
        Ref<IZelAccountRow> r = Ref<IZelAccountRow>::adopt(accounts->getRow(i));
        if (r && (accountID.empty() || accountID == r->getAccountID())) account = r;
    }
    if (!account)
        return fail(cx, kExitRefused, accountID.empty() ? "the login has no account"
                                                        : fmt::format("no account '{}'", accountID));
    std::vector<std::string> symbols;
    if (!instrumentSymbols(cx, symbols)) return false;
    if (!symbol.empty()) {
        bool known = false;
        for (const auto& s : symbols) known = known || s == symbol;
        if (!known) return fail(cx, kExitRefused, fmt::format("unknown symbol '{}'", symbol));
        symbols = {symbol};
    }

    Table t({"symbol", "market", "open", "close", "entry", "stop_limit", "oco", "oto", "net_close", "min_qty",
             "max_qty", "base_unit", "mmr", "dist_stop", "dist_limit", "dist_entry_stop", "dist_entry_limit"});
    for (const auto& s : symbols) {
        const char* i = s.c_str();
        t.addRow({Table::text(s),
                  Table::text(settings->getMarketStatus(i) == ZelMarketStatus::Open ? "open" : "closed"),
                  Table::text(permission(can->canCreateMarketOpenOrder(i))),
                  Table::text(permission(can->canCreateMarketCloseOrder(i))),
                  Table::text(permission(can->canCreateEntryOrder(i))),
                  Table::text(permission(can->canCreateStopLimitOrder(i))),
                  Table::text(permission(can->canCreateOCO(i))), Table::text(permission(can->canCreateOTO(i))),
                  Table::text(permission(can->canCreateNetCloseOrder(i))),
                  Table::integer(settings->getMinQuantity(i, account.get())),
                  Table::integer(settings->getMaxQuantity(i, account.get())),
                  Table::integer(settings->getBaseUnitSize(i, account.get())),
                  Table::number(settings->getMMR(i, account.get()), 2),
                  Table::integer(settings->getCondDistStopForTrade(i)),
                  Table::integer(settings->getCondDistLimitForTrade(i)),
                  Table::integer(settings->getCondDistEntryStop(i)),
                  Table::integer(settings->getCondDistEntryLimit(i))});
    }
    t.print(cx.out, cx.format);
    if (cx.format == OutputFormat::Table)
        cx.out << fmt::format("account {}; trailing steps: stop {}-{}, entry stop {}-{} pips\n",
                              account->getAccountID(), settings->getMinTrailingStepForStop(),
                              settings->getMaxTrailingStepForStop(), settings->getMinTrailingStepForEntryStop(),
                              settings->getMaxTrailingStepForEntryStop());
    return true;
}

}  // namespace pellora::cli
