#include "core/tables/tables_manager.h"

#include <cstdlib>

#include "core/session/zel_session.h"
#include "core/tables/table_calculations.h"
#include "core/tables/tables_updates_listener.h"
#include "zel/response_reader_factory.h"

namespace zel {

namespace {

// The updates listener hears every message before the application's listeners.
void subscribeFirst(IZelSession* session, IZelResponseListener* listener)
{
    if (auto* zel = dynamic_cast<CZelSession*>(session))
        zel->subscribeMessageListenerAsFirst(listener);
    else if (session != nullptr)
        session->subscribeResponse(listener);
}

} // namespace

struct TablesManager::LiveTables {
    explicit LiveTables(TablesManager* owner)
        : offers(new OffersTable(owner), RefPtr<OffersTable>::adopt),
          accounts(new AccountsTable(owner), RefPtr<AccountsTable>::adopt),
          orders(new OrdersTable(owner), RefPtr<OrdersTable>::adopt),
          trades(new TradesTable(owner), RefPtr<TradesTable>::adopt),
          closedTrades(new ClosedTradesTable(owner), RefPtr<ClosedTradesTable>::adopt),
          messages(new MessagesTable(owner), RefPtr<MessagesTable>::adopt),
          summary(new SummaryTable(owner), RefPtr<SummaryTable>::adopt),
          calculations(std::make_unique<TableCalculations>(*owner, *offers, *accounts, *orders, *trades, *summary))
    {
        offers->setCalculation(calculations.get());
        accounts->setCalculation(calculations.get());
        orders->setCalculation(calculations.get());
        trades->setCalculation(calculations.get());
    }
    // Detaches the calculations: an application may keep a table beyond its manager.
    void detach()
    {
        offers->setCalculation(nullptr);
        accounts->setCalculation(nullptr);
        orders->setCalculation(nullptr);
        trades->setCalculation(nullptr);
    }

