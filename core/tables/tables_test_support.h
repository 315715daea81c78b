#pragma once
// Rows and instruments for the live-table tests, built as the parsers build them.

#include <memory>
#include <string>

#include "core/tables/tables_manager.h"

namespace zel {
namespace testing_tables {

inline void addInstrument(TablesManager& manager, const std::string& offerID, const std::string& symbol, int type,
                          double pointSize, int baseUnitSize = 1000)
{
    auto instrument = std::make_unique<Instrument>();
    instrument->offerID = offerID;
    instrument->symbol = symbol;
    instrument->instrumentType = type;
    instrument->pointSize = pointSize;
    instrument->baseUnitSize = baseUnitSize;
    instrument->contractMultiplier = 1;
    instrument->contractCurrency = symbol.size() >= 3 ? symbol.substr(0, 3) : symbol;
    manager.instruments()->add(std::move(instrument));
}

inline RefPtr<OfferRow> offer(const std::string& id, const std::string& symbol, double bid, double ask,
                              double pointSize, int type = 1)
{
    auto r = std::make_unique<Offer>();
    r->OfferID = id;
    r->Instrument = symbol;
    r->Bid = bid;
    r->Ask = ask;
    r->PointSize = pointSize;
    r->InstrumentType = type;
    r->ContractMultiplier = 1;
    return adoptRef(new OfferRow(std::move(r), false));
}

inline RefPtr<AccountRow> account(const std::string& id, double balance, double usedMargin = 0, double m2m = 0,
                                  double nonTrade = 0, const char* kind = "32")
{
    auto r = std::make_unique<Account>();
    r->AccountID = id;
    r->AccountKind = kind;
    r->Balance = balance;
    r->UsedMargin = usedMargin;
    r->M2MEquity = m2m;
    r->NonTradeEquity = nonTrade;
    return adoptRef(new AccountRow(std::move(r), false));
}

inline RefPtr<TradeRow> trade(const std::string& id, const std::string& accountID, const std::string& offerID,
                              bool buy, int amount, double openRate, double commission = 0, double rollover = 0)
{
    auto r = std::make_unique<Trade>();
    r->TradeID = id;
    r->AccountID = accountID;
    r->OfferID = offerID;
    r->BuySell = buy ? "B" : "S";
    r->Amount = amount;
    r->OpenRate = openRate;
    r->Commission = commission;
    r->RolloverInterest = rollover;
    return adoptRef(new TradeRow(std::move(r), false));
}

// A waiting stop ("S") or limit ("L") order of a trade, or of an entry order's
// request when tradeID is empty.
inline RefPtr<OrderRow> order(const std::string& id, const std::string& offerID, const std::string& tradeID,
                              const std::string& requestID, const char* type, double rate, bool working = true,
                              const char* buySell = "S", const std::string& accountID = "A1")
{
    auto r = std::make_unique<Order>();
    r->OrderID = id;
    r->OfferID = offerID;
    r->TradeID = tradeID;
    r->RequestID = requestID;
    r->Type = type;
    r->Rate = rate;
    r->WorkingIndicator = working;
    r->Status = "W";
    r->BuySell = buySell;
    r->AccountID = accountID;
    return adoptRef(new OrderRow(std::move(r), false));
}

} // namespace testing_tables
} // namespace zel
