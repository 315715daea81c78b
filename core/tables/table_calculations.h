#pragma once
// The calculated columns of the live tables and the cascade that keeps them current.
// A tick follows the files: offers_calculation.cpp (pip cost, then every trade and
// order of the offer), trades_calculation.cpp (close, PL, GrossPL, and the trade's
// share of its account and Summary row), accounts_calculation.cpp,
// summary_calculation.cpp, orders_calculation.cpp (stop and limit rates, trailing);
// table_indexes.h holds what lets each step reach only the rows it concerns.
//
// Every calculated cell carries a calculated flag: 0 is a value. A cell that cannot
// be calculated (no offer, no instrument, a point size or price of 0) is 0 and not
// calculated, and contributes nothing to a total. Totals (account GrossPL, Summary
// NetPL, averages) are the sums over the current rows, kept by adding and taking
// out each row's contribution.
//
// [Threading] Runs on the writer's thread under the manager's write lock, inside the
// table change that triggered it; it reads other tables lock-free and writes
// calculated cells with atomic stores (readers may hold the rows).
// [Exceptions] Throws nothing of its own; a listener's exception stops at the table.

#include <string>
#include <vector>

#include "core/tables/generic_table.h"
#include "core/tables/instruments_table.h"
#include "core/tables/table_indexes.h"

