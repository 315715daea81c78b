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
    OfferEntry& entry = calculateOffersFields(*offer);
    recalculateOfferRows(offer->record().OfferID.c_str(), offer, entry);
}

void TableCalculations::rowChanged(OfferRow* offer, OfferRow*)
{
    OfferEntry& entry = calculateOffersFields(*offer);
    recalculateOfferRows(offer->record().OfferID.c_str(), offer, entry);
}

void TableCalculations::rowDeleted(OfferRow* offer)
{
    // The trades of an offer that left show no price any more.
    const char* offerID = offer->record().OfferID.c_str();
    if (OfferEntry* entry = m_indexes.findOffer(offerID)) {
        entry->pipCostCalculated = false;
        recalculateOfferRows(offerID, nullptr, *entry);
    }
}

OfferEntry& TableCalculations::calculateOffersFields(OfferRow& offer)
{
    Offer& o = offer.record();
    OfferEntry& entry = m_indexes.offer(o.OfferID.c_str());
    entry.pipCostCalculated = false;
    entry.unitsPerPipCost = 0;
    PipCostRoute& route = entry.route;
    // The versions are read before what they cover, so a change made meanwhile
    // leaves a stale mark and the next tick works the route out again.
    const uint64_t instrumentsVersion = m_instruments.version();
    const uint64_t settingsVersion = m_manager.settingsVersion();
    if (route.instrumentsVersion != instrumentsVersion || route.settingsVersion != settingsVersion ||
        route.instrument != o.Instrument || route.contractCurrency != o.ContractCurrency ||
        !(route.pointSize == cellValue(o.PointSize)) || route.contractMultiplier != cellValue(o.ContractMultiplier)) {
        findPipCostRoute(o, route);
        route.instrumentsVersion = instrumentsVersion;
        route.settingsVersion = settingsVersion;
    }
    double pipCost = route.pipCost;
    bool calculated = true;
    switch (route.kind) {
    case PipCostRoute::Kind::None:
        calculated = false;
        break;
    case PipCostRoute::Kind::Direct:
        // Already in the account's currency.
        break;
    case PipCostRoute::Kind::DivideByMid: {
        const double mid = midPrice(offer);
        pipCost = mid > 0 ? pipCost / mid : 0;
        break;
    }
    case PipCostRoute::Kind::DivideByOtherMid:
    case PipCostRoute::Kind::TimesOtherMid: {
        double mid = 0;
        m_offers.visit(route.otherOfferID.c_str(), [&mid](OfferRow* row) { mid = midPrice(*row); });
        if (route.kind == PipCostRoute::Kind::DivideByOtherMid)
            pipCost = mid > 0 ? pipCost / mid : 0;
        else
            pipCost = pipCost * mid;
        break;
    }
    }
    // A pip cost of 0 (no price to convert with, a point size or unit size of 0) is
    // no pip cost: the trades then show no GrossPL rather than a division by zero.
    calculated = calculated && std::isfinite(pipCost) && pipCost != 0;
    storeCalculated(offer, o.PipCost, OfferColumns::PipCost, pipCost, calculated);
    offer.setValid(OfferColumns::PipCost, calculated);
    if (calculated) {
        entry.unitsPerPipCost = route.units / pipCost;
        entry.pipCostCalculated = std::isfinite(entry.unitsPerPipCost) && entry.unitsPerPipCost != 0;
    }
    return entry;
}

void TableCalculations::findPipCostRoute(const Offer& o, PipCostRoute& route)
{
    route.instrument = o.Instrument;
    route.contractCurrency = o.ContractCurrency;
    route.pointSize = cellValue(o.PointSize);
    route.contractMultiplier = cellValue(o.ContractMultiplier);
    route.kind = PipCostRoute::Kind::None;
    route.units = 0;
    route.pipCost = 0;
    route.otherOfferID.clear();
    route.changed = m_instruments.findEventChanged(o.OfferID.c_str());
    std::shared_ptr<const Instrument> instrument = m_instruments.findByInstrument(o.Instrument.c_str());
    if (!instrument)
        return;
    double units = instrument->instrumentType == 1 ? m_manager.getBaseUnitSize() : instrument->baseUnitSize;
    units *= route.contractMultiplier;
    route.units = units;
    route.pipCost = route.pointSize * units;

    const std::string& symbol = instrument->symbol;
    const size_t slash = symbol.find('/');
    const std::string base = slash == std::string::npos ? symbol : symbol.substr(0, slash);
    const std::string quote = slash == std::string::npos ? o.ContractCurrency.str() : symbol.substr(slash + 1);
    const std::string account = m_manager.getAccountCurrency().substr(0, 3);
    if (account == quote) {
        route.kind = PipCostRoute::Kind::Direct;
    } else if (instrument->instrumentType == 1 && account == base) {
        route.kind = PipCostRoute::Kind::DivideByMid;
    } else if (auto cross = m_instruments.findByInstrument((account + "/" + quote).c_str())) {
        route.kind = PipCostRoute::Kind::DivideByOtherMid;
        route.otherOfferID = cross->offerID;
    } else if (auto inverse = m_instruments.findByInstrument((quote + "/" + account).c_str())) {
        route.kind = PipCostRoute::Kind::TimesOtherMid;
        route.otherOfferID = inverse->offerID;
    }
}

void TableCalculations::recalculateOfferRows(const char* offerID, OfferRow* offer, OfferEntry& offerEntry)
{
    OfferEntry* entry = &offerEntry;
    // One tick reports each changed row once: the trades as they are calculated, then
    // their accounts and the Summary row, all before the offer itself.
    m_tickAccounts.clear();
    m_inTick = true;
    ++m_tickSerial;
    // By index, without a reference per trade: the map and the index hold every row,
    // and nothing in the loop adds or removes trades.
    for (size_t i = 0; i < entry->trades.size(); ++i) {
        const TradeLink& link = entry->trades[i];
        calculateTradesFields(*link.row, true, offer, entry, *link.account);
    }
    m_inTick = false;
    // Each account once, with the sum of all its trades' changes.
    for (AccountEntry* account : m_tickAccounts) {
        if (AccountRow* row = account->row.get()) {
            calculateAccountsFields(*row, account->grossPL);
            m_accounts.fireRowChanged(row);
        }
    }
    m_tickAccounts.clear();
    if (!entry->trades.empty())
        updateSummaryRow(offer, *entry);
    for (size_t i = 0; i < entry->orders.size(); ++i) {
        RefPtr<OrderRow> order = entry->orders[i];
        calculateOrdersFields(*order, true);
    }
    if (entry->pipCostCalculated) {
        // The route is current here: calculateOffersFields ran for this offer.
        if (Cpp::Event<>* changed = entry->route.changed)
            changed->fire();
        else
            m_instruments.fireChanged(offerID);
    }
}

} // namespace zel
