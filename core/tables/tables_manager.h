#pragma once
// The owner of the session's tables. It always holds the two internal tables
// (instruments, account properties), whatever the mode; the live trading tables
// join it when the table manager is switched on (setLiveTable), and a table that
// has not joined is null.
//
// Ownership: reference counted; the trade desk and the reader factories hold it.
// [Threading] The two tables are thread-safe; the settings are atomics or read
// under the manager's mutex, and so are the live-table references.

#include <atomic>
#include <string>
#include <tuple>

#include "core/base/mutex.h"
#include "core/base/ref_ptr.h"
#include "core/tables/accounts_properties_table.h"
#include "core/tables/instruments_table.h"
#include "core/tables/live_table.h"
#include "vorntool/add_ref.h"
#include "zel/session.h"

namespace zel {

class OfferRow;
class AccountRow;
class OrderRow;
class TradeRow;
class ClosedTradeRow;
class MessageRow;

class TablesManager : public CThreadSafeAddRefImpl {
public:
    explicit TablesManager(ZelTableManagerMode mode = ZelTableManagerMode::NoTableManager);

    // Add a reference: the caller releases them.
    InstrumentsTable* getInstruments() const { return m_instruments.share(); }
    AccountsPropertiesTable* getAccountsProperties() const { return m_accountsProperties.share(); }
    // Without a reference; live as long as the manager.
    InstrumentsTable* instruments() const { return m_instruments.get(); }
    AccountsPropertiesTable* accountsProperties() const { return m_accountsProperties.get(); }

    ZelTableManagerMode getMode() const { return m_mode.load(); }
    void setMode(ZelTableManagerMode mode) { m_mode.store(mode); }
    std::string getAccountCurrency() const;
    void setAccountCurrency(const char* currency);
    int getBaseUnitSize() const { return m_baseUnitSize.load(); }
    void setBaseUnitSize(int size) { m_baseUnitSize.store(size); }

    // The live table of a row class with a reference for the caller, or null while
    // the table manager does not keep that table.
    template <class Row>
    RefPtr<ILiveTable<Row>> liveTable() const
    {
        LockGuard<Mutex> lock(m_mutex);
        return std::get<RefPtr<ILiveTable<Row>>>(m_liveTables);
    }
    // Takes a reference on the table; null removes the one held.
    template <class Row>
    void setLiveTable(ILiveTable<Row>* table)
    {
        RefPtr<ILiveTable<Row>> held(table);
        LockGuard<Mutex> lock(m_mutex);
        std::swap(std::get<RefPtr<ILiveTable<Row>>>(m_liveTables), held);
    }

protected:
    ~TablesManager() override = default;

private:
    RefPtr<InstrumentsTable> m_instruments;
    RefPtr<AccountsPropertiesTable> m_accountsProperties;
    std::atomic<ZelTableManagerMode> m_mode;
    mutable Mutex m_mutex;
    std::string m_accountCurrency ZEL_GUARDED_BY(m_mutex);
    std::tuple<RefPtr<ILiveTable<OfferRow>>, RefPtr<ILiveTable<AccountRow>>, RefPtr<ILiveTable<OrderRow>>,
               RefPtr<ILiveTable<TradeRow>>, RefPtr<ILiveTable<ClosedTradeRow>>, RefPtr<ILiveTable<MessageRow>>>
        m_liveTables ZEL_GUARDED_BY(m_mutex);
    std::atomic<int> m_baseUnitSize{0};
};

} // namespace zel
