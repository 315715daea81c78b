// An account's calculated columns: GrossPL is the sum of its open trades' GrossPL
// (kept in the account's index entry, so an account row that arrives after its
// trades, or replaces an older row, starts from the right total).

#include "core/tables/table_calculations.h"

namespace zel {

void TableCalculations::rowAdded(AccountRow* account)
{
    AccountEntry& entry = m_indexes.account(account->record().AccountID.c_str());
    entry.row = RefPtr<AccountRow>(account);
    calculateAccountsFields(*account, entry.grossPL);
}

void TableCalculations::rowChanged(AccountRow* account, AccountRow*)
{
    AccountEntry& entry = m_indexes.account(account->record().AccountID.c_str());
    entry.row = RefPtr<AccountRow>(account);
    calculateAccountsFields(*account, entry.grossPL);
}

void TableCalculations::rowDeleted(AccountRow* account)
{
    // The total stays with the index entry: the account's trades are still open.
    m_indexes.account(account->record().AccountID.c_str()).row.reset();
}

void TableCalculations::addAccountGross(AccountEntry& entry, double delta, bool fire)
{
    entry.grossPL += delta;
    if (AccountRow* account = entry.row.get()) {
        calculateAccountsFields(*account, entry.grossPL);
        if (fire)
            m_accounts.fireRowChanged(account);
    }
}

void TableCalculations::calculateAccountsFields(AccountRow& account, double grossPL)
{
    Account& a = account.record();
    const double equity = cellValue(a.Balance) + grossPL;
    CalculatedCells<AccountRow> cells(account);
    cells.store(a.GrossPL, AccountColumns::GrossPL, grossPL);
    cells.store(a.Equity, AccountColumns::Equity, equity);
    cells.store(a.UsableMargin, AccountColumns::UsableMargin, equity - cellValue(a.UsedMargin));
    cells.store(a.DayPL, AccountColumns::DayPL, equity - cellValue(a.M2MEquity) - cellValue(a.NonTradeEquity));
    cells.commit();
}

} // namespace zel
