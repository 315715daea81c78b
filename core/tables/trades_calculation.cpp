// A trade's calculated columns and its share of the totals. Its GrossPL reaches its
// account (accounts_calculation.cpp) and its offer's Summary row
// (summary_calculation.cpp) as the difference to its previous contribution.

#include <algorithm>
#include <cmath>

#include "core/tables/table_calculations.h"

namespace zel {

namespace {

bool isBuy(const Trade& t) { return t.BuySell.c_str()[0] == 'B'; }

// What the trade adds to its account's and Summary row's totals.
double contribution(const TradeRow& trade)
{
    return trade.isCalculated(TradeColumns::GrossPL) ? cellValue(trade.record().GrossPL) : 0.0;
}

} // namespace

int TableCalculations::summaryDivisor(const char* offerID) const
{
    std::shared_ptr<const Instrument> instrument = m_instruments.find(offerID);
    return instrument && instrument->instrumentType == 1 ? 1000 : 1;
}

void TableCalculations::rowAdded(TradeRow* trade)
{
    attachTrade(*trade);
}

void TableCalculations::rowChanged(TradeRow* trade, TradeRow* old)
{
    // The replacing row (a partial close changes the amount) is calculated at once, so
    // its account and Summary row never miss its share until the next tick.
    const std::string oldOffer = old->record().OfferID.str();
    detachTrade(*old);
    attachTrade(*trade);
    if (oldOffer != trade->record().OfferID.c_str()) {
        if (OfferEntry* entry = m_indexes.findOffer(oldOffer.c_str()))
            removeOrUpdateSummaryRow(oldOffer.c_str(), *entry);
    }
}

void TableCalculations::rowDeleted(TradeRow* trade)
{
    detachTrade(*trade);
    const char* offerID = trade->record().OfferID.c_str();
    if (OfferEntry* entry = m_indexes.findOffer(offerID))
        removeOrUpdateSummaryRow(offerID, *entry);
}

void TableCalculations::attachTrade(TradeRow& trade)
{
    const Trade& t = trade.record();
    const char* offerID = t.OfferID.c_str();
    OfferEntry& entry = m_indexes.offer(offerID);
    AccountEntry& account = m_indexes.account(t.AccountID.c_str());
    entry.trades.push_back(TradeLink{RefPtr<TradeRow>(&trade), &account});
    SideTotals& side = isBuy(t) ? entry.buy : entry.sell;
    side.count += 1;
    side.openRates += cellValue(t.OpenRate);
    side.amountK += cellValue(t.Amount) / summaryDivisor(offerID);
    entry.commission += cellValue(t.Commission);
    entry.rollover += cellValue(t.RolloverInterest);
    // Not calculated yet: the row contributes nothing until calculateTradesFields.
    trade.setCalculated(TradeColumns::GrossPL, false);
    createOrUpdateSummaryRow(offerID, entry, true);
    initializeTradesFields(trade);
    calculateTradesFields(trade, false);
}

void TableCalculations::detachTrade(TradeRow& trade)
{
    const Trade& t = trade.record();
    const char* offerID = t.OfferID.c_str();
    OfferEntry& entry = m_indexes.offer(offerID);
    const double gross = contribution(trade);
    SideTotals& side = isBuy(t) ? entry.buy : entry.sell;
    side.count -= 1;
    side.openRates -= cellValue(t.OpenRate);
    side.amountK -= cellValue(t.Amount) / summaryDivisor(offerID);
    side.grossPL -= gross;
    if (side.count == 0) {
        // Nothing left on this side: start the sums afresh, free of rounding.
        side = SideTotals{};
    }
    entry.commission -= cellValue(t.Commission);
    entry.rollover -= cellValue(t.RolloverInterest);
    if (entry.buy.count + entry.sell.count == 0)
        entry.commission = entry.rollover = 0;
    auto link = std::find_if(entry.trades.begin(), entry.trades.end(),
                             [&trade](const TradeLink& l) { return l.row.get() == &trade; });
    if (link != entry.trades.end())
        entry.trades.erase(link);
    addAccountGross(m_indexes.account(t.AccountID.c_str()), -gross, true);
}

void TableCalculations::calculateTradesFields(TradeRow& trade, bool fire)
{
    const Trade& t = trade.record();
    RefPtr<OfferRow> offer = m_offers.find(t.OfferID.c_str());
    calculateTradesFields(trade, fire, offer.get(), m_indexes.findOffer(t.OfferID.c_str()),
                          m_indexes.account(t.AccountID.c_str()));
}

void TableCalculations::calculateTradesFields(TradeRow& trade, bool fire, const OfferRow* offer, OfferEntry* entry,
                                              AccountEntry& account)
{
    Trade& t = trade.record();
    const double before = contribution(trade);
    const bool buy = isBuy(t);
    bool haveClose = false;
    bool havePL = false;
    bool haveGross = false;
    double close = 0;
    double pips = 0;
    double gross = 0;
    if (offer != nullptr) {
        const Offer& o = offer->record();
        close = buy ? cellValue(o.Bid) : cellValue(o.Ask);
        haveClose = std::isfinite(close);
        const double pointSize = cellValue(o.PointSize);
        const double open = cellValue(t.OpenRate);
        if (haveClose && pointSize > 0 && std::isfinite(pointSize)) {
            pips = buy ? (close - open) / pointSize : (open - close) / pointSize;
            havePL = std::isfinite(pips);
        }
        if (havePL && entry != nullptr && entry->pipCostCalculated) {
            gross = pips * cellValue(t.Amount) / entry->unitsPerPipCost;
            haveGross = std::isfinite(gross);
        }
    }
    CalculatedCells<TradeRow> cells(trade);
    cells.store(t.Close, TradeColumns::Close, close, haveClose);
    cells.store(t.PL, TradeColumns::PL, pips, havePL);
    cells.store(t.GrossPL, TradeColumns::GrossPL, gross, haveGross);
    cells.commit();

    const double after = haveGross ? gross : 0.0;
    if (entry != nullptr) {
        SideTotals& side = buy ? entry->buy : entry->sell;
        side.grossPL += after - before;
    }
    if (m_inTick) {
        // The account's row is calculated once at the end of the tick.
        account.grossPL += after - before;
        if (account.tickSerial != m_tickSerial) {
            account.tickSerial = m_tickSerial;
            m_tickAccounts.push_back(&account);
        }
    } else {
        addAccountGross(account, after - before, true);
        if (entry != nullptr)
            updateSummaryRow(offer, *entry);
    }
    if (fire)
        m_trades.fireRowChanged(&trade);
}

} // namespace zel