    RefPtr<OffersTable> offers;
    RefPtr<AccountsTable> accounts;
    RefPtr<OrdersTable> orders;
    RefPtr<TradesTable> trades;
    RefPtr<ClosedTradesTable> closedTrades;
    RefPtr<MessagesTable> messages;
    RefPtr<SummaryTable> summary;
    std::unique_ptr<TableCalculations> calculations;
};

TablesManager::TablesManager(ZelTableManagerMode mode)
    : m_instruments(adoptRef(new InstrumentsTable())),
      m_accountsProperties(adoptRef(new AccountsPropertiesTable())),
      m_mode(mode)
{
    // The event lists of the tables lock the creating thread's data.
    Cpp::Threading::constructThreadData();
    if (mode != ZelTableManagerMode::NoTableManager)
        setTableManagerMode(mode);
}

TablesManager::~TablesManager()
{
    setTableManagerMode(ZelTableManagerMode::NoTableManager);
}

std::string TablesManager::getAccountCurrency() const
{
    LockGuard<Mutex> lock(m_mutex);
    return m_accountCurrency;
}

void TablesManager::setAccountCurrency(const char* currency)
{
    LockGuard<Mutex> lock(m_mutex);
    m_accountCurrency = currency ? currency : "";
    m_settingsVersion.fetch_add(1, std::memory_order_acq_rel);
}

void TablesManager::setBaseUnitSize(const char* size)
{
    setBaseUnitSize(size != nullptr ? static_cast<int>(std::strtol(size, nullptr, 10)) : 0);
}

void TablesManager::setSession(IZelSession* session)
{
    RefPtr<IZelResponseListener> listener;
    IZelSession* previous = nullptr;
    {
        LockGuard<Mutex> lock(m_mutex);
        previous = m_session;
        m_session = session;
        listener = m_updatesListener;
    }
    if (!listener || previous == session)
        return;
    if (previous != nullptr)
        previous->unsubscribeResponse(listener.get());
    subscribeFirst(session, listener.get());
}

IZelSession* TablesManager::getSession() const
{
    LockGuard<Mutex> lock(m_mutex);
    return m_session;
}

void TablesManager::setTableManagerMode(ZelTableManagerMode mode)
{
    m_mode.store(mode);
    if (mode != ZelTableManagerMode::NoTableManager) {
        IZelSession* session = nullptr;
        RefPtr<TablesUpdatesListener> listener;
        {
            LockGuard<Mutex> lock(m_mutex);
            if (m_updatesListener)
                return;
            auto tables = std::make_shared<LiveTables>(this);
            m_tables = tables;
            std::get<RefPtr<ILiveTable<OfferRow>>>(m_liveTables) = tables->offers;
            std::get<RefPtr<ILiveTable<AccountRow>>>(m_liveTables) = tables->accounts;
            std::get<RefPtr<ILiveTable<OrderRow>>>(m_liveTables) = tables->orders;
            std::get<RefPtr<ILiveTable<TradeRow>>>(m_liveTables) = tables->trades;
            std::get<RefPtr<ILiveTable<ClosedTradeRow>>>(m_liveTables) = tables->closedTrades;
            std::get<RefPtr<ILiveTable<MessageRow>>>(m_liveTables) = tables->messages;
            listener = adoptRef(new TablesUpdatesListener(this));
            m_updatesListener = listener;
            session = m_session;
        }
        subscribeFirst(session, listener.get());
        return;
    }
    dropTables();
}

void TablesManager::dropTables()
{
    std::shared_ptr<LiveTables> tables;
    RefPtr<IZelResponseListener> listener;
    IZelSession* session = nullptr;
    {
        LockGuard<Mutex> lock(m_mutex);
        tables = std::move(m_tables);
        listener = std::move(m_updatesListener);
        session = m_session;
        m_liveTables = {};
    }
    if (listener) {
        if (session != nullptr)
            session->unsubscribeResponse(listener.get());
        static_cast<TablesUpdatesListener*>(listener.get())->detach();
    }
    if (tables) {
        LockGuard<RecursiveMutex> write(m_writeMutex);
        tables->detach();
    }
}

std::shared_ptr<TablesManager::LiveTables> TablesManager::tables() const
{
    LockGuard<Mutex> lock(m_mutex);
    return m_tables;
}

IZelTable* TablesManager::getTable(ZelTable table)
{
    std::shared_ptr<LiveTables> t = tables();
    if (!t)
        return nullptr;
    IZelTable* result = nullptr;
    switch (table) {
    case ZelTable::Offers:
        result = t->offers.get();
        break;
    case ZelTable::Accounts:
        result = t->accounts.get();
        break;
    case ZelTable::Orders:
        result = t->orders.get();
        break;
    case ZelTable::Trades:
        result = t->trades.get();
        break;
    case ZelTable::ClosedTrades:
        result = t->closedTrades.get();
        break;
    case ZelTable::Messages:
        result = t->messages.get();
        break;
    case ZelTable::Summary:
        result = t->summary.get();
        break;
    default:
        return nullptr;
    }
    result->addRef();
    return result;
}

#define ZEL_TABLE_GETTER(Getter, Type, member)        \
    RefPtr<Type> TablesManager::Getter() const        \
    {                                                 \
        std::shared_ptr<LiveTables> t = tables();     \
        return t ? t->member : RefPtr<Type>();        \
    }
ZEL_TABLE_GETTER(getOffers, OffersTable, offers)
ZEL_TABLE_GETTER(getAccounts, AccountsTable, accounts)
ZEL_TABLE_GETTER(getOrders, OrdersTable, orders)
ZEL_TABLE_GETTER(getTrades, TradesTable, trades)
ZEL_TABLE_GETTER(getClosedTrades, ClosedTradesTable, closedTrades)
ZEL_TABLE_GETTER(getMessages, MessagesTable, messages)
ZEL_TABLE_GETTER(getSummary, SummaryTable, summary)
#undef ZEL_TABLE_GETTER

namespace {

template <class Row, class IRow, class Table>
void applyEntry(Table* table, IRow* row, ZelTableUpdateType type)
{
    RefPtr<IRow> held(row, RefPtr<IRow>::adopt);
    auto* concrete = dynamic_cast<Row*>(row);
    if (table == nullptr || concrete == nullptr)
        return;
    switch (type) {
    case ZelTableUpdateType::Insert:
        table->add(concrete);
        break;
    case ZelTableUpdateType::Update:
        table->update(concrete);
        break;
    case ZelTableUpdateType::Delete:
        table->remove(concrete);
        break;
    default:
        break;
    }
}

} // namespace

RefPtr<IZelResponseReaderFactory> TablesManager::readerFactory() const
{
    IZelSession* session = getSession();
    if (session == nullptr)
        return nullptr;
    auto* zel = dynamic_cast<CZelSession*>(session);
    return RefPtr<IZelResponseReaderFactory>(zel ? zel->updatesReaderFactory() : session->getResponseReaderFactory(),
                                             RefPtr<IZelResponseReaderFactory>::adopt);
}

void TablesManager::processTablesUpdates(IZelResponse* response)
{
    IZelSession* session = getSession();
    std::shared_ptr<LiveTables> t = tables();
    if (session == nullptr || !t || response == nullptr)
        return;
    // Updates the server resends after a cut arrive before the session is Connected
    // again, when the public factory is withheld: they must not be lost.
    auto* zel = dynamic_cast<CZelSession*>(session);
    RefPtr<IZelResponseReaderFactory> factory = readerFactory();
    if (!factory)
        return;
    RefPtr<IZelTablesUpdatesReader> reader(factory->createTablesUpdatesReader(response),
                                           RefPtr<IZelTablesUpdatesReader>::adopt);
    if (!reader)
        return;
    if (zel)
        zel->setServerTime(reader->getServerTime());
    const int n = reader->size();
    for (int i = 0; i < n; ++i) {
        const ZelTable table = reader->getUpdateTable(i);
        const int id = static_cast<int>(table);
        // The Summary is never updated from the server.
        if (id < 0 || id > 5)
            continue;
        const ZelTableUpdateType type = reader->getUpdateType(i);
        if (type == ZelTableUpdateType::Unknown)
            continue;
        switch (table) {
        case ZelTable::Offers:
            applyEntry<OfferRow>(t->offers.get(), reader->getOfferRow(i), type);
            break;
        case ZelTable::Accounts:
            applyEntry<AccountRow>(t->accounts.get(), reader->getAccountRow(i), type);
            break;
        case ZelTable::Orders:
            applyEntry<OrderRow>(t->orders.get(), reader->getOrderRow(i), type);
            break;
        case ZelTable::Trades:
            applyEntry<TradeRow>(t->trades.get(), reader->getTradeRow(i), type);
            break;
        case ZelTable::ClosedTrades:
            applyEntry<ClosedTradeRow>(t->closedTrades.get(), reader->getClosedTradeRow(i), type);
            break;
        case ZelTable::Messages:
            applyEntry<MessageRow>(t->messages.get(), reader->getMessageRow(i), type);
            break;
        default:
            break;
        }
    }
}

} // namespace zel
