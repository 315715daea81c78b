// A tick starts here: the offer's row is replaced, its pip cost recalculated, then
// every trade and order of the offer (trades_calculation.cpp, orders_calculation.cpp),
// and only then do the offer's own listeners hear of it (generic_table.h).

#include <cmath>
#include <cstring>
#include <string>

#include "core/tables/table_calculations.h"
#include "core/tables/tables_manager.h"

namespace zel {

namespace {

// The mid price of an offer, or 0 when it has no usable price.
double midPrice(const OfferRow& offer)
{
    const double mid = 0.5 * (cellValue(offer.record().Ask) + cellValue(offer.record().Bid));
    return std::isfinite(mid) && mid > 0 ? mid : 0;
}

} // namespace

TableCalculations::TableCalculations(TablesManager& manager, OffersTableT& offers, AccountsTableT& accounts,
                                     OrdersTableT& orders, TradesTableT& trades, SummaryTableT& summary)
    : m_manager(manager),
      m_instruments(*manager.instruments()),
      m_offers(offers),
      m_accounts(accounts),
      m_orders(orders),
      m_trades(trades),
      m_summary(summary)
{
}

void TableCalculations::rowAdded(OfferRow* offer)
{
    calculateOffersFields(*offer);
    recalculateOfferRows(offer->record().OfferID.c_str());
}

void TableCalculations::rowChanged(OfferRow* offer, OfferRow*)
{
    calculateOffersFields(*offer);
    recalculateOfferRows(offer->record().OfferID.c_str());
}

void TableCalculations::rowDeleted(OfferRow* offer)
{
    // The trades of an offer that left show no price any more.
    if (OfferEntry* entry = m_indexes.findOffer(offer->record().OfferID.c_str()))
        entry->pipCostCalculated = false;
    recalculateOfferRows(offer->record().OfferID.c_str());
}

void TableCalculations::calculateOffersFields(OfferRow& offer)
{
    Offer& o = offer.record();
    OfferEntry& entry = m_indexes.offer(o.OfferID.c_str());
    entry.pipCostCalculated = false;
    entry.unitsPerPipCost = 0;
    double pipCost = 0;
    double units = 0;
    bool calculated = false;
    if (std::shared_ptr<const Instrument> instrument = m_instruments.findByInstrument(o.Instrument.c_str())) {
        units = instrument->instrumentType == 1 ? m_manager.getBaseUnitSize() : instrument->baseUnitSize;
        units *= cellValue(o.ContractMultiplier);
        pipCost = cellValue(o.PointSize) * units;

        const std::string& symbol = instrument->symbol;
        const size_t slash = symbol.find('/');
        const std::string base = slash == std::string::npos ? symbol : symbol.substr(0, slash);
        const std::string quote = slash == std::string::npos ? o.ContractCurrency.str() : symbol.substr(slash + 1);
        const std::string account = m_manager.getAccountCurrency().substr(0, 3);
        calculated = true;
        if (account == quote) {
            // Already in the account's currency.
        } else if (instrument->instrumentType == 1 && account == base) {
            const double mid = midPrice(offer);
            pipCost = mid > 0 ? pipCost / mid : 0;
        } else if (auto cross = m_instruments.findByInstrument((account + "/" + quote).c_str())) {
            double mid = 0;
            m_offers.visit(cross->offerID.c_str(), [&mid](OfferRow* row) { mid = midPrice(*row); });
            pipCost = mid > 0 ? pipCost / mid : 0;
        } else if (auto inverse = m_instruments.findByInstrument((quote + "/" + account).c_str())) {
            double mid = 0;
            m_offers.visit(inverse->offerID.c_str(), [&mid](OfferRow* row) { mid = midPrice(*row); });
            pipCost = pipCost * mid;
        } else {
            calculated = false;
        }
    }
    // A pip cost of 0 (no price to convert with, a point size or unit size of 0) is
    // no pip cost: the trades then show no GrossPL rather than a division by zero.
    calculated = calculated && std::isfinite(pipCost) && pipCost != 0;
    storeCalculated(offer, o.PipCost, OfferColumns::PipCost, pipCost, calculated);
    offer.setValid(OfferColumns::PipCost, calculated);
    if (calculated) {
        entry.unitsPerPipCost = units / pipCost;
        entry.pipCostCalculated = std::isfinite(entry.unitsPerPipCost) && entry.unitsPerPipCost != 0;
    }
}

void TableCalculations::recalculateOfferRows(const char* offerID)
{
    OfferEntry* entry = m_indexes.findOffer(offerID);
    if (entry == nullptr)
        return;
    RefPtr<OfferRow> offer = m_offers.find(offerID);
    // One tick reports each changed row once: the trades as they are calculated, then
    // their accounts and the Summary row, all before the offer itself.
    m_tickAccounts.clear();
    m_inTick = true;
    // By index: a listener cannot change the lists, but a trailing stop may touch them.
    for (size_t i = 0; i < entry->trades.size(); ++i) {
        TradeLink link = entry->trades[i];
        calculateTradesFields(*link.row, true, offer.get(), entry, *link.account);
    }
    m_inTick = false;
    for (AccountEntry* account : m_tickAccounts) {
        if (account->row)
            m_accounts.fireRowChanged(account->row.get());
    }
    m_tickAccounts.clear();
    if (!entry->trades.empty())
        updateSummaryRow(offer.get(), *entry);
    for (size_t i = 0; i < entry->orders.size(); ++i) {
        RefPtr<OrderRow> order = entry->orders[i];
        calculateOrdersFields(*order, true);
    }
    if (entry->pipCostCalculated)
        m_instruments.fireChanged(offerID);
}

} // namespace zel
