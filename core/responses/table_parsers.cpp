#include "core/responses/table_parsers.h"

namespace zel {

const char* tableCode(ZelTable table)
{
    switch (table) {
    case ZelTable::Offers: return "OFFER";
    case ZelTable::Accounts: return "ACCT";
    case ZelTable::Orders: return "ORDER";
    case ZelTable::Trades: return "TRADE";
    case ZelTable::ClosedTrades: return "CLSDTRADE";
    case ZelTable::Messages: return "MAIL";
    default: return "";
    }
}

} // namespace zel
