// The Summary table: one row per offer with open trades, every cell calculated from
// the offer's running totals (table_indexes.h), so a row never depends on which of
// its trades calculated last.

#include <cstdlib>

#include "core/tables/table_calculations.h"

namespace zel {

void TableCalculations::createOrUpdateSummaryRow(const char* offerID, OfferEntry& entry, bool fire)
{
    if (entry.summary) {
        RefPtr<OfferRow> offer = m_offers.find(offerID);
        calculateSummariesFields(offer.get(), entry, *entry.summary);
        if (fire)
            m_summary.fireRowChanged(entry.summary.get());
        return;
    }
    if (entry.buy.count + entry.sell.count == 0)
        return;
    std::shared_ptr<const Instrument> instrument = m_instruments.find(offerID);
    if (!instrument)
        return;
    auto record = std::make_unique<SummaryRecord>();
    record->OfferID = offerID;
    record->DefaultSortOrder = static_cast<int32_t>(std::strtol(offerID, nullptr, 10));
    record->Instrument = instrument->symbol;
    RefPtr<SummariesRow> row(new SummariesRow(std::move(record), false), RefPtr<SummariesRow>::adopt);
    calculateSummariesFields(m_offers.find(offerID).get(), entry, *row);
    entry.summary = row;
    m_summary.add(row.get());
}

void TableCalculations::removeOrUpdateSummaryRow(const char* offerID, OfferEntry& entry)
{
    if (!entry.summary)
        return;
    if (entry.buy.count + entry.sell.count > 0) {
        createOrUpdateSummaryRow(offerID, entry, true);
        return;
    }
    RefPtr<SummariesRow> row = std::move(entry.summary);
    m_summary.remove(row.get());
}

void TableCalculations::updateSummaryRow(const OfferRow* offer, OfferEntry& entry)
{
    if (SummariesRow* summary = entry.summary.get()) {
        calculateSummariesFields(offer, entry, *summary);
        m_summary.fireRowChanged(summary);
    }
}

void TableCalculations::calculateSummariesFields(const OfferRow* offer, OfferEntry& entry, SummariesRow& summary)
{
    SummaryRecord& s = summary.record();
    const bool priced = offer != nullptr;
    const double bid = priced ? cellValue(offer->record().Bid) : 0;
    const double ask = priced ? cellValue(offer->record().Ask) : 0;
    const SideTotals& buy = entry.buy;
    const SideTotals& sell = entry.sell;
    const double gross = buy.grossPL + sell.grossPL;
    CalculatedCells<SummariesRow> cells(summary);
    cells.store(s.BuyAvgOpen, SummaryColumns::BuyAvgOpen, buy.count ? buy.openRates / buy.count : 0);
    cells.store(s.SellAvgOpen, SummaryColumns::SellAvgOpen, sell.count ? sell.openRates / sell.count : 0);
    cells.store(s.BuyAmountK, SummaryColumns::BuyAmountK, buy.amountK);
    cells.store(s.SellAmountK, SummaryColumns::SellAmountK, sell.amountK);
    cells.store(s.AmountK, SummaryColumns::AmountK, buy.amountK - sell.amountK);
    cells.store(s.BuyNetPL, SummaryColumns::BuyNetPL, buy.grossPL);
    cells.store(s.SellNetPL, SummaryColumns::SellNetPL, sell.grossPL);
    cells.store(s.GrossPL, SummaryColumns::GrossPL, gross);
    // Net of the commissions and rollover of every open trade of the offer.
    cells.store(s.NetPL, SummaryColumns::NetPL, gross - entry.commission + entry.rollover);
    // A buy closes at the bid (SellClose), a sell at the ask (BuyClose).
    cells.store(s.SellClose, SummaryColumns::SellClose, bid, priced && buy.count > 0);
    cells.store(s.BuyClose, SummaryColumns::BuyClose, ask, priced && sell.count > 0);
    cells.commit();
}

} // namespace zel
