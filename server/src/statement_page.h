#pragma once
// The HTML account statement: per account its balance, equity and margin, its open
// trades, and the trades closed and messages written within the dates asked. Every
// text from the state is HTML-escaped. Pure functions; any thread.

#include <string>
#include <vector>

#include "records.h"
#include "world.h"

namespace pellora::dealer {

struct StatementAccount {
    AccountRecord account;
    double equity = 0;
    std::vector<TradeRecord> open;
    std::vector<ClosedTradeRecord> closed;  // closed within the range
};

// "so" or empty: 0; "now" or empty: the end of time; "M/D/YYYY": that day's start
// (from) or end (till), UTC. False for anything else.
bool parseStatementDate(const std::string& text, bool till, UnixMs& out);

std::string htmlEscape(const std::string& s);

std::string renderStatement(const std::string& user, const std::vector<StatementAccount>& accounts,
                            const std::vector<MessageRecord>& messages, UnixMs from, UnixMs till, const World& world);

} // namespace pellora::dealer
