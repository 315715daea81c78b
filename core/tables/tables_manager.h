#pragma once
// The owner of the session's tables. It always holds the two internal tables
// (instruments, account properties), whatever the mode; the seven live tables exist
// while the mode is 1 (tables only) or 2 (tables and readers), together with their
// calculations and the listener that applies the server's pushed updates.
//
// Ownership: reference counted; the session, the trade desk and the reader factories
// hold it. The session is a plain back pointer (setSession), cleared by the session.
// [Threading] The internal tables are thread-safe; the settings are atomics or read
// under the manager's mutex, and so are the table references. Changes to the live
// tables are serialised by writeMutex() (see generic_table.h).

#include <atomic>
#include <memory>
#include <string>
#include <tuple>

#include "core/base/mutex.h"
#include "core/base/ref_ptr.h"
#include "core/tables/accounts_properties_table.h"
#include "core/tables/generic_table.h"
#include "core/tables/instruments_table.h"
#include "core/tables/live_table.h"
#include "core/tables/rows.h"
#include "vorntool/add_ref.h"
#include "zel/response_listener.h"
#include "zel/session.h"
#include "zel/tables.h"

namespace zel {

using OffersTable = TGenericTables<IZelOffersTable, OfferRow>;
using AccountsTable = TGenericTables<IZelAccountsTable, AccountRow>;
using OrdersTable = TGenericTables<IZelOrdersTable, OrderRow>;
using TradesTable = TGenericTables<IZelTradesTable, TradeRow>;
using ClosedTradesTable = TGenericTables<IZelClosedTradesTable, ClosedTradeRow>;
using MessagesTable = TGenericTables<IZelMessagesTable, MessageRow>;
using SummaryTable = TGenericTables<IZelSummaryTable, SummariesRow>;

class TableCalculations;

class TablesManager : public TThreadSafeAddRefImpl<IZelTableManager>, public TableOwner {
public:
    explicit TablesManager(ZelTableManagerMode mode = ZelTableManagerMode::NoTableManager);

    // ---- IZelTableManager ----
    IZelTable* getTable(ZelTable table) override;
    IZelTable* getDetailedTable(ZelTable, const char*) override { return nullptr; }

    // Add a reference: the caller releases them.
    InstrumentsTable* getInstruments() const { return m_instruments.share(); }
    AccountsPropertiesTable* getAccountsProperties() const { return m_accountsProperties.share(); }
    // Without a reference; live as long as the manager.
    InstrumentsTable* instruments() const { return m_instruments.get(); }
    AccountsPropertiesTable* accountsProperties() const { return m_accountsProperties.get(); }

    ZelTableManagerMode getMode() const { return m_mode.load(); }
    // Only stores the mode (readers' factories consult it); setTableManagerMode also
    // creates or drops the live tables.
    void setMode(ZelTableManagerMode mode) { m_mode.store(mode); }
    // Modes 1 and 2 create the seven tables, their calculations and the updates
    // listener (subscribed to the session first of all listeners); mode 0 drops them.
    void setTableManagerMode(ZelTableManagerMode mode);
    ZelTableManagerMode getTableManagerMode() const { return getMode(); }

    std::string getAccountCurrency() const;
    void setAccountCurrency(const char* currency);
    int getBaseUnitSize() const { return m_baseUnitSize.load(); }
    void setBaseUnitSize(int size)
    {
        m_baseUnitSize.store(size);
        m_settingsVersion.fetch_add(1, std::memory_order_acq_rel);
    }
    // Moves on whenever the account currency or the base unit size is set.
    uint64_t settingsVersion() const { return m_settingsVersion.load(std::memory_order_acquire); }
    // The text form, as the system properties carry it; not a number counts as 0.
    void setBaseUnitSize(const char* size);

    // Not reference counted: the session clears it before it goes.
    void setSession(IZelSession* session);
    IZelSession* getSession() const;
    // The readers for the session's answers and pushed updates, whatever its status:
    // what arrives while it reconnects (resent updates, a refresh's answer) must
    // still reach the live tables. Null without a session.
    RefPtr<IZelResponseReaderFactory> readerFactory() const;

    // The live tables, each with a reference for the caller, or null in mode 0.
    RefPtr<OffersTable> getOffers() const;
    RefPtr<AccountsTable> getAccounts() const;
    RefPtr<OrdersTable> getOrders() const;
    RefPtr<TradesTable> getTrades() const;
    RefPtr<ClosedTradesTable> getClosedTrades() const;
    RefPtr<MessagesTable> getMessages() const;
    RefPtr<SummaryTable> getSummary() const;

    // The live table of a row class with a reference for the caller, or null while
    // the table manager does not keep that table (the table parsers fill it).
    template <class Row>
    RefPtr<ILiveTable<Row>> liveTable() const
    {
        LockGuard<Mutex> lock(m_mutex);
        return std::get<RefPtr<ILiveTable<Row>>>(m_liveTables);
    }
    // Takes a reference on the table; null removes the one held. For tests that
    // stand in a table of their own.
    template <class Row>
    void setLiveTable(ILiveTable<Row>* table)
    {
        RefPtr<ILiveTable<Row>> held(table);
        LockGuard<Mutex> lock(m_mutex);
        std::swap(std::get<RefPtr<ILiveTable<Row>>>(m_liveTables), held);
    }

    // ---- TableOwner ----
    RecursiveMutex& writeMutex() override { return m_writeMutex; }
    void refreshTable(ZelTable table) override;
    // Sets a live table's status and fires its status event; nothing in mode 0.
    void setTableStatus(ZelTable table, ZelTableStatus status);

    // Applies the entries of a pushed update in order (the updates listener calls it).
    void processTablesUpdates(IZelResponse* response);

protected:
    ~TablesManager() override;

private:
    struct LiveTables;
    std::shared_ptr<LiveTables> tables() const;
    void dropTables();

    RefPtr<InstrumentsTable> m_instruments;
    RefPtr<AccountsPropertiesTable> m_accountsProperties;
    std::atomic<ZelTableManagerMode> m_mode;
    mutable Mutex m_mutex;
    std::string m_accountCurrency ZEL_GUARDED_BY(m_mutex);
    IZelSession* m_session ZEL_GUARDED_BY(m_mutex) = nullptr;
    std::shared_ptr<LiveTables> m_tables ZEL_GUARDED_BY(m_mutex);
    RefPtr<IZelResponseListener> m_updatesListener ZEL_GUARDED_BY(m_mutex);
    std::tuple<RefPtr<ILiveTable<OfferRow>>, RefPtr<ILiveTable<AccountRow>>, RefPtr<ILiveTable<OrderRow>>,
               RefPtr<ILiveTable<TradeRow>>, RefPtr<ILiveTable<ClosedTradeRow>>, RefPtr<ILiveTable<MessageRow>>>
        m_liveTables ZEL_GUARDED_BY(m_mutex);
    std::atomic<int> m_baseUnitSize{0};
    std::atomic<uint64_t> m_settingsVersion{1};
    RecursiveMutex m_writeMutex;
};

} // namespace zel