namespace zel {

class TablesManager;
using OffersTableT = TGenericTables<IZelOffersTable, OfferRow>;
using AccountsTableT = TGenericTables<IZelAccountsTable, AccountRow>;
using OrdersTableT = TGenericTables<IZelOrdersTable, OrderRow>;
using TradesTableT = TGenericTables<IZelTradesTable, TradeRow>;
using SummaryTableT = TGenericTables<IZelSummaryTable, SummariesRow>;

class TableCalculations final : public ITableCalculation<OfferRow>,
                                public ITableCalculation<AccountRow>,
                                public ITableCalculation<OrderRow>,
                                public ITableCalculation<TradeRow> {
public:
    // The tables must outlive the calculations (the manager detaches them first).
    TableCalculations(TablesManager& manager, OffersTableT& offers, AccountsTableT& accounts, OrdersTableT& orders,
                      TradesTableT& trades, SummaryTableT& summary);

    // offers_calculation.cpp
    void rowAdded(OfferRow* offer) override;
    void rowChanged(OfferRow* offer, OfferRow* old) override;
    void rowDeleted(OfferRow* offer) override;
    // The pip cost and units per pip cost of the offer.
    // Returns the offer's index entry.
    OfferEntry& calculateOffersFields(OfferRow& offer);
    // Works out how the offer's pip cost reaches the account's currency.
    void findPipCostRoute(const Offer& offer, PipCostRoute& route);
    // Every trade and order of the offer, after its price or pip cost moved.
    // offer is the offer's row, or null when it is not in the table; entry is its
    // index entry.
    void recalculateOfferRows(const char* offerID, OfferRow* offer, OfferEntry& entry);

    // accounts_calculation.cpp
    void rowAdded(AccountRow* account) override;
    void rowChanged(AccountRow* account, AccountRow* old) override;
    void rowDeleted(AccountRow* account) override;
    // Adds delta to the account's GrossPL total and recalculates its row (if it is
    // in the table), telling the account's listeners when fire is set.
    void addAccountGross(AccountEntry& account, double delta, bool fire);
    void calculateAccountsFields(AccountRow& account, double grossPL);

    // trades_calculation.cpp
    void rowAdded(TradeRow* trade) override;
    void rowChanged(TradeRow* trade, TradeRow* old) override;
    void rowDeleted(TradeRow* trade) override;
    // Close, PL and GrossPL from the offer's current price; the change of the
    // trade's GrossPL goes into its account and its Summary row.
    void calculateTradesFields(TradeRow& trade, bool fire);
    // The same with the offer's row (null when it is not in the table), index entry
    // and the trade's account entry already found: the tick's loop.
    void calculateTradesFields(TradeRow& trade, bool fire, const OfferRow* offer, OfferEntry* entry,
                               AccountEntry& account);

    // orders_calculation.cpp
    void rowAdded(OrderRow* order) override;
    void rowChanged(OrderRow* order, OrderRow* old) override;
    void rowDeleted(OrderRow* order) override;
    // The trade's Stop and Limit from its waiting stop and limit orders.
    bool initializeTradesFields(TradeRow& trade);
    // An entry order's Stop and Limit from the orders waiting for it.
    bool initializeEntryOrderFields(OrderRow& order);
    // Shows (show set) or takes back the trail step and rate of an entry order's
    // waiting stop on the entry order; true when its cells moved.
    bool copyStopTrail(OrderRow& order, bool show, int trailStep, double trailRate);
    // The trailing rate; true when the rate moved.
    bool calculateOrdersFields(OrderRow& order, bool fire);

    // summary_calculation.cpp
    // Creates the offer's Summary row when the offer has trades and a known
    // instrument; otherwise recalculates the row that exists.
    void createOrUpdateSummaryRow(const char* offerID, OfferEntry& entry, bool fire);
    // Removes the Summary row of an offer that has no open trade left.
    void removeOrUpdateSummaryRow(const char* offerID, OfferEntry& entry);
    void calculateSummariesFields(const OfferRow* offer, OfferEntry& entry, SummariesRow& summary);
    // Recalculates the existing Summary row and tells its listeners.
    void updateSummaryRow(const OfferRow* offer, OfferEntry& entry);

    TableIndexes& indexes() { return m_indexes; }

private:
    void attachTrade(TradeRow& trade);
    void detachTrade(TradeRow& trade);
    void indexOrder(OrderRow& order);
    void unindexOrder(OrderRow& order);
    void refreshOrdersOf(const char* tradeID, const char* requestID, const OrderRow* except);
    int summaryDivisor(const char* offerID) const;

    TablesManager& m_manager;
    InstrumentsTable& m_instruments;
    OffersTableT& m_offers;
    AccountsTableT& m_accounts;
    OrdersTableT& m_orders;
    TradesTableT& m_trades;
    SummaryTableT& m_summary;
    TableIndexes m_indexes;
    // A tick's recalculation: accounts to report once it is through.
    bool m_inTick = false;
    uint64_t m_tickSerial = 0;  // marks the accounts already in m_tickAccounts
    std::vector<AccountEntry*> m_tickAccounts;
};

// Stores the calculated numbers of one row, then its change bits and calculated
// flags together: one read and at most one write of the change mask per row. Each
// column is stored at most once between construction and commit.
template <class Row>
class CalculatedCells {
public:
    explicit CalculatedCells(Row& row) : m_row(row), m_calculated(row.calculatedMask()) {}
    CalculatedCells(const CalculatedCells&) = delete;
    CalculatedCells& operator=(const CalculatedCells&) = delete;

    void store(double& cell, int column, double value, bool calculated = true)
    {
        if (!calculated)
            value = 0;
        const double before = cellValue(cell);
        storeCellValue(cell, value);
        const uint64_t bit = uint64_t{1} << column;
        const bool was = (m_calculated & bit) != 0;
        if (before != value || was != calculated)
            m_set |= bit;
        else
            m_clear |= bit;
        m_calculated = calculated ? (m_calculated | bit) : (m_calculated & ~bit);
    }
    void commit()
    {
        m_row.updateChangeMask(m_set, m_clear);
        m_row.setCalculatedMask(m_calculated);
    }

private:
    Row& m_row;
    uint64_t m_calculated;
    uint64_t m_set = 0;
    uint64_t m_clear = 0;
};

// Stores a calculated number: the change bit says whether it differs from the value
// held before, the calculated flag whether it is a value at all.
template <class Row>
void storeCalculated(Row& row, double& cell, int column, double value, bool calculated = true)
{
    CalculatedCells<Row> cells(row);
    cells.store(cell, column, value, calculated);
    cells.commit();
}

} // namespace zel
