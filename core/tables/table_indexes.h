#pragma once
// What the calculations keep beside the tables so that no change walks a whole
// table: per offer its open trades and orders, the running totals of its Summary row
// and its pip cost; per account the sum of its trades' profit and loss; orders by
// trade ID and by request ID (stop and limit rates).
//
// [Threading] Used only under the table manager's write lock.

#include <algorithm>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/base/ref_ptr.h"
#include "core/tables/event.h"
#include "core/tables/rows.h"

namespace zel {

// Removes one reference to row from a vector, keeping the order of the others.
template <class Row>
void eraseRow(std::vector<RefPtr<Row>>& rows, const Row* row)
{
    auto it = std::find_if(rows.begin(), rows.end(), [row](const RefPtr<Row>& r) { return r.get() == row; });
    if (it != rows.end())
        rows.erase(it);
}

// One side (buy or sell) of an offer's open trades.
struct SideTotals {
    int count = 0;
    double openRates = 0;     // the sum of their open rates
    double amountK = 0;       // the sum of amount / divisor, each divided whole
    double grossPL = 0;       // the sum of their calculated GrossPL
};

struct AccountEntry {
    double grossPL = 0;       // the sum of its trades' calculated GrossPL
    RefPtr<AccountRow> row;   // the account's current row, null while it has none
    uint64_t tickSerial = 0;  // the last tick that listed it for recalculation
};

// An open trade of an offer, with its account's entry at hand for the tick.
struct TradeLink {
    RefPtr<TradeRow> row;
    AccountEntry* account;
};

// How an offer's pip cost reaches the account's currency, worked out from the
// instrument, the offer's own columns and the session's settings, and kept until one
// of them changes: a tick then only applies the current price.
struct PipCostRoute {
    enum class Kind { None, Direct, DivideByMid, DivideByOtherMid, TimesOtherMid };
    // The instruments' and settings' versions it was made at; 0 is never valid.
    uint64_t instrumentsVersion = 0;
    uint64_t settingsVersion = 0;
    // The offer's columns it was made from.
    RecordText instrument;
    RecordText contractCurrency;
    double pointSize = 0;
    int32_t contractMultiplier = 0;
    Kind kind = Kind::None;
    double units = 0;
    double pipCost = 0;     // in the quote currency: point size times units
    std::string otherOfferID;  // the offer whose mid price converts it
    // The offer's changed event in the instruments table (entries live as long as
    // the table), null while the offer has no entry there.
    Cpp::Event<>* changed = nullptr;
};

struct OfferEntry {
    std::vector<TradeLink> trades;
    std::vector<RefPtr<OrderRow>> orders;
    // Pip cost of the offer's last calculation; valid only when pipCostCalculated.
    bool pipCostCalculated = false;
    double unitsPerPipCost = 0;
    PipCostRoute route;
    SideTotals buy;
    SideTotals sell;
    double commission = 0;    // of all open trades
    double rollover = 0;      // of all open trades
    RefPtr<SummariesRow> summary;
};

class TableIndexes {
public:
    OfferEntry& offer(const char* offerID) { return m_offers[offerID]; }
    OfferEntry* findOffer(const char* offerID)
    {
        auto it = m_offers.find(offerID);
        return it == m_offers.end() ? nullptr : &it->second;
    }
    AccountEntry& account(const char* accountID) { return m_accounts[accountID]; }
    AccountEntry* findAccount(const char* accountID)
    {
        auto it = m_accounts.find(accountID);
        return it == m_accounts.end() ? nullptr : &it->second;
    }
    std::vector<RefPtr<OrderRow>>& ordersByTrade(const char* tradeID) { return m_ordersByTrade[tradeID]; }
    std::vector<RefPtr<OrderRow>>* findOrdersByTrade(const char* tradeID)
    {
        auto it = m_ordersByTrade.find(tradeID);
        return it == m_ordersByTrade.end() ? nullptr : &it->second;
    }
    std::vector<RefPtr<OrderRow>>& ordersByRequest(const char* requestID) { return m_ordersByRequest[requestID]; }
    std::vector<RefPtr<OrderRow>>* findOrdersByRequest(const char* requestID)
    {
        auto it = m_ordersByRequest.find(requestID);
        return it == m_ordersByRequest.end() ? nullptr : &it->second;
    }
    void dropOrdersByTrade(const char* tradeID) { m_ordersByTrade.erase(tradeID); }
    void dropOrdersByRequest(const char* requestID) { m_ordersByRequest.erase(requestID); }

    // The whole-number pip distance a trailing order keeps from the market, set when
    // the order arrives.
    std::unordered_map<const OrderRow*, int>& trailDistances() { return m_trailDistances; }

    // The entry orders that show the trail step and trail rate of their waiting stop,
    // each with its own trail rate (its own trail step is 0) to restore.
    std::unordered_map<const OrderRow*, double>& copiedTrails() { return m_copiedTrails; }

    // Bytes held per entry, for the memory figures of the benchmarks.
    static constexpr size_t kBytesPerTradeEntry = sizeof(TradeLink);

private:
    std::unordered_map<std::string, OfferEntry> m_offers;
    // Node-based: entries keep their address, so trades hold pointers to them.
    std::unordered_map<std::string, AccountEntry> m_accounts;
    std::unordered_map<std::string, std::vector<RefPtr<OrderRow>>> m_ordersByTrade;
    std::unordered_map<std::string, std::vector<RefPtr<OrderRow>>> m_ordersByRequest;
    std::unordered_map<const OrderRow*, int> m_trailDistances;
    std::unordered_map<const OrderRow*, double> m_copiedTrails;
};

} // namespace zel
